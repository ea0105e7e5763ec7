#include "record/column_writers.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/shown_text.hpp"
#include "record/owner.hpp"
#include "record/process_entry.hpp"
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
        // Twenty places and the delimiter, then a blank.
        char* const padded = end - 21;
        if (at > padded) {
            std::fill(padded, at, ' ');
            at = padded;
        }
        *--at = ' ';
    }
    return out.put(std::string_view(at, static_cast<std::size_t>(end - at)));
}

namespace {

using Desc = const ColumnDescriptor&;

// printf's "%*.*s%c", after a blank when `lead`, without its parser: the
// record writer runs for every entry. The count printf would give.
int put_right(OutStream& out, std::string_view text, int width, char delimiter, bool lead) {
    char field[256];
    const auto w = static_cast<std::size_t>(std::max(width, 0));
    if (w + 2 > sizeof field)
        return lead ? out.printf(" %*.*s%c", width, width, std::string(text).c_str(), delimiter)
                    : out.printf("%*.*s%c", width, width, std::string(text).c_str(), delimiter);
    text = text.substr(0, std::min(w, text.find('\0')));
    char* at = field;
    if (lead) *at++ = ' ';
    at = std::fill_n(at, w - text.size(), ' ');
    at = std::copy(text.begin(), text.end(), at);
    *at++ = delimiter;
    return static_cast<int>(out.put(std::string_view(field, static_cast<std::size_t>(at - field))));
}

bool categorised(const RunSettings& s) {
    return s.signature_check != signature_none;
}

// The fields every kind of row takes from the run alike.
constexpr auto row_label = [](auto& source, TableRow& row, Desc) {
    row.text(Field::label, source.run_.s.label_text);
};
constexpr auto row_comment = [](auto& source, TableRow& row, Desc) {
    row.name(Field::comment, source.run_.syntax, source.run_.s.comment_text);
};
constexpr auto row_volume_serial = [](auto& source, TableRow& row, Desc) {
    row.text(Field::volume_serial, source.run_.layout.volume_id_text);
};
constexpr auto row_volume_label = [](auto& source, TableRow& row, Desc) {
    row.name(Field::volume_label, source.run_.syntax, source.run_.layout.volume_label);
};
constexpr auto row_zone = [](auto& source, TableRow& row, Desc) {
    row.text(Field::zone, source.run_.s.ZULU ? std::string("Z") : source.run_.zone_name);
};

// A time field of an entry's or a stream's row.
template <platform::FileTicks TimesRecord::*raw>
void time_field(Run& run, const TimesRecord& times, TableRow& row, Desc c) {
    row.time(c.fields[0], iso_time(run, times.*raw, run.s.ZULU != 0));
}
template <platform::FileTicks TimesRecord::*raw>
void entry_time(RecordWriter& w, TableRow& row, Desc c) {
    time_field<raw>(w.run_, w.e_.times, row, c);
}
template <platform::FileTicks TimesRecord::*raw>
void stream_time(StreamLine& l, TableRow& row, Desc c) {
    time_field<raw>(l.run_, l.times_, row, c);
}

constexpr ColumnWriters digest_writers(DigestId id) {
    return {
        digest_column(id),
        // One read of the file feeds every digest asked for.
        [](RecordWriter& w, Desc c) {
            const int width = digest_row(*c.digest).width;
            w.count(put_right(w.out_, w.digests().of(*c.digest), width, w.d_, true));
        },
        // Directory streams are never read: their digest places stay
        // blank, the CRC's alone filled.
        [](StreamLine& l, Desc c) {
            const int width = digest_row(*c.digest).width;
            if (!l.directory_)
                l.out_.printf(" %*.*s%c", width, width, l.digests().of(*c.digest).c_str(), l.d_);
            else if (*c.digest == DigestId::crc)
                l.out_.printf("%.9s%c", "         ", l.d_);
        },
        // Only a file's contents have a digest: a directory's or a link's
        // field stays empty (null), so that no query takes them for empty
        // files.
        [](RecordWriter& w, TableRow& row, Desc c) {
            if (!w.is_directory_ && !w.is_link_) row.text(c.fields[0], w.digests().of(*c.digest));
        },
        [](StreamLine& l, TableRow& row, Desc c) {
            if (!l.directory_) row.text(c.fields[0], l.digests().of(*c.digest));
        },
        // The archive keeps each member's CRC-32; no other digest is at hand.
        [](const MemberLine& m, TableRow& row, Desc c) {
            if (*c.digest != DigestId::crc) return;
            char crc[16];
            std::snprintf(crc, sizeof crc, "%08X", unsigned(m.member.crc32));
            row.text(c.fields[0], crc);
        },
    };
}

constexpr ColumnWriters leading[] = {
    // Streams and ZIP members are not compared: their place stays blank.
    {Column::change,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf("%c%c", w.change_ ? w.change_->letter : ' ', w.d_));
     },
     [](StreamLine& l, Desc) { l.out_.printf(" %c", l.d_); },
     [](RecordWriter& w, TableRow& row, Desc) {
         if (!w.change_) return;
         row.text(Field::change, w.change_->name);
         if (!w.change_->facts.empty()) row.text(Field::changed_facts, w.change_->facts);
         if (!w.change_->moved_from.empty()) row.text(Field::moved_from, w.change_->moved_from);
     },
     nullptr, nullptr},
    // A stream's contents were not compared: its place stays blank.
    {Column::dupe_group,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf("%6llu%c", static_cast<unsigned long long>(w.run_.dupe_row.group),
                               w.d_));
     },
     [](StreamLine& l, Desc) { l.out_.printf("      %c", l.d_); },
     [](RecordWriter& w, TableRow& row, Desc) {
         if (w.run_.dupe_row.group != 0)
             row.number(Field::dupe_group, static_cast<std::int64_t>(w.run_.dupe_row.group));
     },
     nullptr, nullptr},
    {Column::sequence,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf(
             "%06llu%c", static_cast<unsigned long long>(w.run_.counts.sequence_counter++), w.d_));
     },
     nullptr,
     [](RecordWriter& w, TableRow& row, Desc) {
         row.number(Field::sequence, static_cast<std::int64_t>(w.run_.counts.sequence_counter++));
     },
     nullptr, nullptr},
    {Column::label,
     [](RecordWriter& w, Desc) { w.count(w.out_.printf("%s%c", w.s_.label_text.c_str(), w.d_)); },
     nullptr, row_label, row_label, row_label},
    {Column::comment,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf("%s%c", w.run_.sys.narrow(w.s_.comment_text).c_str(), w.d_));
     },
     [](StreamLine& l, Desc) {
         l.out_.printf("%s%c", l.run_.sys.narrow(l.s_.comment_text).c_str(), l.d_);
     },
     row_comment, row_comment, row_comment},
    {Column::path, [](RecordWriter& w, Desc) { w.write_path_column(); },
     [](StreamLine& l, Desc) { l.path_column(); },
     [](RecordWriter& w, TableRow& row, Desc) {
         const platform::PathSyntax& syntax = w.run_.syntax;
         std::u16string path(syntax.without_long_prefix(w.e_.pg_complete_path));
         if (w.s_.drive_letter != 0 && syntax.drive_letters && !path.empty())
             path[drive_offset(syntax, path)] = w.s_.drive_letter;
         row.name(Field::path, syntax, path);
     },
     [](StreamLine& l, TableRow& row, Desc) {
         row.name(Field::path, l.run_.syntax, l.path_without_prefix());
     },
     [](const MemberLine& m, TableRow& row, Desc) {
         row.name(Field::path, m.run_.syntax, m.name);
     }},
    // A stream line keeps the fixed width under VAR too.
    {Column::size,
     [](RecordWriter& w, Desc) {
         w.count(static_cast<int>(write_size_column(
             w.out_, static_cast<std::int64_t>(w.e_.data.size), w.d_, w.s_.VAR != 0)));
     },
     [](StreamLine& l, Desc) {
         write_size_column(l.out_, static_cast<std::int64_t>(l.stream->size), l.d_, false);
     },
     [](RecordWriter& w, TableRow& row, Desc) {
         row.number(Field::size, static_cast<std::int64_t>(w.e_.data.size));
     },
     [](StreamLine& l, TableRow& row, Desc) {
         row.number(Field::size, static_cast<std::int64_t>(l.stream->size));
     },
     // As stored: a ZIP64 size past 2^63 - 1 is no negative number.
     [](const MemberLine& m, TableRow& row, Desc) {
         row.number(Field::size, m.member.uncompressed_size);
     }},
    {Column::attributes,
     // The six letters, a '.' and the delimiter, written at once.
     [](RecordWriter& w, Desc) {
         const std::string& letters = w.e_.attr_letters;
         char text[16];
         if (letters.size() > sizeof text - 2) {
             w.count(static_cast<int>(w.out_.put(letters)));
             w.count(static_cast<int>(w.out_.put('.')));
             w.count(static_cast<int>(w.out_.put(w.d_)));
             return;
         }
         std::copy(letters.begin(), letters.end(), text);
         text[letters.size()] = '.';
         text[letters.size() + 1] = w.d_;
         w.count(static_cast<int>(w.out_.put(std::string_view(text, letters.size() + 2))));
     },
     [](StreamLine& l, Desc) { l.out_.printf(l.directory_ ? "Dadata%c" : ".adata.%c", l.d_); },
     [](RecordWriter& w, TableRow& row, Desc) { row.text(Field::attributes, w.e_.attr_letters); },
     nullptr, nullptr},
    {Column::category,
     [](RecordWriter& w, Desc) {
         if (categorised(w.s_))
             w.count(w.out_.printf(" %3.3s%c", w.e_.category_text.c_str(), w.d_));
         else
             w.count(put_right(w.out_, {}, 3, w.d_, true));
     },
     [](StreamLine& l, Desc) {
         if (categorised(l.s_)) l.out_.printf("%.4s%c", "    ", l.d_);
     },
     [](RecordWriter& w, TableRow& row, Desc) {
         std::string category = w.e_.category_text;
         while (!category.empty() && category.back() == ' ') category.pop_back();
         row.text(Field::category, category);
     },
     nullptr, nullptr},
};

