// The constants of BLAKE3, shared by its portable and vector kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace filarix::kernels {

// SHA-256's initial words: the key of the plain (unkeyed) hash.
inline constexpr std::uint32_t blake3_iv[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                               0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

inline constexpr std::size_t blake3_block_size = 64;
inline constexpr std::size_t blake3_chunk_size = 1024;
inline constexpr std::size_t blake3_blocks_per_chunk = blake3_chunk_size / blake3_block_size;

enum Blake3Flag : std::uint8_t {
    blake3_chunk_start = 1,
    blake3_chunk_end = 2,
    blake3_parent = 4,
    blake3_root = 8,
};

// Which message word each of a round's sixteen G inputs takes: round 0
// takes them in order, and each later round permutes the previous one's.
inline constexpr std::array<std::array<std::uint8_t, 16>, 7> blake3_schedule = [] {
    constexpr std::uint8_t permutation[16] = {2, 6, 3, 10, 7, 0, 4, 13, 1, 11, 12, 5, 9, 14, 15, 8};
    std::array<std::array<std::uint8_t, 16>, 7> s{};
    for (std::uint8_t i = 0; i < 16; ++i) s[0][i] = i;
    for (std::size_t r = 1; r < 7; ++r)
        for (std::size_t i = 0; i < 16; ++i) s[r][i] = s[r - 1][permutation[i]];
    return s;
}();

}  // namespace filarix::kernels

// BLAKE3's seven rounds over the state words v[16] and the message words
// m[16], G being a kernel's quarter-round: the columns, then the diagonals,
// each G taking its two message words by the schedule. A macro, so that
// every kernel calls its own G, built for its instruction set, from itself.
// Unrolled, so that each message word is a known register or stack slot,
// not looked up in the schedule at every G.
#define FILARIX_BLAKE3_ROUNDS(G, v, m)                                                  \
    _Pragma("GCC unroll 7") for (const auto& s : ::filarix::kernels::blake3_schedule) { \
        G(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);                                            \
        G(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);                                            \
        G(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);                                           \
        G(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);                                           \
        G(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);                                           \
        G(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);                                         \
        G(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);                                          \
        G(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);                                          \
    }
