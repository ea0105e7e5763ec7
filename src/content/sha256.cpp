#include "content/sha256.hpp"

#include <bit>
#include <cstring>
#include <utility>

#include "content/kernels/kernels.hpp"
#include "content/kernels/sha256_constants.hpp"
#include "content/sha1.hpp"

namespace filarix {

namespace {

constexpr std::uint32_t initial_state[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                            0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

using kernels::sha256_round_constants;

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
#define SHA256_ROUND(a, b, c, d, e, f, g, h, t)                                    \
    h += big_sigma1(e) + choose(e, f, g) + sha256_round_constants[t] + word<t>(w); \
    d += h;                                                                        \
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
    if (hardware_) {
        kernels::sha256_compress(state_, p, blocks);
        return;
    }
    compress_portable(state_, p, blocks);
}

void Sha256::update(const void* data, std::size_t size) {
    framing_.update(data, size, [this](const std::uint8_t* p, std::size_t n) { compress(p, n); });
}

void Sha256::update_two(Sha256& a, const void* data_a, Sha256& b, const void* data_b,
                        std::size_t size) {
    auto pa = static_cast<const std::uint8_t*>(data_a);
    auto pb = static_cast<const std::uint8_t*>(data_b);
    const std::size_t blocks = size / 64;
    if (a.hardware_ && b.hardware_ && a.framing_.aligned() && b.framing_.aligned() && blocks) {
        kernels::sha256_compress_two(a.state_, pa, b.state_, pb, blocks);
        a.framing_.compressed(blocks * 64);
        b.framing_.compressed(blocks * 64);
        pa += blocks * 64;
        pb += blocks * 64;
        size -= blocks * 64;
    }
    a.update(pa, size);
    b.update(pb, size);
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