constexpr ColumnWriters trailing[] = {
    // On a stream line the fixed filler stands in its place.
    {Column::digest_blank,
     [](RecordWriter& w, Desc) { w.count(put_right(w.out_, {}, 10, w.d_, false)); }, nullptr,
     nullptr, nullptr, nullptr},
    {Column::creation_time,
     [](RecordWriter& w, Desc) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.creation, 'c')));
     },
     [](StreamLine& l, Desc) { l.time_column(l.times_.creation, 'c'); },
     entry_time<&TimesRecord::raw_creation>, stream_time<&TimesRecord::raw_creation>, nullptr},
    {Column::write_time,
     [](RecordWriter& w, Desc) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.write, 'w')));
     },
     [](StreamLine& l, Desc) { l.time_column(l.times_.write, 'w'); },
     entry_time<&TimesRecord::raw_write>, stream_time<&TimesRecord::raw_write>,
     // A DOS time has no zone, and a date of 0 (or a 30 February) is no
     // time at all: the field stays empty rather than hold a false value.
     [](const MemberLine& m, TableRow& row, Desc) {
         const DosDateTime t = decode_dos_date_time(m.member.dos_date, m.member.dos_time);
         if (is_real_moment(t))
             row.text(Field::modified,
                      iso_local_time(t.year, t.month, t.day, t.hour, t.minute, t.second));
     }},
    {Column::access_time,
     [](RecordWriter& w, Desc) {
         w.count(static_cast<int>(write_time_column(w.run_, w.out_, w.e_.times.access, 'a')));
     },
     [](StreamLine& l, Desc) { l.time_column(l.times_.access, 'a'); },
     entry_time<&TimesRecord::raw_access>, stream_time<&TimesRecord::raw_access>, nullptr},
    {Column::zone,
     [](RecordWriter& w, Desc) { w.count(static_cast<int>(write_zone_column(w.run_, w.out_))); },
     [](StreamLine& l, Desc) { l.zone_column(); }, row_zone, row_zone,
     [](const MemberLine&, TableRow& row, Desc) { row.clear(Field::zone); }},
    // Only a row holds them; streams and ZIP members have none of their own.
    {Column::precise_times, [](RecordWriter&, Desc) {}, nullptr,
     [](RecordWriter& w, TableRow& row, Desc) {
         if (const auto& facts = w.precise_facts()) {
             row.number(Field::modified_ns, facts->modified_ns);
             row.number(Field::change_time_ns, facts->change_time_ns);
         }
     },
     nullptr, nullptr},
    {Column::identity, [](RecordWriter&, Desc) {}, nullptr,
     [](RecordWriter& w, TableRow& row, Desc) {
         if (const auto& facts = w.precise_facts()) {
             row.number(Field::device, facts->device);
             row.number(Field::inode, facts->inode);
             row.number(Field::links, facts->links);
         }
     },
     nullptr, nullptr},
    {Column::volume_serial,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf("%11.11s%c", w.run_.layout.volume_id_text.c_str(), w.d_));
     },
     [](StreamLine& l, Desc) {
         l.out_.printf("%11.11s%c", l.run_.layout.volume_id_text.c_str(), l.d_);
     },
     row_volume_serial, row_volume_serial, row_volume_serial},
    {Column::volume_label,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf("%12.12s%c",
                               shown_name(w.run_.sys, w.run_.layout.volume_label).c_str(), w.d_));
     },
     [](StreamLine& l, Desc) {
         l.out_.printf("%12.12s%c", l.run_.sys.narrow(l.run_.layout.volume_label).c_str(), l.d_);
     },
     row_volume_label, row_volume_label, row_volume_label},
    {Column::names, [](RecordWriter& w, Desc) { w.write_name_columns(); },
     [](StreamLine& l, Desc) { l.name_columns(); },
     [](RecordWriter& w, TableRow& row, Desc) {
         const std::u16string_view own =
             w.has_name_ ? std::u16string_view(w.name_) : std::u16string_view(w.e_.data.name);
         const std::size_t dot = own.rfind(u'.');
         const platform::PathSyntax& syntax = w.run_.syntax;
         row.name(Field::short_name, syntax, w.e_.data.short_name);
         row.name(Field::long_name, syntax, own);
         row.name(Field::extension, syntax,
                  dot == std::u16string_view::npos || dot == 0 ? std::u16string_view()
                                                               : own.substr(dot + 1));
     },
     nullptr, nullptr},
    {Column::owner,
     [](RecordWriter& w, Desc) {
         w.count(w.out_.printf(" %32.32s%c",
                               owner_of_path(w.run_.sys, w.e_.pg_complete_path).c_str(), w.d_));
     },
     [](StreamLine& l, Desc) {
         l.out_.printf(" %32.32s%c", owner_of_path(l.run_.sys, l.owner_path).c_str(), l.d_);
     },
     [](RecordWriter& w, TableRow& row, Desc) {
         row.text(Field::owner, owner_of_path(w.run_.sys, w.e_.pg_complete_path));
     },
     [](StreamLine& l, TableRow& row, Desc) {
         row.text(Field::owner, owner_of_path(l.run_.sys, l.owner_path));
     },
     nullptr},
    {Column::name_after, [](RecordWriter& w, Desc) { w.write_name_after(); },
     [](StreamLine& l, Desc) { l.name_after_column(); }, nullptr, nullptr, nullptr},
    // The length as the user sees it, without the long-path prefix.
    {Column::path_length,
     [](RecordWriter& w, Desc) {
         const std::size_t shown = w.run_.syntax.without_long_prefix(w.e_.pg_complete_path).size();
         w.count(w.out_.printf("Len=%3d%c", static_cast<int>(shown), w.d_));
     },
     [](StreamLine& l, Desc) {
         if (!l.directory_)
             l.out_.printf("Len=%d%c", static_cast<int>(l.entry->pg_complete_path.size()), l.d_);
     },
     [](RecordWriter& w, TableRow& row, Desc) {
         row.number(Field::path_length,
                    static_cast<std::int64_t>(
                        w.run_.syntax.without_long_prefix(w.e_.pg_complete_path).size()));
     },
     [](StreamLine& l, TableRow& row, Desc) {
         row.number(Field::path_length, static_cast<std::int64_t>(l.path_without_prefix().size()));
     },
     nullptr},
    // Only a directory's row holds them, once its subtree is listed.
    {Column::tree_totals, [](RecordWriter&, Desc) {}, nullptr,
     [](RecordWriter& w, TableRow& row, Desc) {
         if (!w.tree_ || !w.is_directory_ || w.is_link_) return;
         row.number(Field::tree_files, w.tree_->files);
         row.number(Field::tree_bytes, w.tree_->bytes);
     },
     nullptr, nullptr},
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

}  // namespace

constexpr std::array<ColumnWriters, column_count> column_writer_table = build_table();

namespace {

// Every column has its writers, in the descriptors' order.
constexpr bool table_in_order() {
    if (std::size(leading) + digest_count + std::size(trailing) != column_count) return false;
    for (std::size_t i = 0; i < column_count; ++i)
        if (column_index(column_writer_table[i].id) != i || !column_writer_table[i].record)
            return false;
    return true;
}
static_assert(table_in_order());

}  // namespace

}  // namespace filarix
