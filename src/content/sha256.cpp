#include "content/sha256.hpp"

#include <bit>
#include <cstring>
#include <utility>

#include "content/sha1.hpp"

#if defined(__x86_64__) || defined(__i386__)
#define FILARIX_SHA_X86 1
#include <immintrin.h>
#endif

namespace filarix {

namespace {

constexpr std::uint32_t initial_state[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                            0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

// Sixteen-byte alignment lets the hardware kernel load four at a time.
alignas(16) constexpr std::uint32_t round_constants[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u,
    0xAB1C5ED5u, 0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu,
    0x9BDC06A7u, 0xC19BF174u, 0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu,
    0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu, 0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u,
    0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u, 0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu,
    0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u, 0xA2BFE8A1u, 0xA81A664Bu,
    0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u, 0x19A4C116u,
    0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u,
    0xC67178F2u};

inline std::uint32_t load_be32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

// ---- Portable kernel ---------------------------------------------------------

inline std::uint32_t small_sigma0(std::uint32_t x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
inline std::uint32_t small_sigma1(std::uint32_t x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}
inline std::uint32_t big_sigma0(std::uint32_t x) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
inline std::uint32_t big_sigma1(std::uint32_t x) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
inline std::uint32_t choose(std::uint32_t e, std::uint32_t f, std::uint32_t g) {
    return g ^ (e & (f ^ g));
}
inline std::uint32_t majority(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return (a & b) | (c & (a | b));
}

// Word t of the schedule, kept in a ring of sixteen: w[t & 15] still holds
// word t - 16 when word t replaces it.
template <int T>
inline std::uint32_t word(std::uint32_t* w) {
    if constexpr (T >= 16)
        w[T & 15] +=
            small_sigma1(w[(T - 2) & 15]) + w[(T - 7) & 15] + small_sigma0(w[(T - 15) & 15]);
    return w[T & 15];
}

// The variables rotate roles instead of moving: the round adds into d and
// h, and the next round calls h what this one called g, and so on.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, t)                             \
    h += big_sigma1(e) + choose(e, f, g) + round_constants[t] + word<t>(w); \
    d += h;                                                                 \
    h += big_sigma0(a) + majority(a, b, c);

#define SHA256_EIGHT(t)                         \
    SHA256_ROUND(a, b, c, d, e, f, g, h, t)     \
    SHA256_ROUND(h, a, b, c, d, e, f, g, t + 1) \
    SHA256_ROUND(g, h, a, b, c, d, e, f, t + 2) \
    SHA256_ROUND(f, g, h, a, b, c, d, e, t + 3) \
    SHA256_ROUND(e, f, g, h, a, b, c, d, t + 4) \
    SHA256_ROUND(d, e, f, g, h, a, b, c, t + 5) \
    SHA256_ROUND(c, d, e, f, g, h, a, b, t + 6) \
    SHA256_ROUND(b, c, d, e, f, g, h, a, t + 7)

void compress_portable(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    while (blocks--) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;

        SHA256_EIGHT(0)
        SHA256_EIGHT(8)
        SHA256_EIGHT(16)
        SHA256_EIGHT(24)
        SHA256_EIGHT(32)
        SHA256_EIGHT(40)
        SHA256_EIGHT(48)
        SHA256_EIGHT(56)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
        f += f0;
        g += g0;
        h += h0;
        p += 64;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
    state[5] = f;
    state[6] = g;
    state[7] = h;
}

#undef SHA256_ROUND
#undef SHA256_EIGHT

// ---- SHA instructions --------------------------------------------------------

#ifdef FILARIX_SHA_X86

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
        r.m[G % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(round_constants + 4 * G)));
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

FILARIX_SHA_TARGET void compress_hardware(std::uint32_t* state, const std::uint8_t* p,
                                          std::size_t blocks) {
    // Reverses the bytes of each word, keeping the words in place.
    const __m128i byte_order = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    ShaRegs r;
    {
        const __m128i cdab = _mm_shuffle_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);  // C,D,A,B
        const __m128i efgh = _mm_shuffle_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);  // E,F,G,H
        r.abef = _mm_alignr_epi8(cdab, efgh, 8);
        r.cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    }
    while (blocks--) {
        const __m128i abef_saved = r.abef;
        const __m128i cdgh_saved = r.cdgh;
        for (int i = 0; i < 4; ++i)
            r.m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                                      byte_order);
        sha_rounds(r, std::make_integer_sequence<int, 16>{});
        r.abef = _mm_add_epi32(r.abef, abef_saved);
        r.cdgh = _mm_add_epi32(r.cdgh, cdgh_saved);
        p += 64;
    }
    const __m128i feba = _mm_shuffle_epi32(r.abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(r.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#endif  // FILARIX_SHA_X86

}  // namespace

// The SHA extensions bring SHA-1 and SHA-256 together: one question serves both.
bool sha256_hardware_available() {
    return sha1_hardware_available();
}

Sha256::Sha256(bool allow_hardware) : hardware_(allow_hardware && sha256_hardware_available()) {
    reset();
}

void Sha256::reset() {
    std::memcpy(state_, initial_state, sizeof state_);
    framing_.reset();
}

void Sha256::compress(const std::uint8_t* p, std::size_t blocks) {
#ifdef FILARIX_SHA_X86
    if (hardware_) {
        compress_hardware(state_, p, blocks);
        return;
    }
#endif
    compress_portable(state_, p, blocks);
}

void Sha256::update(const void* data, std::size_t size) {
    framing_.update(data, size, [this](const std::uint8_t* p, std::size_t n) { compress(p, n); });
}

std::array<std::uint8_t, 32> Sha256::finish() {
    framing_.finish(true, [this](const std::uint8_t* p, std::size_t n) { compress(p, n); });
    std::array<std::uint8_t, 32> digest;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    reset();
    return digest;
}

}  // namespace filarix
