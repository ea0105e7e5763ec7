// A row of a catalogue as the compare sees it: read back from an earlier
// catalogue, or filled from the row the run writes for an entry now, so
// that both sides of a compare have one shape.
#pragma once

#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/digest_registry.hpp"

namespace filarix {

// One row of an earlier catalogue. Texts are as the file holds them; a
// field the file lacks is empty (absent for the size).
struct EarlierEntry {
    std::string kind;  // file, directory, link, stream, member...; "file" in checksum lists
    std::string path;  // the exact bytes of the name
    // A checksum list's path that does not begin at the root: the compare
    // takes it relative to the start path.
    bool relative_path = false;
    std::optional<std::int64_t> size;
    // Upper-case hexadecimal; empty where the row holds no digest of that
    // kind (null, a failure text, or no such column).
    std::array<std::string, digest_count> digests{};
    std::string modified;
    std::string attributes;
    std::string owner;
    std::string target;
    // The write and change times at the file system's full precision
    // (nanoseconds since 1970-01-01 UTC) and the file's identity; absent in
    // older listings, in checksum lists, and where the system cannot say.
    std::optional<std::int64_t> modified_ns;
    std::optional<std::int64_t> change_time_ns;
    std::optional<std::uint64_t> device;
    std::optional<std::uint64_t> inode;
    std::optional<std::uint64_t> links;

    const std::string& digest(DigestId id) const { return digests[digest_index(id)]; }
};

// A stored digest field as `digests` holds it: hexadecimal digits in upper
// case, or empty for a failure text, which is none.
inline void assign_stored_digest(std::string& hex, std::string_view text) {
    hex.assign(text);
    for (char& c : hex) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isxdigit(u)) {
            hex.clear();
            return;
        }
        c = static_cast<char>(std::toupper(u));
    }
}

inline std::string stored_digest(std::string_view text) {
    std::string hex;
    assign_stored_digest(hex, text);
    return hex;
}

// The bytes that hexadecimal digits stand for, as rows store exact names;
// false (and `out` undefined) for an odd count or a character that is not a
// hexadecimal digit, so a damaged row is refused rather than misread.
inline bool decode_hex(std::string_view hex, std::string& out) {
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = value(hex[i]);
        const int low = value(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high << 4 | low);
    }
    return true;
}

}  // namespace filarix
