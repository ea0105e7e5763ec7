#include "core/known_digests.hpp"

#include <algorithm>
#include <type_traits>

namespace filarix {

namespace {

// The value of each byte as a hexadecimal digit, -1 for the others.
constexpr std::array<signed char, 256> hex_values = [] {
    std::array<signed char, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[std::size_t(c)] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                                 : -1);
    return values;
}();

int hex_value(char c) {
    return hex_values[static_cast<unsigned char>(c)];
}

template <std::size_t N>
bool parse(std::string_view hex, std::array<std::uint8_t, N>& out) {
    if (hex.size() != 2 * N) return false;
    for (std::size_t i = 0; i < N; ++i) {
        const int high = hex_value(hex[2 * i]);
        const int low = hex_value(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace

DigestKind digest_kind_of_hex_length(std::size_t digits) {
    switch (digits) {
        case 32:
            return DigestKind::md5;
        case 40:
            return DigestKind::sha1;
        case 64:
            return DigestKind::sha256;
        case 128:
            return DigestKind::sha512;
        default:
            return DigestKind::none;
    }
}

const char* digest_kind_name(DigestKind kind) {
    switch (kind) {
        case DigestKind::md5:
            return "MD5";
        case DigestKind::sha1:
            return "SHA-1";
        case DigestKind::sha256:
            return "SHA-256";
        case DigestKind::sha512:
            return "SHA-512";
        case DigestKind::none:
            break;
    }
    return "none";
}

std::size_t KnownDigests::size() const {
    return std::visit(
        [](const auto& v) -> std::size_t {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>)
                return 0;
            else
                return v.size();
        },
        digests_);
}

void KnownDigests::set_kind(DigestKind kind) {
    if (kind_ != DigestKind::none) return;
    kind_ = kind;
    switch (kind) {
        case DigestKind::md5:
            digests_ = Digests<16>{};
            break;
        case DigestKind::sha1:
            digests_ = Digests<20>{};
            break;
        case DigestKind::sha256:
            digests_ = Digests<32>{};
            break;
        case DigestKind::sha512:
            digests_ = Digests<64>{};
            break;
        case DigestKind::none:
            break;
    }
}

bool KnownDigests::add_hex(std::string_view hex) {
    return std::visit(
        [hex](auto& v) {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) {
                return false;
            } else {
                typename std::decay_t<decltype(v)>::value_type digest;
                if (!parse(hex, digest)) return false;
                v.push_back(digest);
                return true;
            }
        },
        digests_);
}

void KnownDigests::seal() {
    std::visit(
        [](auto& v) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) {
                v.shrink_to_fit();
                std::sort(v.begin(), v.end());
                v.erase(std::unique(v.begin(), v.end()), v.end());
            }
        },
        digests_);
}

bool KnownDigests::contains_hex(std::string_view hex) const {
    return std::visit(
        [hex](const auto& v) {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) {
                return false;
            } else {
                typename std::decay_t<decltype(v)>::value_type digest;
                return parse(hex, digest) && std::binary_search(v.begin(), v.end(), digest);
            }
        },
        digests_);
}

}  // namespace filarix
