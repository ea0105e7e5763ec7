#include "content/zip_walk.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace filarix {

namespace {

// The number the open-failure message carries; fixed from one build to the next.
constexpr int zip_open_error_number = 226;

constexpr std::size_t local_header_size = 30;
constexpr std::uint32_t marked_zip64 = 0xFFFFFFFFu;
constexpr std::uint16_t zip64_block_id = 0x0001;
constexpr std::uint16_t flag_data_descriptor = 0x0008;
constexpr std::uint16_t flag_utf8_name = 0x0800;

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

// Reads a span of the file that lies between two known offsets (the central
// directory) in large pieces, and hands out its records whole.
class SpanReader {
public:
    SpanReader(platform::InputFile& file, std::uint64_t length) : file_(file), left_(length) {}

    // Bytes of the span not yet handed out.
    std::uint64_t remaining() const { return left_ + (buffer_.size() - at_); }

    // The next n bytes, left in place, or nullptr when the span holds
    // fewer or a read fails (failed() then tells which).
    const unsigned char* peek(std::size_t n) {
        if (buffer_.size() - at_ < n) {
            if (n > remaining()) return nullptr;
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at_));
            at_ = 0;
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(left_, std::max<std::size_t>(n - buffer_.size(), piece)));
            const std::size_t kept = buffer_.size();
            buffer_.resize(kept + want);
            const long long got = file_.read_whole(buffer_.data() + kept, want);
            if (got != static_cast<long long>(want)) {
                failed_ = true;
                return nullptr;
            }
            left_ -= want;
        }
        return buffer_.data() + at_;
    }
    // The next n bytes, handed out.
    const unsigned char* take(std::size_t n) {
        const unsigned char* p = peek(n);
        if (p != nullptr) at_ += n;
        return p;
    }
    bool failed() const { return failed_; }

private:
    static constexpr std::size_t piece = 64 * 1024;
    platform::InputFile& file_;
    std::uint64_t left_;
    std::vector<unsigned char> buffer_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

// Where the central directory lies, from the end record.
struct Directory {
    std::uint64_t start = 0;    // where it really begins in this file
    std::uint64_t size = 0;     // its length in bytes
    std::uint64_t entries = 0;  // the member count the end record states
    bool zip64 = false;         // the count is the ZIP64 record's (else 16 bits)
    std::uint64_t shift = 0;    // bytes before the archive's own offset 0
};

enum class Found { yes, no, read_error, seek_failed };

Found read_at(platform::InputFile& file, std::uint64_t offset, unsigned char* out, std::size_t n) {
    if (!file.seek(offset)) return Found::seek_failed;
    const long long got = file.read_whole(out, n);
    if (got < 0) return Found::read_error;
    return got == static_cast<long long>(n) ? Found::yes : Found::no;
}

constexpr std::size_t end_record_size = 22;
constexpr std::size_t zip64_locator_size = 20;
constexpr std::size_t zip64_end_record_size = 56;
constexpr std::size_t central_entry_size = 46;
constexpr std::size_t longest_comment = 0xFFFF;

bool has_signature(const unsigned char* p, unsigned char third, unsigned char fourth) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

// Bytes of the file, from its last 64 KiB when they lie there (the end
// record and what stands before it mostly do), else read.
class Tail {
public:
    Tail(platform::InputFile& file, std::uint64_t start, std::vector<unsigned char> bytes)
        : file_(file), start_(start), bytes_(std::move(bytes)) {}
    Found at(std::uint64_t offset, unsigned char* out, std::size_t n) const {
        if (offset >= start_ && offset - start_ <= bytes_.size() &&
            bytes_.size() - (offset - start_) >= n) {
            std::copy_n(bytes_.data() + (offset - start_), n, out);
            return Found::yes;
        }
        return read_at(file_, offset, out, n);
    }
    const unsigned char* data() const { return bytes_.data(); }

private:
    platform::InputFile& file_;
    std::uint64_t start_;
    std::vector<unsigned char> bytes_;
};

