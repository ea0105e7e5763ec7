// The Windows backend's pure rules, kept free of OS headers so that they
// are tested on any host: argument quoting for child command lines, the
// backup stream header and local-time arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace platform::win32 {

// Appends one argument so that the runtime's argument parser reads it back
// unchanged: quoted when empty or holding a blank, a tab, a quote or a
// character the command interpreter would act on (so a name that a program
// such as cmd passes on stays one word), with
// the backslashes before a quote (and before the closing quote) doubled.
inline void append_command_argument(std::u16string& line, std::u16string_view arg) {
    if (!arg.empty() && arg.find_first_of(u" \t\n\v\"&|<>^()%!") == std::u16string_view::npos) {
        line += arg;
        return;
    }
    line += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : arg) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, u'\\');
    line += u'"';
}

// The fixed part of a backup stream header (little-endian), before its name.
inline constexpr std::size_t stream_header_size = 20;
struct StreamHeader {
    std::uint32_t id = 0;
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    std::uint32_t name_bytes = 0;
};
inline std::uint32_t little_endian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline StreamHeader parse_stream_header(const unsigned char* p) {
    StreamHeader h;
    h.id = little_endian32(p);
    h.attributes = little_endian32(p + 4);
    h.size = static_cast<std::int64_t>(static_cast<std::uint64_t>(little_endian32(p + 8)) |
                                       (static_cast<std::uint64_t>(little_endian32(p + 12)) << 32));
    h.name_bytes = little_endian32(p + 16);
    return h;
}

// Seconds since 1970 of a local civil time read as if it were UTC; fields
// out of their ranges carry over, as mktime lets them.
inline std::int64_t civil_seconds(const CivilTime& when) {
    return days_from_civil(when.year, when.month, when.day) * 86400 +
           static_cast<std::int64_t>(when.hour) * 3600 +
           static_cast<std::int64_t>(when.minute) * 60 + when.second;
}

}  // namespace platform::win32
