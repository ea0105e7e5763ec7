#include "content/zip_walk.hpp"

#include <cstdarg>
#include <cstdio>

namespace filarix {

namespace {

// The number the open-failure message carries; fixed from one build to the next.
constexpr int zip_open_error_number = 226;

constexpr std::size_t local_header_size = 30;
constexpr std::uint32_t marked_zip64 = 0xFFFFFFFFu;
constexpr std::uint16_t zip64_block_id = 0x0001;
constexpr std::uint16_t flag_data_descriptor = 0x0008;

std::uint16_t u16_at(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t u32_at(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t u64_at(const unsigned char* p) {
    return static_cast<std::uint64_t>(u32_at(p)) |
           (static_cast<std::uint64_t>(u32_at(p + 4)) << 32);
}

// The sizes of a member whose local header marks them 0xFFFFFFFF, from its
// ZIP64 extended-information block. The block is looked for by its id
// rather than taken from the start of the extra field, so that another
// block written first is never read as sizes. A local header carries both
// sizes in the block (uncompressed first); a short block carries only the
// one that is marked.
bool zip64_sizes(const std::vector<unsigned char>& extra, bool need_uncompressed,
                 bool need_compressed, std::uint64_t& uncompressed, std::uint64_t& compressed) {
    std::size_t at = 0;
    while (extra.size() - at >= 4) {
        const std::uint16_t id = u16_at(extra.data() + at);
        const std::uint16_t size = u16_at(extra.data() + at + 2);
        const unsigned char* data = extra.data() + at + 4;
        if (size > extra.size() - at - 4) return false;
        if (id == zip64_block_id) {
            if (size >= 16) {
                if (need_uncompressed) uncompressed = u64_at(data);
                if (need_compressed) compressed = u64_at(data + 8);
                return true;
            }
            if (size >= 8 && need_uncompressed != need_compressed) {
                (need_uncompressed ? uncompressed : compressed) = u64_at(data);
                return true;
            }
            return false;
        }
        at += 4 + std::size_t{size};
    }
    return false;
}

// Control characters would break the line (or the listing's lines) apart.
std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return out;
}

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendf(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const std::size_t old = out.size();
        out.resize(old + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data() + old, static_cast<std::size_t>(n) + 1, format, again);
        out.resize(old + static_cast<std::size_t>(n));
    }
    va_end(again);
}

bool is_one_of(char c, const char* set) {
    for (; *set; ++set)
        if (c == *set) return true;
    return false;
}

// The walk proper; the result holds what was listed, the return value why
// the walk ended.
ZipStop walk_headers(platform::InputFile& file, std::uint64_t file_size,
                     const std::function<void(const ZipMember&)>& on_member, ZipWalk& walk) {
    std::vector<unsigned char> extra;
    // Where the file stands. Every step below moves it forward by at least
    // one header, and every length is checked against what is left of the
    // file before it is used, so the walk ends on any input.
    std::uint64_t position = 0;
    for (;;) {
        if (position >= file_size) return ZipStop::end_of_file;
        unsigned char header[local_header_size];
        const long long got = file.read_whole(header, sizeof header);
        if (got < 0) return ZipStop::read_error;
        if (got == 0) return ZipStop::end_of_file;
        // The whole signature, not only its letters: the central directory
        // that follows the last member begins with "PK" too, and read as a
        // local header it would list a member that is not there.
        static constexpr unsigned char signature[] = {'P', 'K', 3, 4};
        for (std::size_t i = 0; i < sizeof signature && i < static_cast<std::size_t>(got); ++i)
            if (header[i] != signature[i]) return ZipStop::not_a_header;
        if (static_cast<std::size_t>(got) < sizeof header ||
            file_size - position < local_header_size)
            return ZipStop::short_header;

        ZipMember member;
        member.header_offset = position;
        member.version_needed = u16_at(header + 4);
        member.flags = u16_at(header + 6);
        member.method = u16_at(header + 8);
        member.dos_time = u16_at(header + 10);
        member.dos_date = u16_at(header + 12);
        member.crc32 = u32_at(header + 14);
        const std::uint32_t compressed32 = u32_at(header + 18);
        const std::uint32_t uncompressed32 = u32_at(header + 22);
        const std::uint16_t name_length = u16_at(header + 26);
        const std::uint16_t extra_length = u16_at(header + 28);
        position += local_header_size;

        if (name_length == 0) return ZipStop::empty_name;
        if (name_length > file_size - position) return ZipStop::name_past_end;
        member.name.resize(name_length);
        const long long name_got = file.read_whole(member.name.data(), name_length);
        if (name_got < 0) return ZipStop::read_error;
        // Fewer bytes than the size promised: the file is shorter than
        // said, and the name runs past its real end.
        if (name_got < name_length) return ZipStop::name_past_end;
        position += name_length;

        if (extra_length > file_size - position) return ZipStop::extra_past_end;
        extra.resize(extra_length);
        if (extra_length > 0) {
            const long long extra_got = file.read_whole(extra.data(), extra_length);
            if (extra_got < 0) return ZipStop::read_error;
            if (extra_got < extra_length) return ZipStop::extra_past_end;
        }
        position += extra_length;

        member.compressed_size = compressed32;
        member.uncompressed_size = uncompressed32;
        const bool need_uncompressed = uncompressed32 == marked_zip64;
        const bool need_compressed = compressed32 == marked_zip64;
        if (need_uncompressed || need_compressed) {
            if (!zip64_sizes(extra, need_uncompressed, need_compressed, member.uncompressed_size,
                             member.compressed_size))
                return ZipStop::zip64_sizes_missing;
            member.zip64 = true;
        }
        // The data must end inside the file. This also stands for the test
        // of the stored size against the archive's size, with the size the
        // member really has, so that a ZIP64 member of a small archive is
        // listed rather than ending the walk.
        if (member.compressed_size > file_size - position) return ZipStop::data_past_end;

        // With flag bit 3 and no size in the header, the data's length is
        // written only after the data, and nothing in the header says
        // where the next member begins. Reading the data to search for the
        // descriptor would mean guessing (its signature is optional and the
        // data may hold the same bytes), and the central directory is not
        // consulted; so the member is listed as its header describes it and
        // the walk ends there, rather than reading the member's data as the
        // next header.
        const bool sizes_follow =
            (member.flags & flag_data_descriptor) != 0 && member.compressed_size == 0;
        const std::uint64_t skip = member.compressed_size;

        ++walk.count;
        if (on_member)
            on_member(member);
        else
            walk.members.push_back(std::move(member));
        if (sizes_follow) return ZipStop::sizes_in_descriptor;

        if (skip > 0) {
            position += skip;
            // Where a failed skip leaves the file is not known, and reading
            // on from there would take member data for headers; the walk
            // ends instead (the caller reports it and, at a console, waits).
            if (!file.seek(position)) {
                walk.message = "\nSeek Error";
                return ZipStop::seek_failed;
            }
        }
    }
}

}  // namespace

ZipWalk walk_zip_members(platform::InputFile& file, std::uint64_t file_size,
                         const std::function<void(const ZipMember&)>& on_member) {
    ZipWalk walk;
    walk.stop = walk_headers(file, file_size, on_member, walk);
    return walk;
}

std::string zip_open_failure_message(std::string_view path_text) {
    std::string out;
    appendf(out, "\nLine: %d Source file: %s: Ziplog check, can't open file :\n",
            zip_open_error_number, "d_zip_proc_64");
    out += printable(path_text);
    out += '\n';
    return out;
}

DosDateTime decode_dos_date_time(std::uint16_t dos_date, std::uint16_t dos_time) {
    DosDateTime t;
    t.year = 1980 + (dos_date >> 9);
    t.month = (dos_date >> 5) & 0x0F;
    t.day = dos_date & 0x1F;
    t.hour = dos_time >> 11;
    t.minute = (dos_time >> 5) & 0x3F;
    t.second = 2 * (dos_time & 0x1F);
    return t;
}

std::string format_zip_member_line(const ZipLineLayout& layout, std::string_view name_column,
                                   const ZipMember& member) {
    const char d = layout.delimiter;
    const char tt = layout.time_type;
    std::string line;
    if (layout.comment) appendf(line, "%s%c", printable(layout.comment_text).c_str(), d);
    appendf(line, "%-*.*s%c", layout.width, layout.width, printable(name_column).c_str(), d);
    appendf(line, " % *lld%c", 20, static_cast<long long>(member.uncompressed_size), d);
    appendf(line, "......%c", d);
    if (layout.category || layout.fixed) appendf(line, " %3.3s%c", "", d);
    // An archive supplies no digest: one blank column stands for it.
    if (layout.md5)
        appendf(line, " %32.32s%c", "", d);
    else if (layout.crc)
        appendf(line, " %8.8s%c", "", d);
    else if (layout.fixed)
        appendf(line, "%.*s%c", 10, "          ", d);

    const bool with_seconds = tt == '3' || layout.seconds;
    const auto blank_time = [&] {
        appendf(line, "%10.10s%c", "", d);
        appendf(line, "%5.5s", "");
        if (with_seconds) appendf(line, "%7.7s", "");
        appendf(line, " %c", d);
    };
    if (is_one_of(tt, "cC3")) blank_time();
    if (is_one_of(tt, "wW3")) {
        const DosDateTime t = decode_dos_date_time(member.dos_date, member.dos_time);
        if (layout.reverse)
            appendf(line, "%04d/%02d/%02d%c", t.year, t.month, t.day, d);
        else
            appendf(line, "%02d/%02d/%04d%c", t.month, t.day, t.year, d);
        appendf(line, "%02d:%02d", t.hour, t.minute);
        if (with_seconds) appendf(line, ":%02dw   ", t.second);
        appendf(line, " %c", d);
    }
    if (is_one_of(tt, "aA3")) blank_time();
    if (tt != '0')
        appendf(line, "%3.3s%c", "", d);
    else if (layout.output && layout.fixed)
        appendf(line, "%58.58s%c", "", d);

    std::string name = printable(member.name);
    if (layout.short_names && layout.long_name) {
        // The capitals stay for the extension column, as they do in the
        // file's own record.
        for (char& c : name)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        appendf(line, " %-*.*s%c", layout.long_name_width, layout.long_name_width, name.c_str(), d);
    }
    if (layout.short_names && layout.extension) {
        const std::size_t dot = name.rfind('.');
        const std::string ext = dot != std::string::npos && dot != 0 ? name.substr(dot + 1) : "";
        appendf(line, "%6.6s%c", ext.c_str(), d);
    }
    if (!layout.short_names && layout.fixed) appendf(line, "%.*s%c", 13, "             ", d);
    if (layout.owner) appendf(line, " %32.32s%c", "", d);
    line += '\n';
    return line;
}

}  // namespace filarix