// The directory an end record at `at` describes, when its numbers fit the
// file. `record` holds the record's 22 bytes.
Found directory_of(const Tail& tail, std::uint64_t at, const unsigned char* record,
                   Directory& dir) {
    std::uint64_t entries = u16_at(record + 10);
    std::uint64_t size = u32_at(record + 12);
    std::uint64_t offset = u32_at(record + 16);
    // The directory ends where the end record (or the ZIP64 record that
    // stands before it) begins.
    std::uint64_t ends_at = at;
    dir.zip64 = false;
    if (at >= zip64_locator_size) {
        unsigned char locator[zip64_locator_size];
        const Found got = tail.at(at - zip64_locator_size, locator, sizeof locator);
        if (got == Found::read_error || got == Found::seek_failed) return got;
        if (got == Found::yes && has_signature(locator, 6, 7)) {
            // The record where the locator says, or, in an archive with bytes
            // before it, right before the locator.
            const std::uint64_t stated = u64_at(locator + 8);
            const std::uint64_t before = at - zip64_locator_size;
            bool found = false;
            unsigned char record64[zip64_end_record_size];
            for (const std::uint64_t where :
                 {stated,
                  before >= zip64_end_record_size ? before - zip64_end_record_size : before}) {
                if (found || where > before || before - where < zip64_end_record_size) continue;
                const Found r = tail.at(where, record64, sizeof record64);
                if (r == Found::read_error || r == Found::seek_failed) return r;
                if (r == Found::yes && has_signature(record64, 6, 6)) {
                    found = true;
                    ends_at = where;
                }
            }
            if (!found) return Found::no;
            entries = u64_at(record64 + 32);
            size = u64_at(record64 + 40);
            offset = u64_at(record64 + 48);
            dir.zip64 = true;
        }
    }
    // Every entry takes 46 bytes at least: a count the directory cannot
    // hold is no count of it.
    if (size > ends_at || entries > size / central_entry_size) return Found::no;
    dir.start = ends_at - size;
    dir.size = size;
    dir.entries = entries;
    dir.shift = dir.start >= offset ? dir.start - offset : 0;
    return Found::yes;
}

// Finds the end record in the file's last 64 KiB and the directory it
// describes. The record is looked for from the end backwards, first among
// those whose comment reaches exactly to the end of the file, so that
// "PK\5\6" inside a comment is not taken for it; then among the others,
// for an archive with bytes appended or its comment cut.
Found find_directory(platform::InputFile& file, std::uint64_t file_size, Directory& dir) {
    if (file_size < end_record_size) return Found::no;
    const std::size_t tail_size = static_cast<std::size_t>(
        std::min<std::uint64_t>(file_size, end_record_size + longest_comment));
    const std::uint64_t tail_start = file_size - tail_size;
    std::vector<unsigned char> bytes(tail_size);
    const Found got = read_at(file, tail_start, bytes.data(), bytes.size());
    if (got != Found::yes) return got == Found::no ? Found::read_error : got;
    const Tail tail(file, tail_start, std::move(bytes));
    for (const bool exact : {true, false}) {
        for (std::size_t at = tail_size - end_record_size + 1; at-- > 0;) {
            const unsigned char* record = tail.data() + at;
            if (!has_signature(record, 5, 6)) continue;
            const std::size_t after = tail_size - at - end_record_size;
            // A comment cut short still leaves the directory whole.
            if (exact != (u16_at(record + 20) == after)) continue;
            const Found r = directory_of(tail, tail_start + at, record, dir);
            if (r != Found::no) return r;
        }
    }
    return Found::no;
}

