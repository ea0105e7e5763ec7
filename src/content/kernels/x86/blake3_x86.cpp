// BLAKE3 on several inputs at once, one per 32-bit lane: four in SSE4.1
// registers, eight in AVX2 registers, sixteen in AVX-512 registers. Register j holds word j of
// every lane's state, so each G step is a handful of vector instructions.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "content/kernels/blake3_constants.hpp"
#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

#define FILARIX_SSE41_TARGET __attribute__((target("sse4.1,ssse3"), always_inline)) inline
#define FILARIX_AVX2_TARGET __attribute__((target("avx2"), always_inline)) inline
#define FILARIX_AVX512_ATTR target("avx512f,avx512vl,avx512bw,avx512dq")
#define FILARIX_AVX512_TARGET __attribute__((FILARIX_AVX512_ATTR, always_inline)) inline

// The lane counters: input i is chunk counter + i, or all share counter.
void lane_counters(std::uint64_t counter, bool add_lane, int lanes, std::uint32_t* lo,
                   std::uint32_t* hi) {
    for (int i = 0; i < lanes; ++i) {
        const std::uint64_t c = counter + (add_lane ? static_cast<std::uint64_t>(i) : 0);
        lo[i] = static_cast<std::uint32_t>(c);
        hi[i] = static_cast<std::uint32_t>(c >> 32);
    }
}

std::uint32_t block_flags(std::size_t b, std::size_t blocks, std::uint8_t flags,
                          std::uint8_t first_flags, std::uint8_t last_flags) {
    return flags | (b == 0 ? first_flags : 0) | (b + 1 == blocks ? last_flags : 0);
}

// ---- SSE4.1: four lanes --------------------------------------------------------

FILARIX_SSE41_TARGET __m128i add4(__m128i a, __m128i b) {
    return _mm_add_epi32(a, b);
}
FILARIX_SSE41_TARGET __m128i xor4(__m128i a, __m128i b) {
    return _mm_xor_si128(a, b);
}
// Rotations by whole bytes are one byte shuffle.
FILARIX_SSE41_TARGET __m128i rot16_4(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2));
}
FILARIX_SSE41_TARGET __m128i rot8_4(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(12, 15, 14, 13, 8, 11, 10, 9, 4, 7, 6, 5, 0, 3, 2, 1));
}
FILARIX_SSE41_TARGET __m128i rot12_4(__m128i x) {
    return _mm_or_si128(_mm_srli_epi32(x, 12), _mm_slli_epi32(x, 20));
}
FILARIX_SSE41_TARGET __m128i rot7_4(__m128i x) {
    return _mm_or_si128(_mm_srli_epi32(x, 7), _mm_slli_epi32(x, 25));
}

FILARIX_SSE41_TARGET void g4(__m128i* v, int a, int b, int c, int d, __m128i x, __m128i y) {
    v[a] = add4(add4(v[a], v[b]), x);
    v[d] = rot16_4(xor4(v[d], v[a]));
    v[c] = add4(v[c], v[d]);
    v[b] = rot12_4(xor4(v[b], v[c]));
    v[a] = add4(add4(v[a], v[b]), y);
    v[d] = rot8_4(xor4(v[d], v[a]));
    v[c] = add4(v[c], v[d]);
    v[b] = rot7_4(xor4(v[b], v[c]));
}

// Rows a, b, c, d become columns: a[k] b[k] c[k] d[k] in register k.
FILARIX_SSE41_TARGET void transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    const __m128i ab_lo = _mm_unpacklo_epi32(a, b);
    const __m128i ab_hi = _mm_unpackhi_epi32(a, b);
    const __m128i cd_lo = _mm_unpacklo_epi32(c, d);
    const __m128i cd_hi = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(ab_lo, cd_lo);
    b = _mm_unpackhi_epi64(ab_lo, cd_lo);
    c = _mm_unpacklo_epi64(ab_hi, cd_hi);
    d = _mm_unpackhi_epi64(ab_hi, cd_hi);
}

