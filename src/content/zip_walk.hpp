// The members of a ZIP archive, read from its central directory, or, when
// the archive has none that can be read, found by walking its local file
// headers from the start of the file; and the listing line of one member.
// Pure code: the caller opens the archive, prints the lines and the
// messages, and keeps the run-wide counts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace filarix {

// One member as the central directory (or its local header) describes it.
struct ZipMember {
    std::uint64_t header_offset = 0;  // where its local header starts
    std::uint16_t version_needed = 0;
    std::uint16_t flags = 0;   // bit 3: sizes in a trailing data descriptor; bit 11: UTF-8 name
    std::uint16_t method = 0;  // 0 stored, 8 deflated, ...
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t crc32 = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    bool zip64 = false;  // the sizes came from the ZIP64 extra block
    std::string name{};  // the name's bytes as stored, of any length
};

// Why the listing of an archive ended.
enum class ZipStop {
    not_an_archive,     // the file does not begin with a local header
    directory_read,     // the central directory was read to its end
    directory_damaged,  // an entry of the directory is cut short, malformed, or missing
    // Without a central directory the local headers are walked; where that
    // walk ended:
    end_of_file,          // no byte left where the next header would be
    short_header,         // fewer than 30 bytes left for a header
    not_a_header,         // no local-header signature (the directory's remains, or garbage)
    empty_name,           // a name length of 0
    name_past_end,        // the name would reach past the end of the file
    extra_past_end,       // the extra field would reach past the end of the file
    zip64_sizes_missing,  // sizes marked 0xFFFFFFFF with no ZIP64 block to hold them
    data_past_end,        // the member's data would reach past the end of the file
    sizes_in_descriptor,  // the member's size is only written after its data
    // Either way:
    read_error,   // a read reported failure, or the file is shorter than its size
    seek_failed,  // a move to another part of the file failed
};

struct ZipWalk {
    std::vector<ZipMember> members;  // empty when the caller took them one by one
    std::uint64_t count = 0;         // members listed: the routine's result
    ZipStop stop = ZipStop::not_an_archive;
    // Every member of the archive was listed, or the file is no archive.
    bool whole() const {
        return stop == ZipStop::not_an_archive || stop == ZipStop::directory_read;
    }
    // Printed on the standard error stream by the caller when not empty.
    // After "\nSeek Error" the caller waits for one key, but only when a
    // person is at the console, so that a piped run never stalls or eats
    // its input.
    std::string message;
};

// Lists the members of the file, which is positioned at its start and holds
// file_size bytes, when it begins with a local header. The central
// directory is found from the end record; only when there is none that can
// be read are the local headers walked, and a member whose size is written
// only after its data then ends the walk unlisted, as its size is unknown.
// With on_member, each member is handed over as soon as it is read and not
// kept, so that an archive of any number of members needs no memory;
// without it the members are collected in the result. The work is bounded
// by the file's size whatever its bytes say.
ZipWalk walk_zip_members(platform::InputFile& file, std::uint64_t file_size,
                         const std::function<void(const ZipMember&)>& on_member = {});

// The member's name: UTF-8 when flag bit 11 says so, or when its bytes are
// valid UTF-8 (archivers on Linux and macOS write UTF-8 without the flag);
// otherwise code page 437, the format's rule for names without the flag.
std::u16string zip_member_name(const ZipMember& member);

// The word on an archive that could not be read whole (standard error).
std::string zip_damaged_message(std::string_view path_text);

// The message of an archive that could not be opened (standard output).
std::string zip_open_failure_message(std::string_view path_text);

struct DosDateTime {
    int year = 1980;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The fields as stored, without a check of their ranges.
DosDateTime decode_dos_date_time(std::uint16_t dos_date, std::uint16_t dos_time);
// Whether the fields name a real moment: a date of 0 (no date was stored),
// a month 13 or a 30 February do not.
bool is_real_moment(const DosDateTime& t);

// The settings a member line reads; the caller fills it from the run's.
struct ZipLineLayout {
    char delimiter = ' ';
    bool comment = false;             // COMMENT
    std::string_view comment_text{};  // 8-bit
    int width = 54;                   // WIDTH: the name column
    bool category = false;            // signature_check not 0
    bool fixed = false;
    bool md5 = false;  // HASH
    bool crc = false;  // CRC
    char time_type = 'w';
    bool seconds = false;
    bool reverse = false;      // REVERSE
    bool output = false;       // OUTPUT not 0
    bool short_names = false;  // 8.3
    bool long_name = false;    // LFN
    bool extension = false;    // EXT not 0
    int long_name_width = 33;  // the record's long-name width
    bool owner = false;        // owner not 0
};

// One member line, ending in "\n". name_column is the archive's path,
// ">>" and the member's name, already shortened to the width as the
// record's path column is; member_name is the member's name in the
// listing's bytes, for the long-name and extension columns. Control
// characters in both are written as '?', so that no name can add a line.
std::string format_zip_member_line(const ZipLineLayout& layout, std::string_view name_column,
                                   std::string_view member_name, const ZipMember& member);

}  // namespace filarix