// The ZIP64 block of a directory entry holds only the values whose 32-bit
// fields are marked, in this order: uncompressed size, compressed size,
// offset of the local header.
bool central_zip64(const unsigned char* extra, std::size_t length, ZipMember& m, bool need_u,
                   bool need_c, bool need_offset) {
    std::size_t at = 0;
    while (length - at >= 4) {
        const std::uint16_t id = u16_at(extra + at);
        const std::uint16_t size = u16_at(extra + at + 2);
        if (size > length - at - 4) return false;
        if (id == zip64_block_id) {
            const unsigned char* data = extra + at + 4;
            std::size_t used = 0;
            for (const auto& [need, value] :
                 {std::pair{need_u, &m.uncompressed_size}, std::pair{need_c, &m.compressed_size},
                  std::pair{need_offset, &m.header_offset}}) {
                if (!need) continue;
                if (size - used < 8) return false;
                *value = u64_at(data + used);
                used += 8;
            }
            return true;
        }
        at += 4 + std::size_t{size};
    }
    return false;
}

// Lists the entries of the directory; the members before a damaged entry
// stay listed.
ZipStop read_directory(platform::InputFile& file, const Directory& dir,
                       const std::function<void(const ZipMember&)>& on_member, ZipWalk& walk) {
    if (!file.seek(dir.start)) {
        walk.message = "\nSeek Error";
        return ZipStop::seek_failed;
    }
    SpanReader span(file, dir.size);
    std::uint64_t listed = 0;
    while (span.remaining() > 0) {
        const unsigned char* p = span.peek(4);
        if (p == nullptr) return span.failed() ? ZipStop::read_error : ZipStop::directory_damaged;
        // The directory's digital signature closes it.
        if (has_signature(p, 5, 5)) break;
        if (!has_signature(p, 1, 2)) return ZipStop::directory_damaged;
        const unsigned char* h = span.take(central_entry_size);
        if (h == nullptr) return span.failed() ? ZipStop::read_error : ZipStop::directory_damaged;
        ZipMember m;
        m.version_needed = u16_at(h + 6);
        m.flags = u16_at(h + 8);
        m.method = u16_at(h + 10);
        m.dos_time = u16_at(h + 12);
        m.dos_date = u16_at(h + 14);
        m.crc32 = u32_at(h + 16);
        m.compressed_size = u32_at(h + 20);
        m.uncompressed_size = u32_at(h + 24);
        const std::size_t name_length = u16_at(h + 28);
        const std::size_t extra_length = u16_at(h + 30);
        const std::size_t comment_length = u16_at(h + 32);
        m.header_offset = u32_at(h + 42);
        const bool need_u = m.uncompressed_size == marked_zip64;
        const bool need_c = m.compressed_size == marked_zip64;
        const bool need_offset = m.header_offset == marked_zip64;

        const unsigned char* rest = span.take(name_length + extra_length + comment_length);
        if (rest == nullptr)
            return span.failed() ? ZipStop::read_error : ZipStop::directory_damaged;
        m.name.assign(reinterpret_cast<const char*>(rest), name_length);
        if (need_u || need_c || need_offset) {
            if (!central_zip64(rest + name_length, extra_length, m, need_u, need_c, need_offset))
                return ZipStop::directory_damaged;
            m.zip64 = need_u || need_c;
        }
        m.header_offset += dir.shift;
        ++listed;
        ++walk.count;
        if (on_member)
            on_member(m);
        else
            walk.members.push_back(std::move(m));
    }
    // Without ZIP64 the count has 16 bits, and writers of more members
    // than that keep only its low bits.
    const std::uint64_t stated = dir.entries;
    if (dir.zip64 ? listed != stated : (listed & 0xFFFF) != stated)
        return ZipStop::directory_damaged;
    return ZipStop::directory_read;
}

