#include "content/sha3.hpp"

#include <bit>
#include <cstring>

namespace filarix {

namespace {

constexpr std::size_t rate_lanes = Sha3_256::rate / 8;

constexpr std::uint64_t round_constants[24] = {
    0x0000000000000001u, 0x0000000000008082u, 0x800000000000808Au, 0x8000000080008000u,
    0x000000000000808Bu, 0x0000000080000001u, 0x8000000080008081u, 0x8000000000008009u,
    0x000000000000008Au, 0x0000000000000088u, 0x0000000080008009u, 0x000000008000000Au,
    0x000000008000808Bu, 0x800000000000008Bu, 0x8000000000008089u, 0x8000000000008003u,
    0x8000000000008002u, 0x8000000000000080u, 0x000000000000800Au, 0x800000008000000Au,
    0x8000000080008081u, 0x8000000000008080u, 0x0000000080000001u, 0x8000000080008008u};

inline std::uint64_t load_le64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Lane (x, y) lives in a variable named prefix, x, y: a23 is x = 2, y = 3.
// A round reads one set of 25 and writes the other, so two rounds bring the
// state back to the names it started in without any copying.

// Theta: every lane takes in the parities of the two neighbouring columns.
#define KECCAK_THETA(A)                         \
    c0 = A##00 ^ A##01 ^ A##02 ^ A##03 ^ A##04; \
    c1 = A##10 ^ A##11 ^ A##12 ^ A##13 ^ A##14; \
    c2 = A##20 ^ A##21 ^ A##22 ^ A##23 ^ A##24; \
    c3 = A##30 ^ A##31 ^ A##32 ^ A##33 ^ A##34; \
    c4 = A##40 ^ A##41 ^ A##42 ^ A##43 ^ A##44; \
    d0 = c4 ^ std::rotl(c1, 1);                 \
    d1 = c0 ^ std::rotl(c2, 1);                 \
    d2 = c1 ^ std::rotl(c3, 1);                 \
    d3 = c2 ^ std::rotl(c4, 1);                 \
    d4 = c3 ^ std::rotl(c0, 1);

// Chi on output row Y, whose five lanes rho and pi have gathered into b0..b4.
#define KECCAK_CHI(E, Y)       \
    E##0##Y = b0 ^ (~b1 & b2); \
    E##1##Y = b1 ^ (~b2 & b3); \
    E##2##Y = b2 ^ (~b3 & b4); \
    E##3##Y = b3 ^ (~b4 & b0); \
    E##4##Y = b4 ^ (~b0 & b1);

// Output lane (X, Y) comes from input lane (X + 3Y mod 5, X), rotated by
// that lane's fixed offset.
#define KECCAK_ROUND(A, E, rc)      \
    KECCAK_THETA(A)                 \
    b0 = A##00 ^ d0;                \
    b1 = std::rotl(A##11 ^ d1, 44); \
    b2 = std::rotl(A##22 ^ d2, 43); \
    b3 = std::rotl(A##33 ^ d3, 21); \
    b4 = std::rotl(A##44 ^ d4, 14); \
    KECCAK_CHI(E, 0)                \
    E##00 ^= (rc);                  \
    b0 = std::rotl(A##30 ^ d3, 28); \
    b1 = std::rotl(A##41 ^ d4, 20); \
    b2 = std::rotl(A##02 ^ d0, 3);  \
    b3 = std::rotl(A##13 ^ d1, 45); \
    b4 = std::rotl(A##24 ^ d2, 61); \
    KECCAK_CHI(E, 1)                \
    b0 = std::rotl(A##10 ^ d1, 1);  \
    b1 = std::rotl(A##21 ^ d2, 6);  \
    b2 = std::rotl(A##32 ^ d3, 25); \
    b3 = std::rotl(A##43 ^ d4, 8);  \
    b4 = std::rotl(A##04 ^ d0, 18); \
    KECCAK_CHI(E, 2)                \
    b0 = std::rotl(A##40 ^ d4, 27); \
    b1 = std::rotl(A##01 ^ d0, 36); \
    b2 = std::rotl(A##12 ^ d1, 10); \
    b3 = std::rotl(A##23 ^ d2, 15); \
    b4 = std::rotl(A##34 ^ d3, 56); \
    KECCAK_CHI(E, 3)                \
    b0 = std::rotl(A##20 ^ d2, 62); \
    b1 = std::rotl(A##31 ^ d3, 55); \
    b2 = std::rotl(A##42 ^ d4, 39); \
    b3 = std::rotl(A##03 ^ d0, 41); \
    b4 = std::rotl(A##14 ^ d1, 2);  \
    KECCAK_CHI(E, 4)

// Applies M(xy, i) to every lane, i = x + 5y being its place in the state array.
// clang-format off
#define KECCAK_EACH_LANE(M)                                                  \
    M(00, 0)  M(10, 1)  M(20, 2)  M(30, 3)  M(40, 4)                         \
    M(01, 5)  M(11, 6)  M(21, 7)  M(31, 8)  M(41, 9)                         \
    M(02, 10) M(12, 11) M(22, 12) M(32, 13) M(42, 14)                        \
    M(03, 15) M(13, 16) M(23, 17) M(33, 18) M(43, 19)                        \
    M(04, 20) M(14, 21) M(24, 22) M(34, 23) M(44, 24)
// clang-format on

#define KECCAK_DECLARE(xy, i) std::uint64_t a##xy = s[i], e##xy;
#define KECCAK_TAKE_IN(xy, i) \
    if constexpr (i < rate_lanes) a##xy ^= load_le64(p + 8 * i);
#define KECCAK_STORE(xy, i) s[i] = a##xy;

// XORs each block into the first rate_lanes lanes and applies Keccak-f[1600]
// to it. With no input (p null), one bare permutation. The lanes are named
// variables rather than an array so that they can stay in registers.
void absorb(std::uint64_t* s, const std::uint8_t* p, std::size_t blocks) {
    KECCAK_EACH_LANE(KECCAK_DECLARE)
    std::uint64_t b0, b1, b2, b3, b4, c0, c1, c2, c3, c4, d0, d1, d2, d3, d4;
    while (blocks--) {
        if (p != nullptr) {
            KECCAK_EACH_LANE(KECCAK_TAKE_IN)
            p += Sha3_256::rate;
        }
        for (int round = 0; round < 24; round += 2) {
            KECCAK_ROUND(a, e, round_constants[round])
            KECCAK_ROUND(e, a, round_constants[round + 1])
        }
    }
    KECCAK_EACH_LANE(KECCAK_STORE)
}

#undef KECCAK_THETA
#undef KECCAK_CHI
#undef KECCAK_ROUND
#undef KECCAK_EACH_LANE
#undef KECCAK_DECLARE
#undef KECCAK_TAKE_IN
#undef KECCAK_STORE

// XORs bytes into the state from byte offset `at` on, lanes being little-endian.
void absorb_bytes(std::uint64_t* s, std::size_t at, const std::uint8_t* p, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i, ++at) s[at / 8] ^= std::uint64_t{p[i]} << (8 * (at % 8));
}

}  // namespace

void Sha3_256::reset() {
    std::memset(state_, 0, sizeof state_);
    absorbed_ = 0;
}

void Sha3_256::update(const void* data, std::size_t size) {
    auto p = static_cast<const std::uint8_t*>(data);
    if (absorbed_ != 0) {
        const std::size_t take = size < rate - absorbed_ ? size : rate - absorbed_;
        absorb_bytes(state_, absorbed_, p, take);
        absorbed_ += take;
        p += take;
        size -= take;
        if (absorbed_ < rate) return;
        absorb(state_, nullptr, 1);
        absorbed_ = 0;
    }
    // Whole blocks go into the permutation straight from the caller.
    if (size >= rate) {
        const std::size_t blocks = size / rate;
        absorb(state_, p, blocks);
        p += blocks * rate;
        size -= blocks * rate;
    }
    absorb_bytes(state_, 0, p, size);
    absorbed_ = size;
}

std::array<std::uint8_t, 32> Sha3_256::finish() {
    // The SHA-3 domain bits 01, then the pad10*1 rule: 0x06 after the
    // message and 0x80 in the last byte of the block, the same byte when
    // only one is left.
    const std::uint8_t domain = 0x06, last = 0x80;
    absorb_bytes(state_, absorbed_, &domain, 1);
    absorb_bytes(state_, rate - 1, &last, 1);
    absorb(state_, nullptr, 1);
    std::array<std::uint8_t, 32> digest;
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<std::uint8_t>(state_[i / 8] >> (8 * (i % 8)));
    reset();
    return digest;
}

}  // namespace filarix
