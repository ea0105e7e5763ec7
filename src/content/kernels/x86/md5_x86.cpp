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

// The 64 steps of a block, the same for every width: `step` is the
// kernel's own step, f..i its four round functions.
#define MD5_LANES_ROUNDS(step, f, g, h, i_)                                                        \
    for (int i = 0; i < 16; i += 4) {                                                              \
        step(a, b, c, d, i, f, 7) step(d, a, b, c, i + 1, f, 12) step(c, d, a, b, i + 2, f, 17)    \
            step(b, c, d, a, i + 3, f, 22)                                                         \
    }                                                                                              \
    for (int i = 16; i < 32; i += 4) {                                                             \
        step(a, b, c, d, i, g, 5) step(d, a, b, c, i + 1, g, 9) step(c, d, a, b, i + 2, g, 14)     \
            step(b, c, d, a, i + 3, g, 20)                                                         \
    }                                                                                              \
    for (int i = 32; i < 48; i += 4) {                                                             \
        step(a, b, c, d, i, h, 4) step(d, a, b, c, i + 1, h, 11) step(c, d, a, b, i + 2, h, 16)    \
            step(b, c, d, a, i + 3, h, 23)                                                         \
    }                                                                                              \
    for (int i = 48; i < 64; i += 4) {                                                             \
        step(a, b, c, d, i, i_, 6) step(d, a, b, c, i + 1, i_, 10) step(c, d, a, b, i + 2, i_, 15) \
            step(b, c, d, a, i + 3, i_, 21)                                                        \
    }

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
    MD5_LANES_ROUNDS(MD5_AVX512_STEP, 0xCA, 0xE4, 0x96, 0x39)
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
    MD5_LANES_ROUNDS(MD5_AVX2_STEP, MD5_AVX2_F, MD5_AVX2_G, MD5_AVX2_H, MD5_AVX2_I)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state), _mm256_add_epi32(a, a0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 8), _mm256_add_epi32(b, b0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 16), _mm256_add_epi32(c, c0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state + 24), _mm256_add_epi32(d, d0));
}

#undef MD5_AVX2_STEP
#undef MD5_LANES_ROUNDS
#undef MD5_AVX2_F
#undef MD5_AVX2_G
#undef MD5_AVX2_H
#undef MD5_AVX2_I

// MD5 and SHA-1 of the same 16 messages, their steps side by side: each
// digest's steps wait on each other, the processor runs the other's
// meanwhile. MD5's four steps and SHA-1's five rounds a slot change their
// functions at the same slots.
#define MD5_SHA1_STEP(a, b, c, d, i, table, s)                                                \
    a = _mm512_add_epi32(a, _mm512_add_epi32(_mm512_loadu_si512(words + 16 * md5_word[i]),    \
                                             _mm512_set1_epi32(static_cast<int>(md5_k[i])))); \
    a = _mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, table));                       \
    a = _mm512_add_epi32(_mm512_maskz_rol_epi32(all, a, s), b);

#define MD5_SHA1_ROUND(a, b, c, d, e, t, table, k)                                            \
    {                                                                                         \
        __m512i w;                                                                            \
        if ((t) < 16) {                                                                       \
            w = m[(t)&15];                                                                    \
        } else {                                                                              \
            w = _mm512_ternarylogic_epi32(m[((t)-3) & 15], m[((t)-8) & 15], m[((t)-14) & 15], \
                                          0x96);                                              \
            w = _mm512_maskz_rol_epi32(all, _mm512_xor_si512(w, m[(t)&15]), 1);               \
            m[(t)&15] = w;                                                                    \
        }                                                                                     \
        e = _mm512_add_epi32(e, _mm512_add_epi32(w, k));                                      \
        e = _mm512_add_epi32(e, _mm512_ternarylogic_epi32(b, c, d, table));                   \
        e = _mm512_add_epi32(e, _mm512_maskz_rol_epi32(all, a, 5));                           \
        b = _mm512_maskz_rol_epi32(all, b, 30);                                               \
    }

#define MD5_SHA1_SLOT(j, md5_table, s0, s1, s2, s3, sha1_table, k) \
    MD5_SHA1_STEP(a, b, c, d, 4 * (j), md5_table, s0)              \
    MD5_SHA1_STEP(d, a, b, c, 4 * (j) + 1, md5_table, s1)          \
    MD5_SHA1_STEP(c, d, a, b, 4 * (j) + 2, md5_table, s2)          \
    MD5_SHA1_STEP(b, c, d, a, 4 * (j) + 3, md5_table, s3)          \
    MD5_SHA1_ROUND(p, q, r, u, v, 5 * (j), sha1_table, k)          \
    MD5_SHA1_ROUND(v, p, q, r, u, 5 * (j) + 1, sha1_table, k)      \
    MD5_SHA1_ROUND(u, v, p, q, r, 5 * (j) + 2, sha1_table, k)      \
    MD5_SHA1_ROUND(r, u, v, p, q, 5 * (j) + 3, sha1_table, k)      \
    MD5_SHA1_ROUND(q, r, u, v, p, 5 * (j) + 4, sha1_table, k)

