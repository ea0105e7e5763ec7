#include "record/process_entry.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "content/digests.hpp"
#include "content/streams.hpp"
#include "content/zip_listing.hpp"
#include "content/zip_walk.hpp"
#include "core/columns.hpp"
#include "core/listing_file.hpp"
#include "core/shown_text.hpp"
#include "record/access_reset.hpp"
#include "record/column_writers.hpp"
#include "record/command.hpp"
#include "record/database_rows.hpp"
#include "record/filters.hpp"
#include "record/fixed_field.hpp"
#include "record/name_shortening.hpp"
#include "record/owner.hpp"
#include "record/record_writer.hpp"
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

// The records' working entries, kept from record to record so that their
// strings keep their room: one for each record begun within another.
struct EntryPool {
    std::vector<std::unique_ptr<CurrentEntry>> entries;
    std::size_t in_use = 0;
};
thread_local EntryPool entry_pool;

// An entry as new, but for the room of its strings.
CurrentEntry& borrow_entry() {
    EntryPool& pool = entry_pool;
    if (pool.in_use == pool.entries.size())
        pool.entries.push_back(std::make_unique<CurrentEntry>());
    CurrentEntry& e = *pool.entries[pool.in_use++];
    std::u16string display = std::move(e.display_path);
    std::u16string complete = std::move(e.pg_complete_path);
    std::u16string name = std::move(e.data.name);
    e = CurrentEntry{};
    display.clear();
    complete.clear();
    name.clear();
    e.display_path = std::move(display);
    e.pg_complete_path = std::move(complete);
    e.data.name = std::move(name);
    return e;
}

}  // namespace

// The record's own steps are used from this file alone, once per entry:
// inline, they fold into process_entry and cost no calls.
[[gnu::always_inline]] inline RecordWriter::RecordWriter(Run& run, EntryTools& tools,
                                                         const std::u16string& directory,
                                                         const std::u16string* name,
                                                         const platform::FindData* known,
                                                         const TreeCount* tree)
    : run_(run),
      tools_(tools),
      s_(run.s),
      out_(run.output()),
      d_(run.s.delimiter),
      directory_(directory),
      name_(name ? *name : no_name()),
      has_name_(name != nullptr),
      e_(borrow_entry()),
      known_(known),
      tree_(tree),
      width_(run.s.WIDTH),
      narrow_utf8_(run.sys.narrow_is_utf8()) {}

RecordWriter::~RecordWriter() {
    --entry_pool.in_use;
}

std::string RecordWriter::field_text(std::u16string_view text) const {
    return squeezed_ ? low_bytes(text) : shown_name(run_.sys, text);
}

[[gnu::always_inline]] inline bool RecordWriter::select() {
    e_.display_path.assign(directory_).append(name_);
    if (!has_name_ && s_.directories && !e_.display_path.empty()) e_.display_path.pop_back();
    e_.pg_complete_path = e_.display_path;

    const auto read_digests = [this]() -> const DigestTexts& { return digests(); };
    Candidate c{directory_, name_, known_, e_, is_directory_, is_link_, read_digests};
    if (!passes(run_, c, path_predicates())) return false;
    // Not a filter: what NOCHILD names is deleted here, and never listed.
    if (delete_child_object(run_, e_.pg_complete_path)) return false;
    return passes(run_, c, entry_predicates());
}

