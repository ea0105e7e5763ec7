// A set of known digests (--HASHSET), all of one kind, held as a sorted
// array of fixed-size values: a million SHA-256 digests take 32 MB and a
// lookup is a binary search.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

namespace filarix {

// The kinds a set can hold, told apart by the length of their digests.
enum class DigestKind : std::uint8_t { none, md5, sha1, sha256, sha512 };

// The kind of a digest of this many hexadecimal digits; none for others.
DigestKind digest_kind_of_hex_length(std::size_t digits);
// "MD5", "SHA-1", "SHA-256", "SHA-512".
const char* digest_kind_name(DigestKind kind);

class KnownDigests {
public:
    DigestKind kind() const { return kind_; }
    std::size_t size() const;
    bool empty() const { return size() == 0; }

    // Fixes the kind; only digests of it can be added. Calling it again
    // with another kind does nothing.
    void set_kind(DigestKind kind);
    // Adds one digest given as hexadecimal digits of the set's kind
    // (either case); false when the text is not such a digest.
    bool add_hex(std::string_view hex);
    // Sorts and drops repeats; the lookups need it after the last add.
    void seal();

    // Whether a digest (hexadecimal text of the set's kind) is in the set.
    bool contains_hex(std::string_view hex) const;

private:
    template <std::size_t N>
    using Digests = std::vector<std::array<std::uint8_t, N>>;

    DigestKind kind_ = DigestKind::none;
    std::variant<std::monostate, Digests<16>, Digests<20>, Digests<32>, Digests<64>> digests_;
};

}  // namespace filarix
