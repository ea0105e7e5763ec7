#include "content/sha512.hpp"

#include <bit>
#include <cstring>

namespace filarix {

namespace {

constexpr std::uint64_t initial_state[8] = {
    0x6A09E667F3BCC908u, 0xBB67AE8584CAA73Bu, 0x3C6EF372FE94F82Bu, 0xA54FF53A5F1D36F1u,
    0x510E527FADE682D1u, 0x9B05688C2B3E6C1Fu, 0x1F83D9ABFB41BD6Bu, 0x5BE0CD19137E2179u};

constexpr std::uint64_t round_constants[80] = {
    0x428A2F98D728AE22u, 0x7137449123EF65CDu, 0xB5C0FBCFEC4D3B2Fu, 0xE9B5DBA58189DBBCu,
    0x3956C25BF348B538u, 0x59F111F1B605D019u, 0x923F82A4AF194F9Bu, 0xAB1C5ED5DA6D8118u,
    0xD807AA98A3030242u, 0x12835B0145706FBEu, 0x243185BE4EE4B28Cu, 0x550C7DC3D5FFB4E2u,
    0x72BE5D74F27B896Fu, 0x80DEB1FE3B1696B1u, 0x9BDC06A725C71235u, 0xC19BF174CF692694u,
    0xE49B69C19EF14AD2u, 0xEFBE4786384F25E3u, 0x0FC19DC68B8CD5B5u, 0x240CA1CC77AC9C65u,
    0x2DE92C6F592B0275u, 0x4A7484AA6EA6E483u, 0x5CB0A9DCBD41FBD4u, 0x76F988DA831153B5u,
    0x983E5152EE66DFABu, 0xA831C66D2DB43210u, 0xB00327C898FB213Fu, 0xBF597FC7BEEF0EE4u,
    0xC6E00BF33DA88FC2u, 0xD5A79147930AA725u, 0x06CA6351E003826Fu, 0x142929670A0E6E70u,
    0x27B70A8546D22FFCu, 0x2E1B21385C26C926u, 0x4D2C6DFC5AC42AEDu, 0x53380D139D95B3DFu,
    0x650A73548BAF63DEu, 0x766A0ABB3C77B2A8u, 0x81C2C92E47EDAEE6u, 0x92722C851482353Bu,
    0xA2BFE8A14CF10364u, 0xA81A664BBC423001u, 0xC24B8B70D0F89791u, 0xC76C51A30654BE30u,
    0xD192E819D6EF5218u, 0xD69906245565A910u, 0xF40E35855771202Au, 0x106AA07032BBD1B8u,
    0x19A4C116B8D2D0C8u, 0x1E376C085141AB53u, 0x2748774CDF8EEB99u, 0x34B0BCB5E19B48A8u,
    0x391C0CB3C5C95A63u, 0x4ED8AA4AE3418ACBu, 0x5B9CCA4F7763E373u, 0x682E6FF3D6B2B8A3u,
    0x748F82EE5DEFB2FCu, 0x78A5636F43172F60u, 0x84C87814A1F0AB72u, 0x8CC702081A6439ECu,
    0x90BEFFFA23631E28u, 0xA4506CEBDE82BDE9u, 0xBEF9A3F7B2C67915u, 0xC67178F2E372532Bu,
    0xCA273ECEEA26619Cu, 0xD186B8C721C0C207u, 0xEADA7DD6CDE0EB1Eu, 0xF57D4F7FEE6ED178u,
    0x06F067AA72176FBAu, 0x0A637DC5A2C898A6u, 0x113F9804BEF90DAEu, 0x1B710B35131C471Bu,
    0x28DB77F523047D84u, 0x32CAAB7B40C72493u, 0x3C9EBE0A15C9BEBCu, 0x431D67C49C100D4Cu,
    0x4CC5D4BECB3E42B6u, 0x597F299CFC657E2Au, 0x5FCB6FAB3AD6FAECu, 0x6C44198C4A475817u};

inline std::uint64_t load_be64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

inline std::uint64_t small_sigma0(std::uint64_t x) {
    return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7);
}
inline std::uint64_t small_sigma1(std::uint64_t x) {
    return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6);
}
inline std::uint64_t big_sigma0(std::uint64_t x) {
    return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39);
}
inline std::uint64_t big_sigma1(std::uint64_t x) {
    return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41);
}
inline std::uint64_t choose(std::uint64_t e, std::uint64_t f, std::uint64_t g) {
    return g ^ (e & (f ^ g));
}
inline std::uint64_t majority(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    return (a & b) | (c & (a | b));
}

// Word t of the schedule, kept in a ring of sixteen: w[t & 15] still holds
// word t - 16 when word t replaces it.
template <int T>
inline std::uint64_t word(std::uint64_t* w) {
    if constexpr (T >= 16)
        w[T & 15] +=
            small_sigma1(w[(T - 2) & 15]) + w[(T - 7) & 15] + small_sigma0(w[(T - 15) & 15]);
    return w[T & 15];
}

// The variables rotate roles instead of moving: the round adds into d and
// h, and the next round calls h what this one called g, and so on.
#define SHA512_ROUND(a, b, c, d, e, f, g, h, t)                             \
    h += big_sigma1(e) + choose(e, f, g) + round_constants[t] + word<t>(w); \
    d += h;                                                                 \
    h += big_sigma0(a) + majority(a, b, c);

#define SHA512_EIGHT(t)                         \
    SHA512_ROUND(a, b, c, d, e, f, g, h, t)     \
    SHA512_ROUND(h, a, b, c, d, e, f, g, t + 1) \
    SHA512_ROUND(g, h, a, b, c, d, e, f, t + 2) \
    SHA512_ROUND(f, g, h, a, b, c, d, e, t + 3) \
    SHA512_ROUND(e, f, g, h, a, b, c, d, t + 4) \
    SHA512_ROUND(d, e, f, g, h, a, b, c, t + 5) \
    SHA512_ROUND(c, d, e, f, g, h, a, b, t + 6) \
    SHA512_ROUND(b, c, d, e, f, g, h, a, t + 7)

void compress(std::uint64_t* state, const std::uint8_t* p, std::size_t blocks) {
    std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    while (blocks--) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be64(p + 8 * i);
        const std::uint64_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;

        SHA512_EIGHT(0)
        SHA512_EIGHT(8)
        SHA512_EIGHT(16)
        SHA512_EIGHT(24)
        SHA512_EIGHT(32)
        SHA512_EIGHT(40)
        SHA512_EIGHT(48)
        SHA512_EIGHT(56)
        SHA512_EIGHT(64)
        SHA512_EIGHT(72)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
        f += f0;
        g += g0;
        h += h0;
        p += 128;
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

#undef SHA512_ROUND
#undef SHA512_EIGHT

}  // namespace

void Sha512::reset() {
    std::memcpy(state_, initial_state, sizeof state_);
    framing_.reset();
}

void Sha512::update(const void* data, std::size_t size) {
    framing_.update(data, size,
                    [this](const std::uint8_t* p, std::size_t n) { compress(state_, p, n); });
}

std::array<std::uint8_t, 64> Sha512::finish() {
    framing_.finish(true, [this](const std::uint8_t* p, std::size_t n) { compress(state_, p, n); });
    std::array<std::uint8_t, 64> digest;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            digest[8 * i + j] = static_cast<std::uint8_t>(state_[i] >> (56 - 8 * j));
    reset();
    return digest;
}

}  // namespace filarix
