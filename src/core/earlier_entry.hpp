// A row of a catalogue as the compare sees it: read back from an earlier
// catalogue, or filled from the row the run writes for an entry now, so
// that both sides of a compare have one shape.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

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

}  // namespace filarix