FILARIX_SSE41_TARGET __m128i load4(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// ---- AVX2: eight lanes ---------------------------------------------------------

FILARIX_AVX2_TARGET __m256i add8(__m256i a, __m256i b) {
    return _mm256_add_epi32(a, b);
}
FILARIX_AVX2_TARGET __m256i xor8(__m256i a, __m256i b) {
    return _mm256_xor_si256(a, b);
}
FILARIX_AVX2_TARGET __m256i rot16_8(__m256i x) {
    return _mm256_shuffle_epi8(
        x, _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2, 13, 12, 15, 14, 9,
                           8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2));
}
FILARIX_AVX2_TARGET __m256i rot8_8(__m256i x) {
    return _mm256_shuffle_epi8(
        x, _mm256_set_epi8(12, 15, 14, 13, 8, 11, 10, 9, 4, 7, 6, 5, 0, 3, 2, 1, 12, 15, 14, 13, 8,
                           11, 10, 9, 4, 7, 6, 5, 0, 3, 2, 1));
}
FILARIX_AVX2_TARGET __m256i rot12_8(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi32(x, 12), _mm256_slli_epi32(x, 20));
}
FILARIX_AVX2_TARGET __m256i rot7_8(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi32(x, 7), _mm256_slli_epi32(x, 25));
}

FILARIX_AVX2_TARGET void g8(__m256i* v, int a, int b, int c, int d, __m256i x, __m256i y) {
    v[a] = add8(add8(v[a], v[b]), x);
    v[d] = rot16_8(xor8(v[d], v[a]));
    v[c] = add8(v[c], v[d]);
    v[b] = rot12_8(xor8(v[b], v[c]));
    v[a] = add8(add8(v[a], v[b]), y);
    v[d] = rot8_8(xor8(v[d], v[a]));
    v[c] = add8(v[c], v[d]);
    v[b] = rot7_8(xor8(v[b], v[c]));
}

// Eight rows of eight words become eight columns, in place.
FILARIX_AVX2_TARGET void transpose8(__m256i* r) {
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    // u[4h + k] holds word k (and word k + 4 in its upper half) of rows 4h .. 4h+3.
    for (int h = 0; h < 2; ++h) {
        u[4 * h + 0] = _mm256_unpacklo_epi64(t[4 * h], t[4 * h + 2]);
        u[4 * h + 1] = _mm256_unpackhi_epi64(t[4 * h], t[4 * h + 2]);
        u[4 * h + 2] = _mm256_unpacklo_epi64(t[4 * h + 1], t[4 * h + 3]);
        u[4 * h + 3] = _mm256_unpackhi_epi64(t[4 * h + 1], t[4 * h + 3]);
    }
    for (int k = 0; k < 4; ++k) {
        r[k] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
        r[k + 4] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
    }
}

