// BLAKE3's compression function in plain C++, built for every target.
#include <bit>
#include <cstring>

#include "content/kernels/blake3_constants.hpp"
#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

inline std::uint32_t load_le32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void mix(std::uint32_t* v, int a, int b, int c, int d, std::uint32_t x, std::uint32_t y) {
    v[a] += v[b] + x;
    v[d] = std::rotr(v[d] ^ v[a], 16);
    v[c] += v[d];
    v[b] = std::rotr(v[b] ^ v[c], 12);
    v[a] += v[b] + y;
    v[d] = std::rotr(v[d] ^ v[a], 8);
    v[c] += v[d];
    v[b] = std::rotr(v[b] ^ v[c], 7);
}

}  // namespace

void blake3_compress(std::uint32_t cv[8], const std::uint8_t block[64], std::uint64_t counter,
                     std::uint32_t block_len, std::uint32_t flags) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = load_le32(block + 4 * i);
    std::uint32_t v[16] = {cv[0],
                           cv[1],
                           cv[2],
                           cv[3],
                           cv[4],
                           cv[5],
                           cv[6],
                           cv[7],
                           blake3_iv[0],
                           blake3_iv[1],
                           blake3_iv[2],
                           blake3_iv[3],
                           static_cast<std::uint32_t>(counter),
                           static_cast<std::uint32_t>(counter >> 32),
                           block_len,
                           flags};
    FILARIX_BLAKE3_ROUNDS(mix, v, m);
    for (int i = 0; i < 8; ++i) cv[i] = v[i] ^ v[i + 8];
}

}  // namespace filarix::kernels