[[gnu::always_inline]] inline void RecordWriter::fit_display_path() {
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

[[gnu::always_inline]] inline const ColumnList& RecordWriter::columns() {
    if (run_.layout.record_columns) return *run_.layout.record_columns;
    if (!own_columns_) own_columns_.emplace(s_);
    return *own_columns_;
}

[[gnu::always_inline]] inline void RecordWriter::write_fields() {
    for (const ColumnDescriptor* column : columns())
        column_writers(column->id).record(*this, *column);
}

void RecordWriter::fill_row(TableRow& row, const ColumnList& columns, bool compared) {
    row.text(Field::kind, is_link_ ? "link" : is_directory_ ? "directory" : "file");
    if (is_link_)
        if (const auto target = run_.sys.link_target(e_.pg_complete_path))
            row.name(Field::target, run_.syntax, *target);
    for (const ColumnDescriptor* column : columns) {
        if (compared && column->id != Column::sequence && column->id != Column::change) continue;
        if (const auto writer = column_writers(column->id).entry_row) writer(*this, row, *column);
    }
}

// The row of a CSV or JSON Lines listing: the same columns, each field
// whole and exact. The database takes the same row.
void RecordWriter::write_table_row() {
    // The compare made every field but the sequence number and the change.
    const bool compared = compared_row_.has_value();
    // A row is dozens of fields: one made and dropped unused per entry was
    // a fair part of what a compare cost.
    std::optional<TableRow> own;
    TableRow& row = compared ? *compared_row_ : own.emplace();
    fill_row(row, columns(), compared);
    row.write(run_, out_);
    add_database_row(run_, row);
}

// Beside a text record, the database row holds a JSON Lines row's fields,
// under the number the record took.
void RecordWriter::write_database_row(std::uint64_t sequence) {
    TableRow row;
    run_.counts.sequence_counter = sequence;
    fill_row(row, *run_.layout.database_columns, false);
    add_database_row(run_, row);
}

TableRow RecordWriter::member_table_row(std::u16string_view name, const ZipMember& member,
                                        const ColumnList& columns) {
    TableRow row;
    row.text(Field::kind, "zip member");
    const MemberLine line{run_, name, member};
    for (const ColumnDescriptor* column : columns)
        if (const auto writer = column_writers(column->id).member_row) writer(line, row, *column);
    return row;
}

const std::optional<platform::PreciseFacts>& RecordWriter::precise_facts() {
    if (!precise_asked_) {
        precise_asked_ = true;
        precise_ = run_.sys.precise_facts(e_.pg_complete_path, e_.data);
    }
    return precise_;
}

void RecordWriter::collect_dupe_candidate() {
    run_.dupe_candidates.add(directory_, name_, e_.data.size, precise_facts());
}

void RecordWriter::count_in_tree() {
    const auto& facts = precise_facts();
    TreeTotals::Identity identity;
    if (facts) identity = {facts->device, facts->inode, facts->links};
    run_.tree_totals.add_file(e_.data.size, facts ? &identity : nullptr);
}

const DigestTexts& RecordWriter::digests() {
    // A link's columns stay blank: nothing was read.
    if (!digested_ && !is_link_) {
        digested_ = true;
        // A duplicate's row shows the digests its group was proven on.
        if (run_.dupe_row.digests && !is_directory_) {
            digests_.texts = *run_.dupe_row.digests;
            digests_.read_ok = true;
            return digests_;
        }
        // The known set's kind is digested too, shown or not.
        DigestSet wanted = shown_digests(s_);
        if (const auto set_kind = run_.known_digests.kind()) wanted.add(*set_kind);
        if (!is_directory_ && !wanted.empty())
            digests_ = reused_digests(wanted);
        else
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

[[gnu::always_inline]] inline void RecordWriter::write_follow_up() {
    Run& run = run_;
    // Streams are listed only when the first start path's volume can carry
    // them, so a run that starts on FAT lists none on later NTFS paths either.
    // A link's streams would be its target's.
    // A --NUL listing holds names of entries only: a stream or a ZIP member
    // is none that a program could open by it.
    if (!s_.NO_ADS && s_.STREAM && run.layout.streams_volume && !is_directory_ && !is_link_ &&
        !s_.NUL) {
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
    if (s_.ZIPLOG && !is_directory_ && !is_link_ && !s_.NUL) {
        ZipTableRow table_row;
        ZipMemberSeen member_seen;
        if (s_.table_format) {
            table_row = [this](std::u16string_view name, const ZipMember& member) {
                const TableRow row = member_table_row(name, member, columns());
                add_database_row(run_, row);
                return row.render(run_);
            };
        } else if (run.database) {
            member_seen = [this](std::u16string_view name, const ZipMember& member) {
                add_database_row(run_,
                                 member_table_row(name, member, *run_.layout.database_columns));
            };
        }
        run.counts.zip_members_found += list_zip_members(
            run, e_.pg_complete_path, e_.data.size,
            [this](std::u16string_view column) { return member_name_column(column); }, table_row,
            member_seen);
    }
    // Nothing was read through a link, and its times put back through it
    // would land on its target.
    if (s_.RESET && !is_link_) restore_entry_times(run.sys, run, run.counts, e_);
    if (s_.execute) run_file_command(run.sys, s_, run, e_.pg_complete_path, directory_, name_);
    if (s_.SPLIT && run.s.split_lines > 0 &&
        run.counts.files_found % std::uint32_t(run.s.split_lines) == 0)
        next_split_file(run);
}

[[gnu::always_inline]] inline bool RecordWriter::process() {
    Run& run = run_;
    if (!select()) return false;

    const auto tally = [&] {
        if (!is_directory_) ++run.counts.files_found;
        run.counts.bytes_found += static_cast<std::int64_t>(e_.data.size);
    };
    if (run.sizing_pass) {
        tally();
        // The streams the listing adds count toward the totals too.
        if (!s_.NAMEONLY && !s_.NO_ADS && s_.STREAM && run.layout.streams_volume &&
            !is_directory_ && !is_link_ && !s_.NUL) {
            const std::uint32_t streams = enumerate_streams(run, e_.pg_complete_path);
            for (std::uint32_t i = 0; i < streams && i < run.stream_table.size(); ++i) {
                ++run.counts.files_found;
                run.counts.bytes_found += static_cast<std::int64_t>(run.stream_table[i].size);
            }
        }
        return false;
    }
    // --DUPES: the walk only collects; the rows come once copies are known.
    if (s_.DUPES && run.dupe_row.group == 0) {
        // Passed over all the same, for the progress line.
        if (!is_directory_) ++run.progress.files_passed;
        run.progress.bytes_passed += static_cast<std::int64_t>(e_.data.size);
        if (!is_directory_ && !is_link_ && e_.data.size != 0) collect_dupe_candidate();
        return false;
    }

    e_.attr_letters = attribute_letters(e_.data.attributes);
    fit_display_path();
    display_offset_ = drive_offset(run.syntax, e_.display_path);
    complete_offset_ = drive_offset(run.syntax, e_.pg_complete_path);
    if (run.comparison) {
        compare_with_earlier();
        // Left out as a filter leaves an entry out: not written, not counted.
        if (s_.CHANGED && change_->unchanged) return false;
    }
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
    const std::uint64_t sequence = run.counts.sequence_counter;
    if (s_.NUL) {
        // The exact bytes: no "?" for a control character, nothing shortened;
        // the path as CSV rows and commands have it, without a long-path prefix.
        out_.put_exact(
            to_utf8_whole(run.syntax, run.syntax.without_long_prefix(e_.pg_complete_path)));
        out_.put_exact(std::string_view("", 1));
    } else if (s_.table_format) {
        write_table_row();
    } else {
        write_fields();
        count(static_cast<int>(out_.put('\n')));
    }
    guard.done = true;
    out_.end_record();
    if (run.database && (s_.NUL || !s_.table_format)) write_database_row(sequence);
    tally();
    if (s_.TREESIZE && !is_directory_ && !is_link_) count_in_tree();
    check_output_written(run);
    if (s_.NAMEONLY) return true;
    write_follow_up();
    return true;
}

bool process_entry(Run& run, EntryTools& tools, const std::u16string& directory,
                   const std::u16string* name, const platform::FindData* known,
                   const TreeCount* tree) {
    return RecordWriter(run, tools, directory, name, known, tree).process();
}

}  // namespace filarix
