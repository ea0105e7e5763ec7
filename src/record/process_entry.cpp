#include "record/process_entry.hpp"

#include <algorithm>
#include <cstdio>

#include "content/digests.hpp"
#include "content/streams.hpp"
#include "content/zip_listing.hpp"
#include "content/zip_walk.hpp"
#include "core/columns.hpp"
#include "core/listing_file.hpp"
#include "core/shown_text.hpp"
#include "record/access_reset.hpp"
#include "record/command.hpp"
#include "record/filters.hpp"
#include "record/fixed_field.hpp"
#include "record/name_shortening.hpp"
#include "record/owner.hpp"
#include "record/stream_lines.hpp"
#include "record/table_row.hpp"
#include "record/time_fields.hpp"
#include "record/utf8.hpp"

namespace filarix {

std::size_t drive_offset(const platform::PathSyntax& syntax, std::u16string_view path) {
    if (!syntax.drive_letters) return 0;
    std::size_t offset = 0;
    const std::size_t limit = std::min<std::size_t>(path.size(), 8);
    for (std::size_t i = 1; i < limit; ++i)
        if (path[i] == u':') offset = i - 1;
    return offset;
}

std::string attribute_letters(std::uint32_t a) {
    namespace attr = platform::attr;
    std::string letters = "......";
    if (a & attr::archive) letters[0] = 'A';
    if (a & attr::hidden) letters[1] = 'H';
    if (a & attr::readonly) letters[2] = 'R';
    if (a & attr::system) letters[3] = 'S';
    if (a & attr::directory) letters[4] = 'D';
    if (a & attr::encrypted) letters[5] = 'E';
    return letters;
}

void squeeze_to_bytes(const platform::PathSyntax& syntax, std::u16string& text) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c > 127) {
            if (syntax.byte_escapes && c >= 0xDC80 && c <= 0xDCFF) {
                c = char16_t(c - 0xDC00);
            } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                       text[i + 1] <= 0xDFFF) {
                c = 0xF0;  // a pair is one character, four bytes long in UTF-8
                ++i;
            } else if (c < 0x800) {
                c = char16_t(0xC0 | (c >> 6));
            } else {
                c = char16_t(0xE0 | (c >> 12));
            }
        }
        text[out++] = c;
    }
    text.resize(out);
}

namespace {

// Narrows text whose characters are all single bytes already, controls
// masked as mask_controls does, in one pass.
std::string low_bytes(std::u16string_view text) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i] & 0xFF);
        out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    return out;
}

// What a directory's own record has for a name.
const std::u16string& no_name() {
    static const std::u16string none;
    return none;
}

// The record producer's state for one entry.
class RecordWriter {
public:
    RecordWriter(Run& run, EntryTools& tools, const std::u16string& directory,
                 const std::u16string* name, const platform::FindData* known)
        : run_(run),
          tools_(tools),
          s_(run.s),
          out_(run.output()),
          d_(run.s.delimiter),
          directory_(directory),
          name_(name ? *name : no_name()),
          has_name_(name != nullptr),
          known_(known),
          width_(run.s.WIDTH),
          narrow_utf8_(run.sys.narrow_is_utf8()) {}

    void process();

private:
    void count(int n) { run_.counts.line_length += n; }
    // The selection's verdict; the entry's data and times are read by then.
    bool select();
    // Shortens the path column's path to the column, as the settings ask.
    void fit_display_path();
    void write_fields();
    void write_table_row();
    std::string member_row(std::u16string_view name, const ZipMember& member) const;
    void write_path_column();
    void write_name_columns();
    void write_name_after();
    void write_follow_up();
    std::string member_name_column(std::u16string_view column) const;
    // The digests of the entry, read once for whichever digest column comes first.
    const DigestTexts& digests();
    std::string field_text(std::u16string_view text) const {
        return squeezed_ ? low_bytes(text) : shown_name(run_.sys, text);
    }

