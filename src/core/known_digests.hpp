// A set of known digests (--HASHSET), all of one kind, held as a sorted
// array of fixed-size values: a million SHA-256 digests take 32 MB and a
// lookup is a binary search.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "core/digest_registry.hpp"

namespace filarix {

class KnownDigests {
public:
    // The digest the set holds, once fixed.
    std::optional<DigestId> kind() const { return kind_; }
    std::size_t size() const;
    bool empty() const { return size() == 0; }

    // Fixes the kind; only digests of it can be added. Calling it again
    // with another kind does nothing.
    void set_kind(DigestId kind);
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

    std::optional<DigestId> kind_;
    std::variant<std::monostate, Digests<16>, Digests<20>, Digests<32>, Digests<64>> digests_;
};

}  // namespace filarix
