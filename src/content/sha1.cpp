#include "content/sha1.hpp"

#include <bit>
#include <cstring>
#include <utility>

#include "content/kernels/kernels.hpp"
#include "content/md5.hpp"

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

}  // namespace

bool sha1_hardware_available() {
    return kernels::sha_available();
}

Sha1::Sha1(bool allow_hardware) : hardware_(allow_hardware && sha1_hardware_available()) {
    reset();
}

void Sha1::reset() {
    std::memcpy(state_, initial_state, sizeof state_);
    framing_.reset();
}

void Sha1::compress(const std::uint8_t* p, std::size_t blocks) {
    if (hardware_) {
        kernels::sha1_compress(state_, p, blocks);
        return;
    }
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

void Sha1::digest_many(const LaneMessage* messages, std::size_t count,
                       std::array<std::uint8_t, 20>* digests) {
    // In 8 lanes (AVX2) it would be no faster than the SHA instructions.
    if (count > 1 && kernels::lanes16_available()) {
        hash_in_lanes<16, 5, true>(
            messages, count, initial_state,
            [](std::uint32_t* s, const std::uint32_t* w, std::uint32_t) {
                kernels::sha1_compress16_avx512(s, w);
            },
            [&](std::size_t i, const std::uint32_t* state) {
                state_bytes<true>(state, 5, digests[i].data());
            });
        return;
    }
    Sha1 sha1;
    for (std::size_t i = 0; i < count; ++i) {
        sha1.update(messages[i].data, messages[i].size);
        digests[i] = sha1.finish();
    }
}

void md5_and_sha1_many(const LaneMessage* messages, std::size_t count,
                       std::array<std::uint8_t, 16>* md5, std::array<std::uint8_t, 20>* sha1) {
    if (count <= 1 || !kernels::lanes16_available()) {
        Md5::digest_many(messages, count, md5);
        Sha1::digest_many(messages, count, sha1);
        return;
    }
    constexpr std::uint32_t both_initial[9] = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                               0x10325476u, 0x67452301u, 0xEFCDAB89u,
                                               0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    // Padded as MD5 pads; the kernel gives SHA-1 its own order.
    hash_in_lanes<16, 9, false>(
        messages, count, both_initial,
        [](std::uint32_t* s, const std::uint32_t* w, std::uint32_t last) {
            kernels::md5_sha1_compress16_avx512(s, w, static_cast<std::uint16_t>(last));
        },
        [&](std::size_t i, const std::uint32_t* state) {
            state_bytes<false>(state, 4, md5[i].data());
            state_bytes<true>(state + 4, 5, sha1[i].data());
        });
}

}  // namespace filarix
