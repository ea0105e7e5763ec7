#include "record/process_entry.hpp"

#include <algorithm>
#include <cctype>

#include "content/digests.hpp"
#include "content/signature.hpp"
#include "content/streams.hpp"
#include "content/zip_listing.hpp"
#include "core/listing_file.hpp"
#include "record/access_reset.hpp"
#include "record/command.hpp"
#include "record/filters.hpp"
#include "record/name_shortening.hpp"
#include "record/owner.hpp"
#include "record/stream_lines.hpp"
#include "record/time_fields.hpp"
#include "record/utf8.hpp"

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

// Narrows text whose characters are all single bytes already.
std::string low_bytes(std::u16string_view text) {
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
    return out;
}

bool contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

// The record producer's state for one entry.
class RecordWriter {
public:
    RecordWriter(Run& run, const std::u16string& directory, const std::u16string* name)
        : run_(run),
          s_(run.s),
          out_(*run.output),
          d_(run.delimiter),
          directory_(directory),
          name_(name ? *name : std::u16string()),
          has_name_(name != nullptr) {}

    void process();

private:
    void count(int n) { run_.line_length += n; }
    bool select();
    void write_fields();
    void write_path_column();
    void write_name_columns();
    void write_follow_up();
    std::string field_text(std::u16string_view text) const {
        return squeezed_ ? low_bytes(text) : run_.sys.narrow(text);
    }

    Run& run_;
    RunSettings& s_;
    OutStream& out_;
    const char d_;
    const std::u16string& directory_;
    const std::u16string name_;
    const bool has_name_;
    bool is_directory_ = false;
    bool squeezed_ = false;
    std::size_t display_offset_ = 0;
    std::size_t complete_offset_ = 0;
};

bool RecordWriter::select() {
    Run& run = run_;
    if (s_.ADSONLY && enumerate_streams(run, directory_ + name_) == 0) return false;

    run.display_path = directory_ + name_;
    if (!has_name_ && s_.directories && !run.display_path.empty()) run.display_path.pop_back();
    run.pg_complete_path = run.display_path;

    if (s_.SHOWLONG && run.pg_complete_path.size() < static_cast<std::size_t>(run.showlong_min))
        return false;

    if (s_.NOCHILD == 1 || s_.NOCHILD == 2) {
        if (contains(run.pg_complete_path, u"\u200C") ||
            contains(run.pg_complete_path, u"_childobjects")) {
            run.std_out.printf("%s\n", run.sys.narrow(run.pg_complete_path).c_str());
            if (s_.NOCHILD == 1) run.sys.delete_file(run.pg_complete_path);
            return false;
        }
    }

    if (run.pg_complete_path.size() > run.longest_path) {
        run.longest_path = run.pg_complete_path.size();
        run.longest_path_entry = run.entries_seen + 1;
    }

    if (s_.owner >= 2) {
        const std::string owner = owner_of_path(run, run.pg_complete_path);
        if (run.owner_name.size() < owner.size()) return false;
        for (std::size_t i = 0; i < owner.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(owner[i])) !=
                std::toupper(static_cast<unsigned char>(run.owner_name[i])))
                return false;
    }

    {
        auto search =
            run.sys.find_first(run.pg_complete_path, run.entry, platform::SearchDetail::full);
        if (!search) return false;
        // A POSIX name may hold "*" or "?", which the search reads as a
        // mask: the entry itself is the one whose name is the path's own.
        const std::size_t sep = run.syntax.last_separator(run.pg_complete_path);
        const std::u16string_view own = std::u16string_view(run.pg_complete_path)
                                            .substr(sep == std::u16string::npos ? 0 : sep + 1);
        if (platform::has_wildcards(own) && run.entry.name != own) {
            platform::FindData candidate;
            while (search->next(candidate))
                if (candidate.name == own) {
                    run.entry = std::move(candidate);
                    break;
                }
        }
    }
    convert_times(run, run.entry, run.entry_times, s_.ZULU != 0);
    is_directory_ = (run.entry.attributes & platform::attr::directory) != 0;

    if (!attribute_filter(run, run.entry.attributes)) return false;
    run.attr_letters = attribute_letters(run.entry.attributes);
    if (!age_filter(run)) return false;

    const auto size = static_cast<std::int64_t>(run.entry.size);
    if (s_.GREATER && size < run.size_greater) return false;
    if (s_.LESSTHAN && size > run.size_less) return false;

    if (s_.VAR) {
        // The whole path as shown, which starts at the drive letter.
        s_.WIDTH = static_cast<std::int32_t>(run.display_path.size() -
                                             drive_offset(run.syntax, run.display_path));
    } else if (s_.width_set < 2) {
        run.display_path = name_shorten(run.syntax, run.display_path, s_.WIDTH);
    } else {
        run.display_path = name_elide(run.syntax, run.display_path, std::uint64_t(s_.WIDTH));
    }

    if (s_.signature_check == 1 || s_.signature_check == 2) {
        int mismatch = 0, matched = 0;
        if (run.entry.size != 0)
            check_file_type(run, run.pg_complete_path, run.entry.size, mismatch, matched);
        else
            run.category_text = "   ";
        if (s_.header_only) {
            if (s_.signature_check == 1 &&
                ((mismatch == 1 && matched == 0) || (mismatch == 0 && matched == 1)))
                return false;
            if (s_.signature_check == 2 && mismatch != 0) return false;
        }
    }
    return true;
}

