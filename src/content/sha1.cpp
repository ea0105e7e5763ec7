#include "content/sha1.hpp"

#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#define FILARIX_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace filarix {

namespace {

constexpr std::uint32_t initial_state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                            0xC3D2E1F0u};

inline std::uint32_t load_be32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

// ---- Portable kernel ---------------------------------------------------------

// Word t of the schedule, kept in a ring of sixteen.
template <int T>
inline std::uint32_t word(std::uint32_t* w) {
    if constexpr (T < 16) {
        return w[T];
    } else {
        w[T & 15] = std::rotl(w[(T - 3) & 15] ^ w[(T - 8) & 15] ^ w[(T - 14) & 15] ^ w[T & 15], 1);
        return w[T & 15];
    }
}

inline std::uint32_t choose(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline std::uint32_t parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return b ^ c ^ d;
}
inline std::uint32_t majority(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (b & c) | (d & (b | c));
}

// The variables rotate roles instead of moving: e takes the new value, b is
// rotated in place.
#define SHA1_ROUND(a, b, c, d, e, f, k, t)                \
    e += std::rotl(a, 5) + f(b, c, d) + (k) + word<t>(w); \
    b = std::rotl(b, 30);

#define SHA1_FIVE(f, k, t)                 \
    SHA1_ROUND(a, b, c, d, e, f, k, t)     \
    SHA1_ROUND(e, a, b, c, d, f, k, t + 1) \
    SHA1_ROUND(d, e, a, b, c, f, k, t + 2) \
    SHA1_ROUND(c, d, e, a, b, f, k, t + 3) \
    SHA1_ROUND(b, c, d, e, a, f, k, t + 4)

#define SHA1_TWENTY(f, k, t) \
    SHA1_FIVE(f, k, t)       \
    SHA1_FIVE(f, k, t + 5)   \
    SHA1_FIVE(f, k, t + 10)  \
    SHA1_FIVE(f, k, t + 15)

void compress_portable(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    while (blocks--) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

        SHA1_TWENTY(choose, 0x5A827999u, 0)
        SHA1_TWENTY(parity, 0x6ED9EBA1u, 20)
        SHA1_TWENTY(majority, 0x8F1BBCDCu, 40)
        SHA1_TWENTY(parity, 0xCA62C1D6u, 60)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
        p += 64;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

#undef SHA1_ROUND
#undef SHA1_FIVE
#undef SHA1_TWENTY

// ---- SHA instructions --------------------------------------------------------

#ifdef FILARIX_SHA_X86

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

bool query_sha() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    if ((ecx & bit_SSE4_1) == 0 || (ecx & bit_SSSE3) == 0) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 29)) != 0;
}

#endif  // FILARIX_SHA_X86

}  // namespace

bool sha1_hardware_available() {
#ifdef FILARIX_SHA_X86
    static const bool available = query_sha();
    return available;
#else
    return false;
#endif
}

Sha1::Sha1(bool allow_hardware) : hardware_(allow_hardware && sha1_hardware_available()) {
    reset();
}

void Sha1::reset() {
    std::memcpy(state_, initial_state, sizeof state_);
    framing_.reset();
}

void Sha1::compress(const std::uint8_t* p, std::size_t blocks) {
#ifdef FILARIX_SHA_X86
    if (hardware_) {
        compress_hardware(state_, p, blocks);
        return;
    }
#endif
    compress_portable(state_, p, blocks);
}

void Sha1::update(const void* data, std::size_t size) {
    framing_.update(data, size, [this](const std::uint8_t* p, std::size_t n) { compress(p, n); });
}

std::array<std::uint8_t, 20> Sha1::finish() {
    framing_.finish(true, [this](const std::uint8_t* p, std::size_t n) { compress(p, n); });
    std::array<std::uint8_t, 20> digest;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    reset();
    return digest;
}

}  // namespace filarix