    Run& run_;
    EntryTools& tools_;
    const RunSettings& s_;
    OutStream& out_;
    const char d_;
    const std::u16string& directory_;
    // The caller's: it outlives the writer.
    const std::u16string& name_;
    const bool has_name_;
    CurrentEntry e_;
    bool is_directory_ = false;
    // A link stands for another entry, wherever that is: nothing is read
    // through it.
    bool is_link_ = false;
    bool squeezed_ = false;
    bool digested_ = false;
    DigestTexts digests_;
    const platform::FindData* known_;
    // The path column's width: the setting's, or under VAR the whole path.
    int width_;
    std::size_t display_offset_ = 0;
    std::size_t complete_offset_ = 0;
    // Name fields count characters, not bytes, where the 8-bit form is UTF-8.
    const bool narrow_utf8_;
    // A field of the name columns. Text from field_text is squeezed to one
    // byte a character once the path column has done so; a raw name is not.
    void put_name_field(std::string_view text, int width, int precision, Align align,
                        bool raw_name = false) {
        const bool utf8 = narrow_utf8_ && (raw_name || !squeezed_);
        count(static_cast<int>(put_fixed(out_, text, width, precision, align, utf8)));
        count(static_cast<int>(out_.put(d_)));
    }
};

bool RecordWriter::select() {
    e_.display_path = directory_ + name_;
    if (!has_name_ && s_.directories && !e_.display_path.empty()) e_.display_path.pop_back();
    e_.pg_complete_path = e_.display_path;

    const auto read_digests = [this]() -> const DigestTexts& { return digests(); };
    Candidate c{directory_, name_, known_, e_, is_directory_, is_link_, read_digests};
    if (!passes(run_, c, path_predicates())) return false;
    // Not a filter: what NOCHILD names is deleted here, and never listed.
    if (delete_child_object(run_, e_.pg_complete_path)) return false;
    return passes(run_, c, entry_predicates());
}

void RecordWriter::fit_display_path() {
    if (s_.VAR) {
        // The path column shows the whole path.
    } else if (s_.width_set < 2) {
        // A path that fits, without a long-path prefix, stays as it is.
        const bool unchanged =
            (width_ < 8 || static_cast<std::size_t>(width_) >= e_.display_path.size()) &&
            run_.syntax.without_long_prefix(e_.display_path).size() == e_.display_path.size();
        if (!unchanged) e_.display_path = name_shorten(run_.syntax, e_.display_path, width_);
    } else {
        e_.display_path = name_elide(run_.syntax, e_.display_path, std::uint64_t(width_));
    }
}

void RecordWriter::write_path_column() {
    Run& run = run_;
    // A path with no drive letter has nothing for a drive letter to replace.
    if (run.s.drive_letter != 0 && run.syntax.drive_letters && !e_.display_path.empty())
        e_.display_path[drive_offset(run.syntax, e_.display_path)] = run.s.drive_letter;
    const int width = width_;
    std::string text;
    bool utf8 = narrow_utf8_;
    const bool whole = s_.VAR || (s_.NAMEONLY && width <= 0);
    if (!s_.NAMEONLY) {
        if (s_.UTF8) {
            text = to_utf8(run.syntax, std::u16string_view(e_.display_path).substr(display_offset_))
                       .bytes;
            mask_controls(text);
            utf8 = true;
        } else {
            squeeze_to_bytes(run.syntax, e_.display_path);
            squeezed_ = true;
            text = low_bytes(std::u16string_view(e_.display_path).substr(display_offset_));
            utf8 = false;  // every character is one byte now
        }
    } else if (s_.PPATHONLY) {
        text = shown_name(run.sys, std::u16string_view(e_.display_path).substr(display_offset_));
    } else if (has_name_) {
        text = shown_name(run.sys, name_);
    } else {
        // A directory record has no name of its own: its last component.
        const std::u16string_view path = e_.pg_complete_path;
        const std::size_t sep = run.syntax.last_separator(path);
        text = shown_name(run.sys, sep == std::u16string_view::npos ? path : path.substr(sep + 1));
    }
    if (whole)
        count(static_cast<int>(out_.put(text)));
    else
        count(static_cast<int>(put_fixed(out_, text, width, width, Align::left, utf8)));
    count(static_cast<int>(out_.put(d_)));
}

