// The Windows backend's pure rules, kept free of OS headers so that they
// are tested on any host: argument quoting for child command lines, the
// backup stream header and local-time arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The target named by a link's reparse data (the answer to
// FSCTL_GET_REPARSE_POINT): a symbolic link's or a junction's print name,
// else its substitute name without its "\??\" prefix. Nothing for another
// kind of reparse point or for data that does not hold together.
inline constexpr std::uint32_t reparse_tag_mount_point = 0xA0000003u;
inline constexpr std::uint32_t reparse_tag_symlink = 0xA000000Cu;
inline std::optional<std::u16string> reparse_link_target(const unsigned char* data,
                                                         std::size_t size) {
    const auto at16 = [&](std::size_t i) {
        return static_cast<std::size_t>(data[i] | (static_cast<unsigned>(data[i + 1]) << 8));
    };
    if (size < 16) return std::nullopt;
    const std::uint32_t tag = little_endian32(data);
    std::size_t names_at = 0;
    if (tag == reparse_tag_symlink)
        names_at = 20;  // after the flags
    else if (tag == reparse_tag_mount_point)
        names_at = 16;
    else
        return std::nullopt;
    const auto name = [&](std::size_t offset, std::size_t length) -> std::optional<std::u16string> {
        const std::size_t from = names_at + offset;
        if (length % 2 != 0 || from > size || length > size - from) return std::nullopt;
        std::u16string text(length / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(at16(from + 2 * i));
        return text;
    };
    if (size < names_at) return std::nullopt;
    auto shown = name(at16(12), at16(14));
    if (shown && !shown->empty()) return shown;
    auto substitute = name(at16(8), at16(10));
    if (substitute && substitute->starts_with(u"\\??\\")) substitute->erase(0, 4);
    return substitute;
}

// Seconds since 1970 of a local civil time read as if it were UTC; fields
// out of their ranges carry over, as mktime lets them.
inline std::int64_t civil_seconds(const CivilTime& when) {
    return days_from_civil(when.year, when.month, when.day) * 86400 +
           static_cast<std::int64_t>(when.hour) * 3600 +
           static_cast<std::int64_t>(when.minute) * 60 + when.second;
}

}  // namespace platform::win32