FILARIX_AVX2_TARGET __m256i load8(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// ---- AVX-512: sixteen lanes ----------------------------------------------------

FILARIX_AVX512_TARGET __m512i add16(__m512i a, __m512i b) {
    return _mm512_add_epi32(a, b);
}
FILARIX_AVX512_TARGET __m512i xor16(__m512i a, __m512i b) {
    return _mm512_xor_si512(a, b);
}

// The zero-masked forms with every lane kept: the same instructions, but
// GCC 12's unmasked ones start from an "undefined" register it then warns
// may be used uninitialised.
constexpr __mmask16 all16 = 0xFFFF;
constexpr __mmask8 all8 = 0xFF;
template <int n>
FILARIX_AVX512_TARGET __m512i ror16(__m512i x) {
    return _mm512_maskz_ror_epi32(all16, x, n);
}

// AVX-512 rotates 32-bit words in one instruction (vprord), whatever the distance.
FILARIX_AVX512_TARGET void g16(__m512i* v, int a, int b, int c, int d, __m512i x, __m512i y) {
    v[a] = add16(add16(v[a], v[b]), x);
    v[d] = ror16<16>(xor16(v[d], v[a]));
    v[c] = add16(v[c], v[d]);
    v[b] = ror16<12>(xor16(v[b], v[c]));
    v[a] = add16(add16(v[a], v[b]), y);
    v[d] = ror16<8>(xor16(v[d], v[a]));
    v[c] = add16(v[c], v[d]);
    v[b] = ror16<7>(xor16(v[b], v[c]));
}

// Sixteen rows of sixteen words become sixteen columns, in place.
FILARIX_AVX512_TARGET void transpose16(__m512i* r) {
    __m512i t[16], u[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm512_maskz_unpacklo_epi32(all16, r[i], r[i + 1]);
        t[i + 1] = _mm512_maskz_unpackhi_epi32(all16, r[i], r[i + 1]);
    }
    // 128-bit lane l of u[4g + k] holds word 4l + k of rows 4g .. 4g+3.
    for (int g = 0; g < 4; ++g) {
        u[4 * g + 0] = _mm512_maskz_unpacklo_epi64(all8, t[4 * g], t[4 * g + 2]);
        u[4 * g + 1] = _mm512_maskz_unpackhi_epi64(all8, t[4 * g], t[4 * g + 2]);
        u[4 * g + 2] = _mm512_maskz_unpacklo_epi64(all8, t[4 * g + 1], t[4 * g + 3]);
        u[4 * g + 3] = _mm512_maskz_unpackhi_epi64(all8, t[4 * g + 1], t[4 * g + 3]);
    }
    // What is left is a 4x4 transpose of 128-bit lanes for each k.
    for (int k = 0; k < 4; ++k) {
        const __m512i ab_lo = _mm512_maskz_shuffle_i32x4(all16, u[k], u[4 + k], 0x44);
        const __m512i ab_hi = _mm512_maskz_shuffle_i32x4(all16, u[k], u[4 + k], 0xEE);
        const __m512i cd_lo = _mm512_maskz_shuffle_i32x4(all16, u[8 + k], u[12 + k], 0x44);
        const __m512i cd_hi = _mm512_maskz_shuffle_i32x4(all16, u[8 + k], u[12 + k], 0xEE);
        r[k] = _mm512_maskz_shuffle_i32x4(all16, ab_lo, cd_lo, 0x88);
        r[4 + k] = _mm512_maskz_shuffle_i32x4(all16, ab_lo, cd_lo, 0xDD);
        r[8 + k] = _mm512_maskz_shuffle_i32x4(all16, ab_hi, cd_hi, 0x88);
        r[12 + k] = _mm512_maskz_shuffle_i32x4(all16, ab_hi, cd_hi, 0xDD);
    }
}

// A block's sixteen state words, each a vector across the lanes: the
// chaining values, the IV, the counters, the block length and the flags;
// `set1` is the width's broadcast.
// clang-format off
#define BLAKE3_LANES_STATE(type, set1, v, flag_word)                                        \
    type v[16] = {h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7],                           \
                  set1(static_cast<int>(blake3_iv[0])), set1(static_cast<int>(blake3_iv[1])), \
                  set1(static_cast<int>(blake3_iv[2])), set1(static_cast<int>(blake3_iv[3])), \
                  counter_lo, counter_hi, set1(static_cast<int>(blake3_block_size)),        \
                  set1(static_cast<int>(flag_word))}
// clang-format on

}  // namespace

__attribute__((target("sse4.1,ssse3"))) void blake3_hash4_sse41(
    const std::uint8_t* const* inputs, std::size_t blocks, const std::uint32_t key[8],
    std::uint64_t counter, bool add_lane, std::uint8_t flags, std::uint8_t first_flags,
    std::uint8_t last_flags, std::uint8_t* out) {
    std::uint32_t lo[4], hi[4];
    lane_counters(counter, add_lane, 4, lo, hi);
    const __m128i counter_lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo));
    const __m128i counter_hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi));
    __m128i h[8];
    for (int i = 0; i < 8; ++i) h[i] = _mm_set1_epi32(static_cast<int>(key[i]));
    for (std::size_t b = 0; b < blocks; ++b) {
        __m128i m[16];
        const std::size_t at = blake3_block_size * b;
        // Ahead as the AVX-512 kernel does (below), the next four chunks
        // near a chunk's end.
        std::size_t ahead = at + 4 * blake3_block_size;
        if (ahead >= blake3_chunk_size) ahead += 3 * blake3_chunk_size;
        for (int lane = 0; lane < 4; ++lane)
            _mm_prefetch(reinterpret_cast<const char*>(inputs[lane] + ahead), _MM_HINT_T0);
        for (int k = 0; k < 4; ++k) {
            for (int lane = 0; lane < 4; ++lane)
                m[4 * k + lane] = load4(inputs[lane] + at + 16 * k);
            transpose4(m[4 * k], m[4 * k + 1], m[4 * k + 2], m[4 * k + 3]);
        }
        BLAKE3_LANES_STATE(__m128i, _mm_set1_epi32, v,
                           block_flags(b, blocks, flags, first_flags, last_flags));
        FILARIX_BLAKE3_ROUNDS(g4, v, m);
        for (int i = 0; i < 8; ++i) h[i] = xor4(v[i], v[i + 8]);
    }
    transpose4(h[0], h[1], h[2], h[3]);
    transpose4(h[4], h[5], h[6], h[7]);
    for (int lane = 0; lane < 4; ++lane) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * lane), h[lane]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 * lane + 16), h[lane + 4]);
    }
}