// A ZIP member's name column, fitted and turned into bytes as the path
// column of the archive's own record is.
std::string RecordWriter::member_name_column(std::u16string_view column) const {
    const platform::PathSyntax& syntax = run_.syntax;
    std::u16string text;
    if (s_.VAR)
        text = column;
    else if (s_.width_set < 2)
        text = name_shorten(syntax, column, s_.WIDTH);
    else
        text = name_elide(syntax, column, std::uint64_t(s_.WIDTH));
    if (s_.UTF8) return to_utf8(syntax, text).bytes;
    squeeze_to_bytes(syntax, text);
    return low_bytes(text);
}

void RecordWriter::write_name_columns() {
    Run& run = run_;
    if (!s_.eight_dot_three && !s_.LFN && !s_.EXT) return;
    PathParts parts = split_display_path(run.syntax, e_.display_path);
    std::u16string short_name = e_.data.short_name;

    if (s_.eight_dot_three) {
        if (short_name.empty()) {
            const std::u16string text =
                s_.EXT == 1 ? parts.base : platform::ascii_upper(parts.base + parts.extension);
            count(static_cast<int>(out_.put(' ')));
            put_name_field(field_text(text), 14, 14, Align::left);
        } else {
            short_name = platform::ascii_upper(short_name);
            if (s_.EXT == 1) {
                std::size_t cut = std::u16string::npos;
                if (short_name.size() > 8 && short_name[8] == u'.') {
                    cut = 8;
                } else {
                    for (std::size_t i = std::min<std::size_t>(8, short_name.size()); i-- > 0;)
                        if (short_name[i] == u'.') {
                            cut = i;
                            break;
                        }
                }
                if (cut != std::u16string::npos) short_name.resize(cut);
            }
            count(static_cast<int>(out_.put(' ')));
            put_name_field(shown_name(run.sys, short_name), 14, 14, Align::left, true);
        }
    }
    if (s_.LFN) {
        parts.base = platform::ascii_upper(parts.base);
        parts.extension = platform::ascii_upper(parts.extension);
        const std::u16string text =
            (s_.EXT == 0 || s_.EXT == 2) ? parts.base + parts.extension : parts.base;
        const std::string narrow = field_text(text);
        const int width = static_cast<int>(run.s.lfn_width);
        count(static_cast<int>(out_.put(' ')));
        put_name_field(narrow, width, width, Align::left);
    }
    if (s_.EXT != 0 && !s_.fixed) {
        if (parts.extension.size() > 1)
            put_name_field(field_text(platform::ascii_upper(parts.extension.substr(1))), 6, 6,
                           Align::right);
        else
            count(out_.printf(" -----%c", d_));
    }
    if (s_.EXT != 0) {
        const std::u16string shown = short_name.empty() ? e_.data.name : short_name;
        count(static_cast<int>(out_.put(' ')));
        put_name_field(shown_name(run.sys, shown), 13, 13, Align::right, true);
    }
}