void RecordWriter::write_path_column() {
    Run& run = run_;
    if (run.drive_letter != 0 && !run.display_path.empty())
        run.display_path[drive_offset(run.syntax, run.display_path)] = run.drive_letter;
    const int width = s_.WIDTH;
    if (!s_.NAMEONLY) {
        if (s_.UTF8) {
            const Utf8Text text =
                to_utf8(run.syntax, std::u16string_view(run.display_path).substr(display_offset_));
            count(out_.printf("%-*.*s%c", width, width, text.bytes.c_str(), d_));
        } else {
            squeeze_to_bytes(run.syntax, run.display_path);
            squeezed_ = true;
            const std::string text =
                low_bytes(std::u16string_view(run.display_path).substr(display_offset_));
            count(out_.printf("%-*.*s%c", width, width, text.c_str(), d_));
        }
        return;
    }
    const std::string text =
        s_.PPATHONLY ? run.sys.narrow(std::u16string_view(run.display_path).substr(display_offset_))
                     : run.sys.narrow(name_);
    if (s_.VAR || width == 0)
        count(out_.printf("%s%c", text.c_str(), d_));
    else
        count(out_.printf("%-*.*s%c", width, width, text.c_str(), d_));
}

void RecordWriter::write_name_columns() {
    Run& run = run_;
    if (!s_.eight_dot_three && !s_.LFN && !s_.EXT) return;
    PathParts parts = split_display_path(run.syntax, run.display_path);
    std::u16string short_name = run.entry.short_name;

    if (s_.eight_dot_three) {
        if (short_name.empty()) {
            const std::u16string text =
                s_.EXT == 1 ? parts.base : platform::ascii_upper(parts.base + parts.extension);
            count(out_.printf(" %-*.*s%c", 14, 14, field_text(text).c_str(), d_));
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
            count(out_.printf(" %-14.14s%c", run.sys.narrow(short_name).c_str(), d_));
        }
    }
    if (s_.LFN) {
        parts.base = platform::ascii_upper(parts.base);
        parts.extension = platform::ascii_upper(parts.extension);
        const std::u16string text =
            (s_.EXT == 0 || s_.EXT == 2) ? parts.base + parts.extension : parts.base;
        const std::string narrow = field_text(text);
        const int width = static_cast<int>(run.lfn_width);
        const int precision = std::min<int>(static_cast<int>(narrow.size()), width);
        count(out_.printf(" %-*.*s%c", width, precision, narrow.c_str(), d_));
    }
    if (s_.EXT != 0 && !s_.fixed) {
        if (parts.extension.size() > 1)
            count(out_.printf("%6.6s%c",
                              field_text(platform::ascii_upper(parts.extension.substr(1))).c_str(),
                              d_));
        else
            count(out_.printf(" -----%c", d_));
    }
    if (s_.EXT != 0) {
        const std::u16string shown = short_name.empty() ? run.entry.name : short_name;
        count(out_.printf(" %13.13s%c", run.sys.narrow(shown).c_str(), d_));
    }
}

