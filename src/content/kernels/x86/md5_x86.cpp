// MD5 of several messages side by side, one in each 32-bit lane of the
// vector registers: a message's steps wait on each other, the lanes do not.
#include <immintrin.h>

#include <cstdint>

#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

// The 64 steps' constants and rotations, in order.
constexpr std::uint32_t md5_k[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The message word each step adds.
constexpr int md5_word[64] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                              1, 6, 11, 0,  5,  10, 15, 4,  9,  14, 3,  8,  13, 2,  7,  12,
                              5, 8, 11, 14, 1,  4,  7,  10, 13, 0,  3,  6,  9,  12, 15, 2,
                              0, 7, 14, 5,  12, 3,  10, 1,  8,  15, 6,  13, 4,  11, 2,  9};

}  // namespace

// The step functions as three-input truth tables: F = b ? c : d,
// G = d ? b : c, H = b ^ c ^ d, I = c ^ (b | ~d).
#define MD5_AVX512_STEP(a, b, c, d, i, table, s)                                              \
    a = _mm512_add_epi32(a, _mm512_add_epi32(_mm512_loadu_si512(words + 16 * md5_word[i]),    \
                                             _mm512_set1_epi32(static_cast<int>(md5_k[i])))); \
    a = _mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, table));                       \
    a = _mm512_add_epi32(_mm512_maskz_rol_epi32(all, a, s), b);

__attribute__((target("avx512f"))) void md5_compress16_avx512(std::uint32_t* state,
                                                              const std::uint32_t* words) {
    // Masked with every lane on: the unmasked form leaves GCC warning of
    // its undefined merge operand.
    const __mmask16 all = 0xFFFF;
    __m512i a = _mm512_loadu_si512(state);
    __m512i b = _mm512_loadu_si512(state + 16);
    __m512i c = _mm512_loadu_si512(state + 32);
    __m512i d = _mm512_loadu_si512(state + 48);
    const __m512i a0 = a, b0 = b, c0 = c, d0 = d;
    for (int i = 0; i < 16; i += 4) {
        MD5_AVX512_STEP(a, b, c, d, i, 0xCA, 7)
        MD5_AVX512_STEP(d, a, b, c, i + 1, 0xCA, 12)
        MD5_AVX512_STEP(c, d, a, b, i + 2, 0xCA, 17)
        MD5_AVX512_STEP(b, c, d, a, i + 3, 0xCA, 22)
    }
    for (int i = 16; i < 32; i += 4) {
        MD5_AVX512_STEP(a, b, c, d, i, 0xE4, 5)
        MD5_AVX512_STEP(d, a, b, c, i + 1, 0xE4, 9)
        MD5_AVX512_STEP(c, d, a, b, i + 2, 0xE4, 14)
        MD5_AVX512_STEP(b, c, d, a, i + 3, 0xE4, 20)
    }
    for (int i = 32; i < 48; i += 4) {
        MD5_AVX512_STEP(a, b, c, d, i, 0x96, 4)
        MD5_AVX512_STEP(d, a, b, c, i + 1, 0x96, 11)
        MD5_AVX512_STEP(c, d, a, b, i + 2, 0x96, 16)
        MD5_AVX512_STEP(b, c, d, a, i + 3, 0x96, 23)
    }
    for (int i = 48; i < 64; i += 4) {
        MD5_AVX512_STEP(a, b, c, d, i, 0x39, 6)
        MD5_AVX512_STEP(d, a, b, c, i + 1, 0x39, 10)
        MD5_AVX512_STEP(c, d, a, b, i + 2, 0x39, 15)
        MD5_AVX512_STEP(b, c, d, a, i + 3, 0x39, 21)
    }
    _mm512_storeu_si512(state, _mm512_add_epi32(a, a0));
    _mm512_storeu_si512(state + 16, _mm512_add_epi32(b, b0));
    _mm512_storeu_si512(state + 32, _mm512_add_epi32(c, c0));
    _mm512_storeu_si512(state + 48, _mm512_add_epi32(d, d0));
}

#undef MD5_AVX512_STEP

// AVX2 has neither the truth tables nor the rotation: both spelled out.
#define MD5_AVX2_STEP(a, b, c, d, i, f, s)                                                    \
    a = _mm256_add_epi32(                                                                     \
        a, _mm256_add_epi32(                                                                  \
               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 8 * md5_word[i])), \
               _mm256_set1_epi32(static_cast<int>(md5_k[i]))));                               \
    a = _mm256_add_epi32(a, f(b, c, d));                                                      \
    a = _mm256_add_epi32(_mm256_or_si256(_mm256_slli_epi32(a, s), _mm256_srli_epi32(a, 32 - s)), b);

#define MD5_AVX2_F(b, c, d) _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)))
#define MD5_AVX2_G(b, c, d) _mm256_or_si256(_mm256_and_si256(b, d), _mm256_andnot_si256(d, c))
#define MD5_AVX2_H(b, c, d) _mm256_xor_si256(_mm256_xor_si256(b, c), d)
#define MD5_AVX2_I(b, c, d) _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, ones)))

__attribute__((target("avx2"))) void md5_compress8_avx2(std::uint32_t* state,
                                                        const std::uint32_t* words) {
    const __m256i ones = _mm256_set1_epi32(-1);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 8));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 16));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state + 24));
    const __m256i a0 = a, b0 = b, c0 = c, d0 = d;
    for (int i = 0; i < 16; i += 4) {
        MD5_AVX2_STEP(a, b, c, d, i, MD5_AVX2_F, 7)
        MD5_AVX2_STEP(d, a, b, c, i + 1, MD5_AVX2_F, 12)
        MD5_AVX2_STEP(c, d, a, b, i + 2, MD5_AVX2_F, 17)
        MD5_AVX2_STEP(b, c, d, a, i + 3, MD5_AVX2_F, 22)
    }
    for (int i = 16; i < 32; i += 4) {
        MD5_AVX2_STEP(a, b, c, d, i, MD5_AVX2_G, 5)
        MD5_AVX2_STEP(d, a, b, c, i + 1, MD5_AVX2_G, 9)
        MD5_AVX2_STEP(c, d, a, b, i + 2, MD5_AVX2_G, 14)
        MD5_AVX2_STEP(b, c, d, a, i + 3, MD5_AVX2_G, 20)
    }
    for (int i = 32; i < 48; i += 4) {
        MD5_AVX2_STEP(a, b, c, d, i, MD5_AVX2_H, 4)
        MD5_AVX2_STEP(d, a, b, c, i + 1, MD5_AVX2_H, 11)
        MD5_AVX2_STEP(c, d, a, b, i + 2, MD5_AVX2_H, 16)
        MD5_AVX2_STEP(b, c, d, a, i + 3, MD5_AVX2_H, 23)
    }
    for (int i = 48; i < 64; i += 4) {
        MD5_AVX2_STEP(a, b, c, d, i, MD5_AVX2_I, 6)
        MD5_AVX2_STEP(d, a, b, c, i + 1, MD5_AVX2_I, 10)
        MD5_AVX2_STEP(c, d, a, b, i + 2, MD5_AVX2_I, 15)
        MD5_AVX2_STEP(b, c, d, a, i + 3, MD5_AVX2_I, 21)
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state), _mm256_add_epi32(a, a0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 8), _mm256_add_epi32(b, b0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 16), _mm256_add_epi32(c, c0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 24), _mm256_add_epi32(d, d0));
}

#undef MD5_AVX2_STEP
#undef MD5_AVX2_F
#undef MD5_AVX2_G
#undef MD5_AVX2_H
#undef MD5_AVX2_I

}  // namespace filarix::kernels