void RecordWriter::write_fields() {
    Run& run = run_;
    const ColumnList columns =
        run.layout.record_columns ? *run.layout.record_columns : ColumnList(s_);
    for (const Column column : columns) {
        switch (column) {
            case Column::sequence:
                count(out_.printf("%06llu%c",
                                  static_cast<unsigned long long>(run.counts.sequence_counter++),
                                  d_));
                break;
            case Column::label:
                count(out_.printf("%s%c", run.s.label_text.c_str(), d_));
                break;
            case Column::comment:
                count(out_.printf("%s%c", run.sys.narrow(run.s.comment_text).c_str(), d_));
                break;
            case Column::path:
                write_path_column();
                break;
            case Column::size: {
                // " %20lld", or under VAR "%lld", without printf's parser.
                char text[32];
                char* const end = text + sizeof text;
                char* at = end;
                *--at = d_;
                const auto size = static_cast<long long>(e_.data.size);
                auto magnitude = size < 0 ? 0 - static_cast<unsigned long long>(size)
                                          : static_cast<unsigned long long>(size);
                do {
                    *--at = static_cast<char>('0' + magnitude % 10);
                    magnitude /= 10;
                } while (magnitude != 0);
                if (size < 0) *--at = '-';
                if (!s_.VAR) {
                    while (end - at < 21) *--at = ' ';
                    *--at = ' ';
                }
                count(static_cast<int>(
                    out_.put(std::string_view(at, static_cast<std::size_t>(end - at)))));
                break;
            }
            case Column::attributes:
                count(static_cast<int>(out_.put(e_.attr_letters)));
                count(static_cast<int>(out_.put('.')));
                count(static_cast<int>(out_.put(d_)));
                break;
            case Column::category:
                if (s_.signature_check == 1 || s_.signature_check == 2)
                    count(out_.printf(" %3.3s%c", e_.category_text.c_str(), d_));
                else
                    count(out_.printf("    %c", d_));
                break;
            case Column::digest_blank:
                count(out_.printf("%*.*s%c", 10, 10, "", d_));
                break;
            case Column::creation_time:
                count(static_cast<int>(write_time_column(run, out_, e_.times.creation, 'c')));
                break;
            case Column::write_time:
                count(static_cast<int>(write_time_column(run, out_, e_.times.write, 'w')));
                break;
            case Column::access_time:
                count(static_cast<int>(write_time_column(run, out_, e_.times.access, 'a')));
                break;
            case Column::zone:
                count(static_cast<int>(write_zone_column(run, out_)));
                break;
            case Column::volume_serial:
                count(out_.printf("%11.11s%c", run.layout.volume_id_text.c_str(), d_));
                break;
            case Column::volume_label:
                count(out_.printf("%12.12s%c", shown_name(run.sys, run.layout.volume_label).c_str(),
                                  d_));
                break;
            case Column::names:
                write_name_columns();
                break;
            case Column::owner:
                count(out_.printf(" %32.32s%c", owner_of_path(run.sys, e_.pg_complete_path).c_str(),
                                  d_));
                break;
            case Column::name_after:
                write_name_after();
                break;
            case Column::path_length: {
                // The length as the user sees it, without the long-path prefix.
                const std::size_t shown =
                    run.syntax.without_long_prefix(e_.pg_complete_path).size();
                count(out_.printf("Len=%3d%c", static_cast<int>(shown), d_));
                break;
            }
            default:
                // One read of the file feeds every digest asked for.
                if (const auto id = column_digest(column)) {
                    const int width = digest_row(*id).width;
                    count(out_.printf(" %*.*s%c", width, width, digests().of(*id).c_str(), d_));
                }
                break;
        }
    }
}