__attribute__((target("avx512f,avx512bw"))) void md5_sha1_compress16_avx512(
    std::uint32_t* state, const std::uint32_t* words, std::uint16_t last) {
    // Masked with every lane on: the unmasked rotation leaves GCC warning
    // of its undefined merge operand.
    const __mmask16 all = 0xFFFF;
    __m512i a = _mm512_loadu_si512(state);
    __m512i b = _mm512_loadu_si512(state + 16);
    __m512i c = _mm512_loadu_si512(state + 32);
    __m512i d = _mm512_loadu_si512(state + 48);
    __m512i p = _mm512_loadu_si512(state + 64);
    __m512i q = _mm512_loadu_si512(state + 80);
    __m512i r = _mm512_loadu_si512(state + 96);
    __m512i u = _mm512_loadu_si512(state + 112);
    __m512i v = _mm512_loadu_si512(state + 128);
    const __m512i a0 = a, b0 = b, c0 = c, d0 = d, p0 = p, q0 = q, r0 = r, u0 = u, v0 = v;
    // SHA-1 reads the words big-endian; the last block's bit length, which
    // MD5 reads low word first, it reads high word first.
    const __m512i swap = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
    __m512i m[16];
    for (int t = 0; t < 16; ++t)
        m[t] = _mm512_shuffle_epi8(_mm512_loadu_si512(words + 16 * t), swap);
    m[14] = _mm512_mask_blend_epi32(last, m[14], _mm512_loadu_si512(words + 16 * 15));
    m[15] = _mm512_mask_blend_epi32(last, m[15], _mm512_loadu_si512(words + 16 * 14));
    const __m512i k0 = _mm512_set1_epi32(0x5A827999);
    const __m512i k1 = _mm512_set1_epi32(0x6ED9EBA1);
    const __m512i k2 = _mm512_set1_epi32(static_cast<int>(0x8F1BBCDCu));
    const __m512i k3 = _mm512_set1_epi32(static_cast<int>(0xCA62C1D6u));
    MD5_SHA1_SLOT(0, 0xCA, 7, 12, 17, 22, 0xCA, k0)
    MD5_SHA1_SLOT(1, 0xCA, 7, 12, 17, 22, 0xCA, k0)
    MD5_SHA1_SLOT(2, 0xCA, 7, 12, 17, 22, 0xCA, k0)
    MD5_SHA1_SLOT(3, 0xCA, 7, 12, 17, 22, 0xCA, k0)
    MD5_SHA1_SLOT(4, 0xE4, 5, 9, 14, 20, 0x96, k1)
    MD5_SHA1_SLOT(5, 0xE4, 5, 9, 14, 20, 0x96, k1)
    MD5_SHA1_SLOT(6, 0xE4, 5, 9, 14, 20, 0x96, k1)
    MD5_SHA1_SLOT(7, 0xE4, 5, 9, 14, 20, 0x96, k1)
    MD5_SHA1_SLOT(8, 0x96, 4, 11, 16, 23, 0xE8, k2)
    MD5_SHA1_SLOT(9, 0x96, 4, 11, 16, 23, 0xE8, k2)
    MD5_SHA1_SLOT(10, 0x96, 4, 11, 16, 23, 0xE8, k2)
    MD5_SHA1_SLOT(11, 0x96, 4, 11, 16, 23, 0xE8, k2)
    MD5_SHA1_SLOT(12, 0x39, 6, 10, 15, 21, 0x96, k3)
    MD5_SHA1_SLOT(13, 0x39, 6, 10, 15, 21, 0x96, k3)
    MD5_SHA1_SLOT(14, 0x39, 6, 10, 15, 21, 0x96, k3)
    MD5_SHA1_SLOT(15, 0x39, 6, 10, 15, 21, 0x96, k3)
    _mm512_storeu_si512(state, _mm512_add_epi32(a, a0));
    _mm512_storeu_si512(state + 16, _mm512_add_epi32(b, b0));
    _mm512_storeu_si512(state + 32, _mm512_add_epi32(c, c0));
    _mm512_storeu_si512(state + 48, _mm512_add_epi32(d, d0));
    _mm512_storeu_si512(state + 64, _mm512_add_epi32(p, p0));
    _mm512_storeu_si512(state + 80, _mm512_add_epi32(q, q0));
    _mm512_storeu_si512(state + 96, _mm512_add_epi32(r, r0));
    _mm512_storeu_si512(state + 112, _mm512_add_epi32(u, u0));
    _mm512_storeu_si512(state + 128, _mm512_add_epi32(v, v0));
}

#undef MD5_SHA1_SLOT
#undef MD5_SHA1_ROUND
#undef MD5_SHA1_STEP

}  // namespace filarix::kernels
