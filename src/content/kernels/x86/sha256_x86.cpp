// SHA-256 by the SHA extensions (with SSSE3 and SSE4.1), for x86 processors
// that have them.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "content/kernels/kernels.hpp"
#include "content/kernels/sha256_constants.hpp"

namespace filarix::kernels {

namespace {

#define FILARIX_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// The round instruction wants the state as two registers, A,B,E,F and
// C,D,G,H with A and C in the top lanes, and the message as four words
// W[4g] .. W[4g+3] per register, the first in the bottom lane.
struct ShaRegs {
    __m128i abef;
    __m128i cdgh;
    __m128i m[4];  // the schedule, four words per register, rotating
};

// Rounds 4G..4G+3, and the schedule work that can overlap with them: the
// register one group ahead is completed (its sigma-1 part, msg2, after the
// words seven back are added), and the one behind gets its sigma-0 part
// (msg1) for the group three ahead.
template <int G>
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void sha_group(ShaRegs& r) {
    __m128i wk = _mm_add_epi32(
        r.m[G % 4],
        _mm_load_si128(reinterpret_cast<const __m128i*>(sha256_round_constants + 4 * G)));
    r.cdgh = _mm_sha256rnds2_epu32(r.cdgh, r.abef, wk);
    if constexpr (G >= 3 && G <= 14) {
        __m128i& next = r.m[(G + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(r.m[G % 4], r.m[(G + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, r.m[G % 4]);
    }
    wk = _mm_shuffle_epi32(wk, 0x0E);  // the upper two words for the second pair of rounds
    r.abef = _mm_sha256rnds2_epu32(r.abef, r.cdgh, wk);
    if constexpr (G >= 1 && G <= 12)
        r.m[(G + 3) % 4] = _mm_sha256msg1_epu32(r.m[(G + 3) % 4], r.m[G % 4]);
}

template <int... G>
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void sha_rounds(
    ShaRegs& r, std::integer_sequence<int, G...>) {
    (sha_group<G>(r), ...);
}

// The state in the registers' order, and back.
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void load_state(
    ShaRegs& r, const std::uint32_t* state) {
    const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)),
                                           0xB1);  // C,D,A,B
    const __m128i efgh = _mm_shuffle_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // E,F,G,H
    r.abef = _mm_alignr_epi8(cdab, efgh, 8);
    r.cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
}

FILARIX_SHA_TARGET __attribute__((always_inline)) inline void store_state(const ShaRegs& r,
                                                                          std::uint32_t* state) {
    const __m128i feba = _mm_shuffle_epi32(r.abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(r.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

// The block's words, each with its bytes reversed, words kept in place.
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void load_block(ShaRegs& r,
                                                                         const std::uint8_t* p) {
    const __m128i byte_order = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    for (int i = 0; i < 4; ++i)
        r.m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                                  byte_order);
}

FILARIX_SHA_TARGET void compress_hardware(std::uint32_t* state, const std::uint8_t* p,
                                          std::size_t blocks) {
    ShaRegs r;
    load_state(r, state);
    while (blocks--) {
        const __m128i abef_saved = r.abef;
        const __m128i cdgh_saved = r.cdgh;
        load_block(r, p);
        sha_rounds(r, std::make_integer_sequence<int, 16>{});
        r.abef = _mm_add_epi32(r.abef, abef_saved);
        r.cdgh = _mm_add_epi32(r.cdgh, cdgh_saved);
        p += 64;
    }
    store_state(r, state);
}

template <int... G>
FILARIX_SHA_TARGET __attribute__((always_inline)) inline void sha_rounds_two(
    ShaRegs& a, ShaRegs& b, std::integer_sequence<int, G...>) {
    ((sha_group<G>(a), sha_group<G>(b)), ...);
}

FILARIX_SHA_TARGET void compress_two_hardware(std::uint32_t* state_a, const std::uint8_t* pa,
                                              std::uint32_t* state_b, const std::uint8_t* pb,
                                              std::size_t blocks) {
    ShaRegs a, b;
    load_state(a, state_a);
    load_state(b, state_b);
    while (blocks--) {
        const __m128i a_abef = a.abef, a_cdgh = a.cdgh;
        const __m128i b_abef = b.abef, b_cdgh = b.cdgh;
        load_block(a, pa);
        load_block(b, pb);
        sha_rounds_two(a, b, std::make_integer_sequence<int, 16>{});
        a.abef = _mm_add_epi32(a.abef, a_abef);
        a.cdgh = _mm_add_epi32(a.cdgh, a_cdgh);
        b.abef = _mm_add_epi32(b.abef, b_abef);
        b.cdgh = _mm_add_epi32(b.cdgh, b_cdgh);
        pa += 64;
        pb += 64;
    }
    store_state(a, state_a);
    store_state(b, state_b);
}

}  // namespace

// Not itself under the target attribute: its declaration is the plain one.
void sha256_compress(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks) {
    compress_hardware(state, p, blocks);
}

void sha256_compress_two(std::uint32_t* state_a, const std::uint8_t* a, std::uint32_t* state_b,
                         const std::uint8_t* b, std::size_t blocks) {
    compress_two_hardware(state_a, a, state_b, b, blocks);
}

}  // namespace filarix::kernels