// The row of a CSV or JSON Lines listing: the same columns, each field
// whole and exact.
void RecordWriter::write_table_row() {
    Run& run = run_;
    const ColumnList columns =
        run.layout.record_columns ? *run.layout.record_columns : ColumnList(s_);
    TableRow row;
    row.text(Field::kind, is_link_ ? "link" : is_directory_ ? "directory" : "file");
    fill_run_fields(run, row);
    std::u16string path(run.syntax.without_long_prefix(e_.pg_complete_path));
    if (s_.drive_letter != 0 && run.syntax.drive_letters && !path.empty())
        path[drive_offset(run.syntax, path)] = s_.drive_letter;
    row.name(Field::path, run.syntax, path);
    if (is_link_)
        if (const auto target = run.sys.link_target(e_.pg_complete_path))
            row.name(Field::target, run.syntax, *target);
    for (const Column column : columns) {
        switch (column) {
            case Column::sequence:
                row.number(Field::sequence,
                           static_cast<std::int64_t>(run.counts.sequence_counter++));
                break;
            case Column::size:
                row.number(Field::size, static_cast<std::int64_t>(e_.data.size));
                break;
            case Column::attributes:
                row.text(Field::attributes, e_.attr_letters);
                break;
            case Column::category: {
                std::string category = e_.category_text;
                while (!category.empty() && category.back() == ' ') category.pop_back();
                row.text(Field::category, category);
                break;
            }
            case Column::creation_time:
                row.time(Field::created, iso_time(run, e_.times.raw_creation, s_.ZULU != 0));
                break;
            case Column::write_time:
                row.time(Field::modified, iso_time(run, e_.times.raw_write, s_.ZULU != 0));
                break;
            case Column::access_time:
                row.time(Field::accessed, iso_time(run, e_.times.raw_access, s_.ZULU != 0));
                break;
            case Column::names: {
                const std::u16string_view own =
                    has_name_ ? std::u16string_view(name_) : std::u16string_view(e_.data.name);
                const std::size_t dot = own.rfind(u'.');
                row.name(Field::short_name, run.syntax, e_.data.short_name);
                row.name(Field::long_name, run.syntax, own);
                row.name(Field::extension, run.syntax,
                         dot == std::u16string_view::npos || dot == 0 ? std::u16string_view()
                                                                      : own.substr(dot + 1));
                break;
            }
            case Column::owner:
                row.text(Field::owner, owner_of_path(run.sys, e_.pg_complete_path));
                break;
            case Column::path_length:
                row.number(Field::path_length,
                           static_cast<std::int64_t>(
                               run.syntax.without_long_prefix(e_.pg_complete_path).size()));
                break;
            default:
                // Only a file's contents have a digest: a directory's or a
                // link's field stays empty (null), so that no query takes
                // them for empty files.
                if (const auto id = column_digest(column); id && !is_directory_ && !is_link_)
                    row.text(digest_field(*id), digests().of(*id));
                break;
        }
    }
    row.write(run, out_);
}

std::string RecordWriter::member_row(std::u16string_view name, const ZipMember& member) const {
    TableRow row;
    row.text(Field::kind, "zip member");
    fill_run_fields(run_, row);
    row.name(Field::path, run_.syntax, name);
    // As stored: a ZIP64 size past 2^63 - 1 is no negative number.
    row.number(Field::size, member.uncompressed_size);
    // The archive keeps each member's CRC-32; no other digest is at hand.
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", unsigned(member.crc32));
    row.text(digest_field(DigestId::crc), crc);
    // A DOS time has no zone, and a date of 0 (or a 30 February) is no
    // time at all: both fields stay empty rather than hold a false value.
    row.clear(Field::zone);
    const DosDateTime t = decode_dos_date_time(member.dos_date, member.dos_time);
    if (is_real_moment(t))
        row.text(Field::modified,
                 iso_local_time(t.year, t.month, t.day, t.hour, t.minute, t.second));
    return row.render(run_);
}

const DigestTexts& RecordWriter::digests() {
    // A link's columns stay blank: nothing was read.
    if (!digested_ && !is_link_) {
        digested_ = true;
        // The known set's kind is digested too, shown or not.
        DigestSet wanted = shown_digests(s_);
        if (const auto set_kind = run_.known_digests.kind()) wanted.add(*set_kind);
        digests_ = digest_file(run_, tools_.digests, e_.pg_complete_path, {.digests = wanted},
                               is_directory_, e_.data.size);
    }
    return digests_;
}

void RecordWriter::write_name_after() {
    Run& run = run_;
    const int n = run.s.nameafter_width < 0 ? 50 : run.s.nameafter_width;
    if (n > 0 && !s_.VAR) {
        put_name_field(field_text(std::u16string_view(e_.display_path).substr(display_offset_)), n,
                       n, Align::left);
    } else {
        const std::string text =
            shown_name(run.sys, std::u16string_view(e_.pg_complete_path).substr(complete_offset_));
        count(out_.printf("%s%c", text.c_str(), d_));
    }
}

