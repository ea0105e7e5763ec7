#include "record/column_writers.hpp"

#include <array>

#include "core/shown_text.hpp"
#include "record/owner.hpp"
#include "record/record_writer.hpp"
#include "record/stream_line.hpp"
#include "record/time_fields.hpp"

namespace filarix {

std::size_t write_size_column(OutStream& out, std::int64_t size, char delimiter, bool varies) {
    // Without printf's parser: the record writer runs for every entry.
    char text[32];
    char* const end = text + sizeof text;
    char* at = end;
    *--at = delimiter;
    auto magnitude = size < 0 ? 0 - static_cast<unsigned long long>(size)
                              : static_cast<unsigned long long>(size);
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (size < 0) *--at = '-';
    if (!varies) {
        while (end - at < 21) *--at = ' ';
        *--at = ' ';
    }
    return out.put(std::string_view(at, static_cast<std::size_t>(end - at)));
}

namespace {

using Spec = const ColumnSpec&;

bool categorised(const RunSettings& s) {
    return s.signature_check == 1 || s.signature_check == 2;
}

constexpr ColumnWriters digest_writers(DigestId id) {
    return {
        digest_column(id),
        // One read of the file feeds every digest asked for.
        [](RecordWriter& w, Spec c) {
            const int width = digest_row(*c.digest).width;
            w.count(
                w.out_.printf(" %*.*s%c", width, width, w.digests().of(*c.digest).c_str(), w.d_));
        },
        // Directory streams are never read: their digest places stay
        // blank, the CRC's alone filled.
        [](StreamLine& l, Spec c) {
            const int width = digest_row(*c.digest).width;
            if (!l.directory_)
                l.out_.printf(" %*.*s%c", width, width, l.digests().of(*c.digest).c_str(), l.d_);
            else if (*c.digest == DigestId::crc)
                l.out_.printf("%.9s%c", "         ", l.d_);
        },
    };
}

constexpr ColumnWriters leading[] = {
    {Column::sequence,
     [](RecordWriter& w, Spec) {
         w.count(w.out_.printf(
             "%06llu%c", static_cast<unsigned long long>(w.run_.counts.sequence_counter++), w.d_));
     },
     nullptr},
    {Column::label,
     [](RecordWriter& w, Spec) { w.count(w.out_.printf("%s%c", w.s_.label_text.c_str(), w.d_)); },
     nullptr},
    {Column::comment,
     [](RecordWriter& w, Spec) {
         w.count(w.out_.printf("%s%c", w.run_.sys.narrow(w.s_.comment_text).c_str(), w.d_));
     },
     [](StreamLine& l, Spec) {
         l.out_.printf("%s%c", l.run_.sys.narrow(l.s_.comment_text).c_str(), l.d_);
     }},
    {Column::path, [](RecordWriter& w, Spec) { w.write_path_column(); },
     [](StreamLine& l, Spec) { l.path_column(); }},
    // A stream line keeps the fixed width under VAR too.
    {Column::size,
     [](RecordWriter& w, Spec) {
         w.count(static_cast<int>(write_size_column(
             w.out_, static_cast<std::int64_t>(w.e_.data.size), w.d_, w.s_.VAR != 0)));
     },
     [](StreamLine& l, Spec) {
         write_size_column(l.out_, static_cast<std::int64_t>(l.stream->size), l.d_, false);
     }},
    {Column::attributes,
     [](RecordWriter& w, Spec) {
         w.count(static_cast<int>(w.out_.put(w.e_.attr_letters)));
         w.count(static_cast<int>(w.out_.put('.')));
         w.count(static_cast<int>(w.out_.put(w.d_)));
     },
     [](StreamLine& l, Spec) { l.out_.printf(l.directory_ ? "Dadata%c" : ".adata.%c", l.d_); }},
    {Column::category,
     [](RecordWriter& w, Spec) {
         if (categorised(w.s_))
             w.count(w.out_.printf(" %3.3s%c", w.e_.category_text.c_str(), w.d_));
         else
             w.count(w.out_.printf("    %c", w.d_));
     },
     [](StreamLine& l, Spec) {
         if (categorised(l.s_)) l.out_.printf("%.4s%c", "    ", l.d_);
     }},
};

constexpr ColumnWriters trailing[] = {
    // On a stream line the fixed filler stands in its place.
    {Column::digest_blank,
     [](RecordWriter& w, Spec) { w.count(w.out_.printf("%*.*s%c", 10, 10, "", w.d_)); }, nullptr},
    {Column::creation_time,
     [](RecordWriter& w, Spec) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.creation, 'c')));
     },
     [](StreamLine& l, Spec) { l.time_column(l.times_.creation, 'c'); }},
    {Column::write_time,
     [](RecordWriter& w, Spec) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.write, 'w')));
     },
     [](StreamLine& l, Spec) { l.time_column(l.times_.write, 'w'); }},
    {Column::access_time,
     [](RecordWriter& w, Spec) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.access, 'a')));
     },
     [](StreamLine& l, Spec) { l.time_column(l.times_.access, 'a'); }},
    {Column::zone,
     [](RecordWriter& w, Spec) { w.count(static_cast<int>(write_zone_column(w.run_, w.out_))); },
     [](StreamLine& l, Spec) { l.zone_column(); }},
    {Column::volume_serial,
     [](RecordWriter& w, Spec) {
         w.count(w.out_.printf("%11.11s%c", w.run_.layout.volume_id_text.c_str(), w.d_));
     },
     [](StreamLine& l, Spec) {
         l.out_.printf("%11.11s%c", l.run_.layout.volume_id_text.c_str(), l.d_);
     }},
    {Column::volume_label,
     [](RecordWriter& w, Spec) {
         w.count(w.out_.printf("%12.12s%c",
                               shown_name(w.run_.sys, w.run_.layout.volume_label).c_str(), w.d_));
     },
     [](StreamLine& l, Spec) {
         l.out_.printf("%12.12s%c", l.run_.sys.narrow(l.run_.layout.volume_label).c_str(), l.d_);
     }},
    {Column::names, [](RecordWriter& w, Spec) { w.write_name_columns(); },
     [](StreamLine& l, Spec) { l.name_columns(); }},
    {Column::owner,
     [](RecordWriter& w, Spec) {
         w.count(w.out_.printf(" %32.32s%c", owner_of_path(w.run_, w.e_.pg_complete_path).c_str(),
                               w.d_));
     },
     [](StreamLine& l, Spec) {
         l.out_.printf(" %32.32s%c", owner_of_path(l.run_, l.owner_path).c_str(), l.d_);
     }},
    {Column::name_after, [](RecordWriter& w, Spec) { w.write_name_after(); },
     [](StreamLine& l, Spec) { l.name_after_column(); }},
    // The length as the user sees it, without the long-path prefix.
    {Column::path_length,
     [](RecordWriter& w, Spec) {
         const std::size_t shown = w.run_.syntax.without_long_prefix(w.e_.pg_complete_path).size();
         w.count(w.out_.printf("Len=%3d%c", static_cast<int>(shown), w.d_));
     },
     [](StreamLine& l, Spec) {
         if (!l.directory_)
             l.out_.printf("Len=%d%c", static_cast<int>(l.entry->pg_complete_path.size()), l.d_);
     }},
};

constexpr std::array<ColumnWriters, column_count> build_table() {
    std::array<ColumnWriters, column_count> table{};
    std::size_t n = 0;
    for (const ColumnWriters& c : leading) table[n++] = c;
    for (std::size_t i = 0; i < digest_count; ++i)
        table[n++] = digest_writers(static_cast<DigestId>(i));
    for (const ColumnWriters& c : trailing) table[n++] = c;
    return table;
}

constexpr std::array<ColumnWriters, column_count> table = build_table();

// Every column has its writers, in the descriptors' order.
constexpr bool table_in_order() {
    if (std::size(leading) + digest_count + std::size(trailing) != column_count) return false;
    for (std::size_t i = 0; i < column_count; ++i)
        if (column_index(table[i].id) != i || !table[i].record) return false;
    return true;
}
static_assert(table_in_order());

}  // namespace

const ColumnWriters& column_writers(Column c) {
    return table[column_index(c)];
}

}  // namespace filarix