void RecordWriter::write_fields() {
    Run& run = run_;
    if (s_.SEQUENCE) count(out_.printf("%06ld%c", long(run.sequence_counter++), d_));
    if (s_.label) count(out_.printf("%s%c", run.label_text.c_str(), d_));
    if (s_.COMMENT) count(out_.printf("%s%c", run.sys.narrow(run.comment_text).c_str(), d_));

    write_path_column();
    if (s_.NAMEONLY) return;

    const auto size = static_cast<long long>(run.entry.size);
    if (s_.VAR)
        count(out_.printf("%lld%c", size, d_));
    else
        count(out_.printf(" %*lld%c", 20, size, d_));
    count(out_.printf("%s.%c", run.attr_letters.c_str(), d_));

    if (s_.signature_check == 1 || s_.signature_check == 2)
        count(out_.printf(" %3.3s%c", run.category_text.c_str(), d_));
    else if (s_.fixed)
        count(out_.printf("    %c", d_));

    if (s_.CRC || s_.HASH || s_.SHA) {
        // One read of the file feeds every digest asked for.
        const DigestTexts digests = digest_file(
            run, run.pg_complete_path,
            {.crc = s_.CRC != 0, .md5 = s_.HASH != 0, .sha1 = s_.SHA != 0}, is_directory_);
        if (s_.CRC) count(out_.printf(" %10.10s%c", digests.crc.c_str(), d_));
        if (s_.HASH) count(out_.printf(" %*.*s%c", 40, 40, digests.md5.c_str(), d_));
        if (s_.SHA) count(out_.printf(" %*.*s%c", 40, 40, digests.sha1.c_str(), d_));
    }
    if (!s_.CRC && !s_.HASH && !s_.SHA && s_.fixed) count(out_.printf("%*.*s%c", 10, 10, "", d_));

    if (s_.time_type != '0')
        count(static_cast<int>(write_time_columns(run, out_, run.entry_times)));

    if (s_.OUTPUT != 0) {
        count(out_.printf("%11.11s%c", run.volume_id_text.c_str(), d_));
        count(out_.printf("%12.12s%c", run.sys.narrow(run.volume_label).c_str(), d_));
    }

    write_name_columns();

    if (s_.owner >= 1)
        count(out_.printf(" %32.32s%c", owner_of_path(run, run.pg_complete_path).c_str(), d_));

    if (s_.NAMEAFTER) {
        const int n = run.nameafter_width < 0 ? 50 : run.nameafter_width;
        if (n > 0 && !s_.VAR) {
            const std::string text =
                field_text(std::u16string_view(run.display_path).substr(display_offset_));
            count(out_.printf("%-*.*s%c", n, n, text.c_str(), d_));
        } else {
            const std::string text =
                run.sys.narrow(std::u16string_view(run.pg_complete_path).substr(complete_offset_));
            count(out_.printf("%s%c", text.c_str(), d_));
        }
    }
    if (s_.SHOWLONG) {
        // The length as the user sees it, without the long-path prefix.
        const std::size_t shown = run.syntax.without_long_prefix(run.pg_complete_path).size();
        count(out_.printf("Len=%3d%c", static_cast<int>(shown), d_));
    }
}

void RecordWriter::write_follow_up() {
    Run& run = run_;
    // Streams are listed only when the first start path's volume can carry
    // them, so a run that starts on FAT lists none on later NTFS paths either.
    if (!s_.NO_ADS && s_.STREAM && run.streams_volume && !is_directory_) {
        const std::uint32_t streams = enumerate_streams(run, run.pg_complete_path);
        for (std::uint32_t i = 0; i < streams; ++i) {
            ++run.files_found;
            ++run.console_lines;
            write_stream_line(run, i, run.pg_complete_path);
            if (s_.OUTPUT == 0 && s_.PAUSE && run.console_lines % run.page_length == 0)
                run.pause_listing();
        }
    }
    if (s_.OUTPUT == 0 && s_.PAUSE) {
        ++run.console_lines;
        if (run.console_lines % run.page_length == 0) run.pause_listing();
    }
    ++run.records_written;
    if (s_.ZIPLOG)
        run.zip_members_found += list_zip_members(run, run.pg_complete_path, run.entry.size);
    if (s_.RESET) restore_entry_times(run);
    if (s_.execute) run_file_command(run, run.pg_complete_path, directory_, name_);
    if (s_.SPLIT && run.split_lines > 0 && run.files_found % std::uint32_t(run.split_lines) == 0)
        next_split_file(run);
}

void RecordWriter::process() {
    Run& run = run_;
    if (!select()) return;

    if (!is_directory_) ++run.files_found;
    run.bytes_found += static_cast<std::int64_t>(run.entry.size);
    run.page_length = run.record_width <= 84 ? 24 : 12;
    if (run.sizing_pass) return;

    display_offset_ = drive_offset(run.syntax, run.display_path);
    complete_offset_ = drive_offset(run.syntax, run.pg_complete_path);
    ++run.entries_seen;
    run.line_length = 0;

    write_fields();
    count(static_cast<int>(out_.put('\n')));
    check_output_written(run);
    if (s_.NAMEONLY) return;
    run.max_line_length =
        std::max(run.max_line_length, static_cast<std::uint32_t>(run.line_length));
    write_follow_up();
}

}  // namespace

void process_entry(Run& run, const std::u16string& directory, const std::u16string* name) {
    RecordWriter(run, directory, name).process();
}