void RecordWriter::write_follow_up() {
    Run& run = run_;
    // Streams are listed only when the first start path's volume can carry
    // them, so a run that starts on FAT lists none on later NTFS paths either.
    // A link's streams would be its target's.
    if (!s_.NO_ADS && s_.STREAM && run.layout.streams_volume && !is_directory_ && !is_link_) {
        const std::uint32_t streams = enumerate_streams(run, e_.pg_complete_path);
        for (std::uint32_t i = 0; i < streams; ++i) {
            ++run.counts.files_found;
            ++run.counts.console_lines;
            write_stream_line(run, tools_.digests, e_, i);
            if (!s_.output_to_file() && s_.PAUSE &&
                run.counts.console_lines % run.layout.page_length == 0)
                tools_.pager.pause_listing(run);
        }
    }
    if (!s_.output_to_file() && s_.PAUSE) {
        ++run.counts.console_lines;
        if (run.counts.console_lines % run.layout.page_length == 0) tools_.pager.pause_listing(run);
    }
    // A directory has no contents to list; opening it would only report a
    // failure. A link is not opened.
    if (s_.ZIPLOG && !is_directory_ && !is_link_) {
        ZipTableRow table_row;
        if (s_.table_format)
            table_row = [this](std::u16string_view name, const ZipMember& member) {
                return member_row(name, member);
            };
        run.counts.zip_members_found += list_zip_members(
            run, e_.pg_complete_path, e_.data.size,
            [this](std::u16string_view column) { return member_name_column(column); }, table_row);
    }
    // Nothing was read through a link, and its times put back through it
    // would land on its target.
    if (s_.RESET && !is_link_) restore_entry_times(run.sys, run, run.counts, e_);
    if (s_.execute) run_file_command(run.sys, s_, run, e_.pg_complete_path, directory_, name_);
    if (s_.SPLIT && run.s.split_lines > 0 &&
        run.counts.files_found % std::uint32_t(run.s.split_lines) == 0)
        next_split_file(run);
}

void RecordWriter::process() {
    Run& run = run_;
    if (!select()) return;

    const auto tally = [&] {
        if (!is_directory_) ++run.counts.files_found;
        run.counts.bytes_found += static_cast<std::int64_t>(e_.data.size);
    };
    if (run.sizing_pass) {
        tally();
        // The streams the listing adds count toward the totals too.
        if (!s_.NAMEONLY && !s_.NO_ADS && s_.STREAM && run.layout.streams_volume &&
            !is_directory_ && !is_link_) {
            const std::uint32_t streams = enumerate_streams(run, e_.pg_complete_path);
            for (std::uint32_t i = 0; i < streams && i < run.stream_table.size(); ++i) {
                ++run.counts.files_found;
                run.counts.bytes_found += static_cast<std::int64_t>(run.stream_table[i].size);
            }
        }
        return;
    }

    e_.attr_letters = attribute_letters(e_.data.attributes);
    fit_display_path();
    display_offset_ = drive_offset(run.syntax, e_.display_path);
    complete_offset_ = drive_offset(run.syntax, e_.pg_complete_path);
    run.counts.line_length = 0;

    // An entry cut short (Ctrl+C in a digest, say) leaves no part of its
    // record behind and is not counted.
    struct RecordGuard {
        OutStream& out;
        bool done = false;
        ~RecordGuard() {
            if (!done) out.drop_record();
        }
    } guard{out_};
    out_.begin_record();
    if (s_.table_format) {
        write_table_row();
    } else {
        write_fields();
        count(static_cast<int>(out_.put('\n')));
    }
    guard.done = true;
    out_.end_record();
    tally();
    check_output_written(run);
    if (s_.NAMEONLY) return;
    write_follow_up();
}

}  // namespace

void process_entry(Run& run, EntryTools& tools, const std::u16string& directory,
                   const std::u16string* name, const platform::FindData* known) {
    RecordWriter(run, tools, directory, name, known).process();
}

}  // namespace filarix