// The walk of the local headers, for an archive without a readable central
// directory; the result holds what was listed, the return value why the
// walk ended.
ZipStop walk_headers(platform::InputFile& file, std::uint64_t file_size,
                     const std::function<void(const ZipMember&)>& on_member, ZipWalk& walk) {
    std::vector<unsigned char> extra;
    if (!file.seek(0)) {
        walk.message = "\nSeek Error";
        return ZipStop::seek_failed;
    }
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

        // With flag bit 3 and no size in the header, the sizes are written
        // only after the data, and nothing in the header says where the
        // next member begins. Reading the data to search for the descriptor
        // would mean guessing (its signature is optional and the data may
        // hold the same bytes), so the walk ends here; the member is not
        // listed, as a size of 0 would be false.
        if ((member.flags & flag_data_descriptor) != 0 && member.compressed_size == 0)
            return ZipStop::sizes_in_descriptor;
        const std::uint64_t skip = member.compressed_size;

        ++walk.count;
        if (on_member)
            on_member(member);
        else
            walk.members.push_back(std::move(member));

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

ZipStop list_members(platform::InputFile& file, std::uint64_t file_size,
                     const std::function<void(const ZipMember&)>& on_member, ZipWalk& walk) {
    // The contents decide, as ever: an archive begins with a local header.
    unsigned char start[4];
    // A file whose first bytes cannot be read was never seen to be one.
    const long long got = file.read_whole(start, sizeof start);
    if (got < 4 || !has_signature(start, 3, 4)) return ZipStop::not_an_archive;
    Directory dir;
    switch (find_directory(file, file_size, dir)) {
        case Found::yes:
            return read_directory(file, dir, on_member, walk);
        case Found::read_error:
            return ZipStop::read_error;
        case Found::seek_failed:
            walk.message = "\nSeek Error";
            return ZipStop::seek_failed;
        case Found::no:
            break;
    }
    return walk_headers(file, file_size, on_member, walk);
}

// Code page 437 above ASCII; below 0x80 it is ASCII.
constexpr char16_t cp437_high[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// A low surrogate with no high one before it is where the lossless
// conversion kept a byte that was not UTF-8.
bool converted_whole(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xDC00 && c <= 0xDFFF && (i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF))
            return false;
    }
    return true;
}

}  // namespace

ZipWalk walk_zip_members(platform::InputFile& file, std::uint64_t file_size,
                         const std::function<void(const ZipMember&)>& on_member) {
    ZipWalk walk;
    walk.stop = list_members(file, file_size, on_member, walk);
    return walk;
}

std::u16string zip_member_name(const ZipMember& member) {
    std::u16string utf8 = platform::utf8_to_utf16_lossless(member.name);
    if ((member.flags & flag_utf8_name) != 0 || converted_whole(utf8)) return utf8;
    std::u16string out;
    out.reserve(member.name.size());
    for (const char ch : member.name) {
        const auto c = static_cast<unsigned char>(ch);
        out.push_back(c < 0x80 ? char16_t{c} : cp437_high[c - 0x80]);
    }
    return out;
}

std::string zip_damaged_message(std::string_view path_text) {
    return "\nZiplog check, archive cannot be read whole, members may be missing: " +
           printable(path_text) + "\n";
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

bool is_real_moment(const DosDateTime& t) {
    static constexpr int month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > month_days[t.month - 1]) return false;
    const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
    if (t.month == 2 && t.day == 29 && !leap) return false;
    return t.hour < 24 && t.minute < 60 && t.second < 60;
}

std::string format_zip_member_line(const ZipLineLayout& layout, std::string_view name_column,
                                   std::string_view member_name, const ZipMember& member) {
    const char d = layout.delimiter;
    const char tt = layout.time_type;
    std::string line;
    if (layout.comment) appendf(line, "%s%c", printable(layout.comment_text).c_str(), d);
    appendf(line, "%-*.*s%c", layout.width, layout.width, printable(name_column).c_str(), d);
    // Unsigned: a ZIP64 size past 2^63 - 1 is shown as stored, not as a
    // negative number; every smaller size prints as before.
    appendf(line, " %*llu%c", 20, static_cast<unsigned long long>(member.uncompressed_size), d);
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

    std::string name = printable(member_name);
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