__attribute__((target("avx2"))) void blake3_hash8_avx2(const std::uint8_t* const* inputs,
                                                       std::size_t blocks,
                                                       const std::uint32_t key[8],
                                                       std::uint64_t counter, bool add_lane,
                                                       std::uint8_t flags, std::uint8_t first_flags,
                                                       std::uint8_t last_flags, std::uint8_t* out) {
    std::uint32_t lo[8], hi[8];
    lane_counters(counter, add_lane, 8, lo, hi);
    const __m256i counter_lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lo));
    const __m256i counter_hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hi));
    __m256i h[8];
    for (int i = 0; i < 8; ++i) h[i] = _mm256_set1_epi32(static_cast<int>(key[i]));
    for (std::size_t b = 0; b < blocks; ++b) {
        __m256i m[16];
        const std::size_t at = blake3_block_size * b;
        // Ahead as the AVX-512 kernel does (below), the next eight chunks
        // near a chunk's end.
        std::size_t ahead = at + 4 * blake3_block_size;
        if (ahead >= blake3_chunk_size) ahead += 7 * blake3_chunk_size;
        for (int lane = 0; lane < 8; ++lane)
            _mm_prefetch(reinterpret_cast<const char*>(inputs[lane] + ahead), _MM_HINT_T0);
        for (int k = 0; k < 2; ++k) {
            for (int lane = 0; lane < 8; ++lane)
                m[8 * k + lane] = load8(inputs[lane] + at + 32 * k);
            transpose8(m + 8 * k);
        }
        BLAKE3_LANES_STATE(__m256i, _mm256_set1_epi32, v,
                           block_flags(b, blocks, flags, first_flags, last_flags));
        FILARIX_BLAKE3_ROUNDS(g8, v, m);
        for (int i = 0; i < 8; ++i) h[i] = xor8(v[i], v[i + 8]);
    }
    transpose8(h);
    for (int lane = 0; lane < 8; ++lane)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * lane), h[lane]);
}

__attribute__((FILARIX_AVX512_ATTR)) void blake3_hash16_avx512(
    const std::uint8_t* const* inputs, std::size_t blocks, const std::uint32_t key[8],
    std::uint64_t counter, bool add_lane, std::uint8_t flags, std::uint8_t first_flags,
    std::uint8_t last_flags, std::uint8_t* out) {
    std::uint32_t lo[16], hi[16];
    lane_counters(counter, add_lane, 16, lo, hi);
    const __m512i counter_lo = _mm512_loadu_si512(lo);
    const __m512i counter_hi = _mm512_loadu_si512(hi);
    __m512i h[16];
    for (int i = 0; i < 8; ++i) h[i] = _mm512_set1_epi32(static_cast<int>(key[i]));
    for (std::size_t b = 0; b < blocks; ++b) {
        // A whole block of each lane is one register: row i is lane i's block.
        __m512i m[16];
        const std::size_t at = blake3_block_size * b;
        // Sixteen short streams, a page apart every four lanes, are more
        // than the hardware prefetcher follows: a mapped file's bytes come
        // from memory, not from the cache a copy would have left them in.
        // Four blocks ahead; near a chunk's end, the same lane of the next
        // sixteen chunks, where a subtree's leaves go on, so that the next
        // call does not start by waiting. A prefetch past the input is harmless.
        std::size_t ahead = at + 4 * blake3_block_size;
        if (ahead >= blake3_chunk_size) ahead += 15 * blake3_chunk_size;
        for (int lane = 0; lane < 16; ++lane) {
            _mm_prefetch(reinterpret_cast<const char*>(inputs[lane] + ahead), _MM_HINT_T0);
            m[lane] = _mm512_loadu_si512(inputs[lane] + at);
        }
        transpose16(m);
        BLAKE3_LANES_STATE(__m512i, _mm512_set1_epi32, v,
                           block_flags(b, blocks, flags, first_flags, last_flags));
        FILARIX_BLAKE3_ROUNDS(g16, v, m);
        for (int i = 0; i < 8; ++i) h[i] = xor16(v[i], v[i + 8]);
    }
    // Eight rows padded with zeros to sixteen; lane i's chaining value is
    // then the low half of row i.
    for (int i = 8; i < 16; ++i) h[i] = _mm512_setzero_si512();
    transpose16(h);
    // The low eight words of each row, by a masked store.
    for (int lane = 0; lane < 16; ++lane)
        _mm512_mask_storeu_epi32(out + 32 * lane, 0x00FF, h[lane]);
}

#undef BLAKE3_LANES_STATE

}  // namespace filarix::kernels
