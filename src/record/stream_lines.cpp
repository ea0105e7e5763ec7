#include "record/stream_lines.hpp"

#include <algorithm>
#include <optional>

#include "content/digests.hpp"
#include "content/streams.hpp"
#include "core/columns.hpp"
#include "core/listing_file.hpp"
#include "record/column_writers.hpp"
#include "record/database_rows.hpp"
#include "record/name_shortening.hpp"
#include "record/owner.hpp"
#include "record/process_entry.hpp"
#include "record/stream_line.hpp"
#include "record/table_row.hpp"
#include "record/time_fields.hpp"
#include "record/utf8.hpp"

namespace filarix {

namespace {

constexpr int directory_times_error_number = 411;
constexpr const char* source_tag = ".\\ads_flrx_64";

// Control characters become '?', so that no name can add a line.
std::u16string without_controls(std::u16string text) {
    for (char16_t& c : text)
        if (c < 0x20 || c == 0x7F) c = u'?';
    return text;
}

// The path column's bytes: one byte per character unless the listing is
// UTF-8, as in the record above the line.
std::string column_bytes(Run& run, std::u16string text) {
    if (run.s.UTF8) return to_utf8(run.syntax, text).bytes;
    squeeze_to_bytes(run.syntax, text);
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
    return out;
}

std::u16string without_prefix(std::u16string_view path) {
    if (path.size() >= 4 && path[0] == u'\\' && path[2] == u'?') path.remove_prefix(4);
    return std::u16string(path);
}

// The stream's own times; where they cannot be read, those of its owner.
TimesRecord stream_times(Run& run, const std::u16string& stream_path,
                         const std::u16string& owner_path, bool& found) {
    TimesRecord times;
    found = times_of_path(run.sys, stream_path, times, run.s.ZULU != 0) == 0;
    if (!found) times_of_path(run.sys, owner_path, times, run.s.ZULU != 0);
    return times;
}

}  // namespace

bool StreamLine::times_shown() const {
    return directory_ ? s_.TIME && s_.time_type != 0 : s_.time_type != 0;
}

void StreamLine::write(const RunSettings& columns_of) {
    bool found = false;
    times_ = stream_times(run_, stream_path, owner_path, found);
    if (!found && directory_)
        run_.std_out.printf("\n%d %s\nCouldn't get filetime for %s", directory_times_error_number,
                            source_tag, run_.sys.narrow(without_controls(stream_path)).c_str());
    // A file's stream line follows its record's columns, settled for the walk.
    const bool settled = &columns_of == &s_ && run_.layout.record_columns;
    const std::optional<ColumnList> own =
        settled ? std::nullopt : std::optional<ColumnList>(columns_of);
    for (const ColumnDescriptor* c : settled ? *run_.layout.record_columns : *own) {
        fill_up_to(c->id);
        if (const auto stream_writer = column_writers(c->id).stream) stream_writer(*this, *c);
        if (ended_) break;
    }
    if (!ended_) fill_up_to(Column::path_length);
    out_.put('\n');
    check_output_written(run_);
}

// The fillers and the zone that a stream line carries where its record
// has no column of its own.
void StreamLine::fill_up_to(Column next) {
    if (s_.fixed && !fixed_written_ && next > Column::digest_blank) {
        fixed_written_ = true;
        if (directory_)
            out_.printf("%.15s", "               ");
        else
            out_.printf("%.15s%c", "               ", d_);
    }
    if (next > Column::zone) zone_column();
}

void StreamLine::zone_column() {
    if (!zone_written_ && times_shown()) {
        zone_written_ = true;
        write_zone_column(run_, out_);
    }
}

void StreamLine::name_after_column() {
    if (directory_) return;
    const int n = s_.nameafter_width < 0 ? 50 : s_.nameafter_width;
    const std::string text = run_.sys.narrow(without_controls(without_prefix(stream_path)));
    if (n < 1)
        out_.printf("%s%c", text.c_str(), d_);
    else
        out_.printf("%-*.*s%c", n, n, text.c_str(), d_);
}

void StreamLine::path_column() {
    const std::u16string shown_path = without_controls(stream_path);
    if (directory_) {
        if (s_.NAMEONLY) {
            out_.printf("%s%s%c", run_.sys.narrow(without_controls(directory_name)).c_str(),
                        run_.sys.narrow(shown_name).c_str(), d_);
            if (s_.PPATHONLY) ended_ = true;
            return;
        }
        std::u16string shortened = name_shorten(run_.syntax, shown_path, s_.WIDTH);
        shortened.erase(0, drive_offset(run_.syntax, shortened));
        const std::string text = column_bytes(run_, shortened);
        out_.printf("%-*.*s%c", s_.WIDTH, s_.WIDTH, text.c_str(), d_);
        return;
    }
    if (s_.WIDTH == 0) return;
    const std::string text = column_bytes(run_, without_prefix(shown_path));
    if (s_.VAR)
        out_.printf("%s%c", text.c_str(), d_);
    else
        out_.printf("%-*.*s%c", s_.WIDTH, s_.WIDTH, text.c_str(), d_);
}

void StreamLine::time_column(const CalendarFields& f, char letter) {
    if (!times_shown()) return;
    if (s_.REVERSE)
        out_.printf("%4d/%02d/%02d%c", f.year, f.month, f.day, d_);
    else
        out_.printf("%02d/%02d/%4d%c", f.month, f.day, f.year, d_);
    out_.printf("%02d:%02d", f.hour, f.minute);
    if (s_.time_type == '3' || s_.seconds) {
        // A directory stream line shows no milliseconds.
        if (directory_)
            out_.printf(":%02d:   ", f.second);
        else
            out_.printf(":%02d:%03d", f.second, f.millisecond);
    }
    out_.printf("%c%c", letter, d_);
}

void StreamLine::name_columns() {
    const int width = static_cast<int>(s_.lfn_width);
    if (directory_) {
        if (s_.eight_dot_three) out_.printf(s_.LFN ? " %-*.*s%c" : "%*.*s%c", width, width, "", d_);
        return;
    }
    if (s_.eight_dot_three) {
        const std::string name = run_.sys.narrow(std::u16string_view(shown_name).substr(1));
        out_.printf(" %-*.*s%c", width, width, name.c_str(), d_);
    }
    if (!s_.EXT) return;
    const PathParts parts = split_display_path(run_.syntax, without_controls(stream_path));
    const auto fitted = [&](const char* format, const std::u16string& text) {
        const std::string narrow = run_.sys.narrow(platform::ascii_upper(text));
        const int precision = std::min(static_cast<int>(narrow.size()), width);
        out_.printf(format, width, precision, narrow.c_str(), d_);
    };
    if (s_.EXT == 1) {
        fitted(" %-*.*s%c", parts.base);
    } else if (s_.EXT == 2) {
        // The stream's name: after the colon in the base name of a file
        // without an extension, else after the colon in the extension.
        const std::size_t colon = parts.base.find(u':');
        if (colon != std::u16string::npos) {
            fitted("!%-*.*s%c", parts.base.substr(colon + 1) + parts.extension);
        } else {
            const std::size_t at = parts.extension.find(u':');
            fitted("!%-*.*s%c",
                   at == std::u16string::npos ? std::u16string() : parts.extension.substr(at + 1));
        }
    }
    if (!s_.fixed) {
        if (parts.extension.size() > 1)
            out_.printf("%6.6s%c",
                        run_.sys.narrow(platform::ascii_upper(parts.extension.substr(1))).c_str(),
                        d_);
        else
            out_.printf("%6.6s%c", "      ", d_);
    }
    out_.printf(" %13.13s%c",
                run_.sys.narrow(without_controls(platform::ascii_upper(entry->data.name))).c_str(),
                d_);
}

// A stream's row in a CSV or JSON Lines listing: its whole name, its own
// size, times and (for a file's stream) digests.
TableRow StreamLine::row(const ColumnList& columns) {
    bool found = false;
    times_ = stream_times(run_, stream_path, owner_path, found);
    TableRow row;
    row.text(Field::kind, "stream");
    for (const ColumnDescriptor* c : columns)
        if (const auto writer = column_writers(c->id).stream_row) writer(*this, row, *c);
    return row;
}

void StreamLine::write_row() {
    const std::optional<ColumnList> own =
        run_.layout.record_columns ? std::nullopt : std::optional<ColumnList>(s_);
    const TableRow written = row(run_.layout.record_columns ? *run_.layout.record_columns : *own);
    written.write(run_, out_);
    check_output_written(run_);
    add_database_row(run_, written);
}

void StreamLine::write_database_row() {
    if (run_.database && run_.layout.database_columns)
        add_database_row(run_, row(*run_.layout.database_columns));
}

std::u16string StreamLine::path_without_prefix() const {
    return without_prefix(stream_path);
}

const DigestTexts& StreamLine::digests() {
    if (!digested_) {
        digested_ = true;
        // The stream's own bytes, read through "file:name".
        digests_ = digest_file(run_, engine_, stream_path, {.digests = shown_digests(s_)}, false,
                               static_cast<std::uint64_t>(stream->size));
    }
    return digests_;
}

void write_stream_line(Run& run, DigestEngine& digests, const CurrentEntry& entry,
                       std::uint32_t index) {
    if (index >= run.stream_table.size()) return;
    StreamLine line(run, digests, false);
    line.stream = &run.stream_table[index];
    line.entry = &entry;
    line.owner_path = entry.pg_complete_path;
    const std::u16string name = shown_stream_name(line.stream->name);
    line.stream_path = entry.pg_complete_path + name;
    line.shown_name = without_controls(name);
    run.counts.bytes_found += line.stream->size;
    if (run.s.table_format) {
        line.write_row();
    } else {
        line.write(run.s);
        line.write_database_row();
    }
    ++run.counts.streams_found;
}

int write_directory_stream_lines(Run& run, DigestEngine& digests, std::uint32_t count,
                                 const std::u16string& directory) {
    std::u16string owner = directory;
    while (owner.size() > 1 && run.syntax.is_separator(owner.back())) owner.pop_back();
    const std::size_t sep = run.syntax.last_separator(owner);
    const std::u16string directory_name =
        sep == std::u16string::npos ? owner : owner.substr(sep + 1);
    // A name-only listing still gives a directory's stream its size and
    // marker, so the columns come from the full layout.
    const RunSettings* columns_of = &run.s;
    RunSettings full;
    if (run.s.NAMEONLY && !run.s.PPATHONLY) {
        full = run.s;
        full.NAMEONLY = 0;
        columns_of = &full;
    }
    // The table may be refilled while a line is written (none is today),
    // so the lines work from a copy.
    const std::vector<platform::NamedStream> streams = run.stream_table;
    const std::uint32_t n =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(streams.size()));
    for (std::uint32_t i = 0; i < n; ++i) {
        StreamLine line(run, digests, true);
        line.stream = &streams[i];
        line.owner_path = owner;
        const std::u16string name = shown_stream_name(streams[i].name);
        line.stream_path = owner + name;
        line.shown_name = without_controls(name);
        line.directory_name = directory_name;
        ++run.counts.files_found;
        run.counts.bytes_found += streams[i].size;
        if (run.s.table_format) {
            line.write_row();
        } else {
            line.write(*columns_of);
            line.write_database_row();
        }
    }
    return static_cast<int>(n);
}

}  // namespace filarix
