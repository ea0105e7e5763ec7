// The digests the program knows by name, and a set of them: what a record
// shows or a request asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace filarix {

// In the order of the record's columns.
enum class DigestId : std::uint8_t { crc, md5, sha1, sha256, sha512, sha3, xxh3, blake3 };
inline constexpr std::size_t digest_count = 8;

inline constexpr std::size_t digest_index(DigestId id) {
    return static_cast<std::size_t>(id);
}

// The digests of a record or a request, one bit each.
class DigestSet {
public:
    constexpr DigestSet() = default;
    constexpr DigestSet(std::initializer_list<DigestId> ids) {
        for (DigestId id : ids) add(id);
    }
    constexpr void add(DigestId id) { bits_ |= bit(id); }
    constexpr void remove(DigestId id) { bits_ &= ~bit(id); }
    constexpr void set(DigestId id, bool wanted) { wanted ? add(id) : remove(id); }
    constexpr bool has(DigestId id) const { return (bits_ & bit(id)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr unsigned bits() const { return bits_; }
    constexpr static unsigned bit(DigestId id) { return 1u << digest_index(id); }
    constexpr bool operator==(const DigestSet&) const = default;

private:
    unsigned bits_ = 0;
};

}  // namespace filarix
