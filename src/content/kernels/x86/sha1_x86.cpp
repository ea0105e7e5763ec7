// SHA-1 by the SHA extensions (with SSSE3 and SSE4.1), for x86 processors
// that have them.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "content/kernels/kernels.hpp"

namespace filarix::kernels {

namespace {

#define FILARIX_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Registers hold four words with the first one in the top lane: the state as
// A,B,C,D (E separately, in the top lane of its own register), the message as
// W[4g], W[4g+1], W[4g+2], W[4g+3] for group g of four rounds.
struct ShaRegs {
    __m128i abcd;
    __m128i e[2];  // alternately: E plus the group's words, and A,B,C,D saved for the next E
    __m128i m[4];  // the schedule, four words per register, rotating
};

// Rounds 4G..4G+3, and the schedule work that can overlap with them: the
// register one group behind gets its first combination (msg1), the one two
// behind is XORed with this group's words, and the one three behind (= one
// ahead) is completed (msg2) for the next group.
template <int G>
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void sha_group(ShaRegs& r) {
    constexpr int cur = G % 2, other = 1 - G % 2;
    if constexpr (G == 0) {
        r.e[cur] = _mm_add_epi32(r.e[cur], r.m[0]);
    } else {
        r.e[cur] = _mm_sha1nexte_epu32(r.e[cur], r.m[G % 4]);
    }
    r.e[other] = r.abcd;
    if constexpr (G >= 3 && G <= 18)
        r.m[(G + 1) % 4] = _mm_sha1msg2_epu32(r.m[(G + 1) % 4], r.m[G % 4]);
    r.abcd = _mm_sha1rnds4_epu32(r.abcd, r.e[cur], G / 5);
    if constexpr (G >= 1 && G <= 16)
        r.m[(G + 3) % 4] = _mm_sha1msg1_epu32(r.m[(G + 3) % 4], r.m[G % 4]);
    if constexpr (G >= 2 && G <= 17) r.m[(G + 2) % 4] = _mm_xor_si128(r.m[(G + 2) % 4], r.m[G % 4]);
}

template <int... G>
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void sha_rounds(
    ShaRegs& r, std::integer_sequence<int, G...>) {
    (sha_group<G>(r), ...);
}

FILARIX_SHA_TARGET void compress_hardware(std::uint32_t* state, const std::uint8_t* p,
                                          std::size_t blocks) {
    // Reverses all sixteen bytes: big-endian words, first word on top.
    const __m128i byte_order = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    ShaRegs r;
    r.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    r.e[0] = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    while (blocks--) {
        const __m128i abcd_saved = r.abcd;
        const __m128i e_saved = r.e[0];
        for (int i = 0; i < 4; ++i)
            r.m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                                      byte_order);
        sha_rounds(r, std::make_integer_sequence<int, 20>{});
        // After group 19, e[0] holds A,B,C,D from before it; E = A <<< 30.
        r.e[0] = _mm_sha1nexte_epu32(r.e[0], e_saved);
        r.abcd = _mm_add_epi32(r.abcd, abcd_saved);
        p += 64;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(r.abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(r.e[0], 3));
}

}  // namespace

// Not itself under the target attribute: its declaration is the plain one.
void sha1_compress(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks) {
    compress_hardware(state, p, blocks);
}

// SHA-1 of 16 messages side by side (AVX-512): a round is a few
// instructions for all sixteen, where the SHA instructions take one.
#define SHA1_LANES_ROUND(a, b, c, d, e, t, table, k)                                          \
    {                                                                                         \
        __m512i w;                                                                            \
        if ((t) < 16) {                                                                       \
            w = _mm512_loadu_si512(words + 16 * (t));                                         \
        } else {                                                                              \
            w = _mm512_ternarylogic_epi32(m[((t)-3) & 15], m[((t)-8) & 15], m[((t)-14) & 15], \
                                          0x96);                                              \
            w = _mm512_maskz_rol_epi32(all, _mm512_xor_si512(w, m[(t)&15]), 1);               \
        }                                                                                     \
        m[(t)&15] = w;                                                                        \
        e = _mm512_add_epi32(e, _mm512_add_epi32(w, k));                                      \
        e = _mm512_add_epi32(e, _mm512_ternarylogic_epi32(b, c, d, table));                   \
        e = _mm512_add_epi32(e, _mm512_maskz_rol_epi32(all, a, 5));                           \
        b = _mm512_maskz_rol_epi32(all, b, 30);                                               \
    }

#define SHA1_LANES_FIVE(t, table, k)                   \
    SHA1_LANES_ROUND(a, b, c, d, e, (t), table, k)     \
    SHA1_LANES_ROUND(e, a, b, c, d, (t) + 1, table, k) \
    SHA1_LANES_ROUND(d, e, a, b, c, (t) + 2, table, k) \
    SHA1_LANES_ROUND(c, d, e, a, b, (t) + 3, table, k) \
    SHA1_LANES_ROUND(b, c, d, e, a, (t) + 4, table, k)

__attribute__((target("avx512f"))) void sha1_compress16_avx512(std::uint32_t* state,
                                                               const std::uint32_t* words) {
    // Masked with every lane on: the unmasked rotation leaves GCC warning
    // of its undefined merge operand.
    const __mmask16 all = 0xFFFF;
    __m512i a = _mm512_loadu_si512(state);
    __m512i b = _mm512_loadu_si512(state + 16);
    __m512i c = _mm512_loadu_si512(state + 32);
    __m512i d = _mm512_loadu_si512(state + 48);
    __m512i e = _mm512_loadu_si512(state + 64);
    const __m512i a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
    __m512i m[16];
    // Choice (b ? c : d), parity, majority, parity.
    const __m512i k0 = _mm512_set1_epi32(0x5A827999);
    const __m512i k1 = _mm512_set1_epi32(0x6ED9EBA1);
    const __m512i k2 = _mm512_set1_epi32(static_cast<int>(0x8F1BBCDCu));
    const __m512i k3 = _mm512_set1_epi32(static_cast<int>(0xCA62C1D6u));
    SHA1_LANES_FIVE(0, 0xCA, k0)
    SHA1_LANES_FIVE(5, 0xCA, k0)
    SHA1_LANES_FIVE(10, 0xCA, k0)
    SHA1_LANES_FIVE(15, 0xCA, k0)
    SHA1_LANES_FIVE(20, 0x96, k1)
    SHA1_LANES_FIVE(25, 0x96, k1)
    SHA1_LANES_FIVE(30, 0x96, k1)
    SHA1_LANES_FIVE(35, 0x96, k1)
    SHA1_LANES_FIVE(40, 0xE8, k2)
    SHA1_LANES_FIVE(45, 0xE8, k2)
    SHA1_LANES_FIVE(50, 0xE8, k2)
    SHA1_LANES_FIVE(55, 0xE8, k2)
    SHA1_LANES_FIVE(60, 0x96, k3)
    SHA1_LANES_FIVE(65, 0x96, k3)
    SHA1_LANES_FIVE(70, 0x96, k3)
    SHA1_LANES_FIVE(75, 0x96, k3)
    _mm512_storeu_si512(state, _mm512_add_epi32(a, a0));
    _mm512_storeu_si512(state + 16, _mm512_add_epi32(b, b0));
    _mm512_storeu_si512(state + 32, _mm512_add_epi32(c, c0));
    _mm512_storeu_si512(state + 48, _mm512_add_epi32(d, d0));
    _mm512_storeu_si512(state + 64, _mm512_add_epi32(e, e0));
}

#undef SHA1_LANES_FIVE
#undef SHA1_LANES_ROUND

}  // namespace filarix::kernels
