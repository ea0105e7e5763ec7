#include "content/md5.hpp"

#include <bit>
#include <cstring>

#include "content/kernels/kernels.hpp"

namespace filarix {

static_assert(std::endian::native == std::endian::little, "the word loads assume little-endian");

namespace {

// One step: a = b + ((a + f + word + constant) <<< s). The word and constant
// are added first, before the round function, which depends on the newest b.
#define MD5_F(a, b, c, d, x, k, s)  \
    a += (x) + (k);                 \
    a += (d) ^ ((b) & ((c) ^ (d))); \
    a = std::rotl(a, s) + (b);

// (b & d) | (c & ~d): the two terms share no bits, so they may be added
// separately, and c & ~d does not wait for b.
#define MD5_G(a, b, c, d, x, k, s) \
    a += (x) + (k);                \
    a += (c) & ~(d);               \
    a += (b) & (d);                \
    a = std::rotl(a, s) + (b);

#define MD5_H(a, b, c, d, x, k, s) \
    a += (x) + (k);                \
    a += (b) ^ (c) ^ (d);          \
    a = std::rotl(a, s) + (b);

#define MD5_I(a, b, c, d, x, k, s) \
    a += (x) + (k);                \
    a += (c) ^ ((b) | ~(d));       \
    a = std::rotl(a, s) + (b);

void compress(std::uint32_t* state, const std::uint8_t* p, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    while (blocks--) {
        std::uint32_t x[16];
        std::memcpy(x, p, 64);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        MD5_F(a, b, c, d, x[0], 0xd76aa478, 7)
        MD5_F(d, a, b, c, x[1], 0xe8c7b756, 12)
        MD5_F(c, d, a, b, x[2], 0x242070db, 17)
        MD5_F(b, c, d, a, x[3], 0xc1bdceee, 22)
        MD5_F(a, b, c, d, x[4], 0xf57c0faf, 7)
        MD5_F(d, a, b, c, x[5], 0x4787c62a, 12)
        MD5_F(c, d, a, b, x[6], 0xa8304613, 17)
        MD5_F(b, c, d, a, x[7], 0xfd469501, 22)
        MD5_F(a, b, c, d, x[8], 0x698098d8, 7)
        MD5_F(d, a, b, c, x[9], 0x8b44f7af, 12)
        MD5_F(c, d, a, b, x[10], 0xffff5bb1, 17)
        MD5_F(b, c, d, a, x[11], 0x895cd7be, 22)
        MD5_F(a, b, c, d, x[12], 0x6b901122, 7)
        MD5_F(d, a, b, c, x[13], 0xfd987193, 12)
        MD5_F(c, d, a, b, x[14], 0xa679438e, 17)
        MD5_F(b, c, d, a, x[15], 0x49b40821, 22)

        MD5_G(a, b, c, d, x[1], 0xf61e2562, 5)
        MD5_G(d, a, b, c, x[6], 0xc040b340, 9)
        MD5_G(c, d, a, b, x[11], 0x265e5a51, 14)
        MD5_G(b, c, d, a, x[0], 0xe9b6c7aa, 20)
        MD5_G(a, b, c, d, x[5], 0xd62f105d, 5)
        MD5_G(d, a, b, c, x[10], 0x02441453, 9)
        MD5_G(c, d, a, b, x[15], 0xd8a1e681, 14)
        MD5_G(b, c, d, a, x[4], 0xe7d3fbc8, 20)
        MD5_G(a, b, c, d, x[9], 0x21e1cde6, 5)
        MD5_G(d, a, b, c, x[14], 0xc33707d6, 9)
        MD5_G(c, d, a, b, x[3], 0xf4d50d87, 14)
        MD5_G(b, c, d, a, x[8], 0x455a14ed, 20)
        MD5_G(a, b, c, d, x[13], 0xa9e3e905, 5)
        MD5_G(d, a, b, c, x[2], 0xfcefa3f8, 9)
        MD5_G(c, d, a, b, x[7], 0x676f02d9, 14)
        MD5_G(b, c, d, a, x[12], 0x8d2a4c8a, 20)

        MD5_H(a, b, c, d, x[5], 0xfffa3942, 4)
        MD5_H(d, a, b, c, x[8], 0x8771f681, 11)
        MD5_H(c, d, a, b, x[11], 0x6d9d6122, 16)
        MD5_H(b, c, d, a, x[14], 0xfde5380c, 23)
        MD5_H(a, b, c, d, x[1], 0xa4beea44, 4)
        MD5_H(d, a, b, c, x[4], 0x4bdecfa9, 11)
        MD5_H(c, d, a, b, x[7], 0xf6bb4b60, 16)
        MD5_H(b, c, d, a, x[10], 0xbebfbc70, 23)
        MD5_H(a, b, c, d, x[13], 0x289b7ec6, 4)
        MD5_H(d, a, b, c, x[0], 0xeaa127fa, 11)
        MD5_H(c, d, a, b, x[3], 0xd4ef3085, 16)
        MD5_H(b, c, d, a, x[6], 0x04881d05, 23)
        MD5_H(a, b, c, d, x[9], 0xd9d4d039, 4)
        MD5_H(d, a, b, c, x[12], 0xe6db99e5, 11)
        MD5_H(c, d, a, b, x[15], 0x1fa27cf8, 16)
        MD5_H(b, c, d, a, x[2], 0xc4ac5665, 23)

        MD5_I(a, b, c, d, x[0], 0xf4292244, 6)
        MD5_I(d, a, b, c, x[7], 0x432aff97, 10)
        MD5_I(c, d, a, b, x[14], 0xab9423a7, 15)
        MD5_I(b, c, d, a, x[5], 0xfc93a039, 21)
        MD5_I(a, b, c, d, x[12], 0x655b59c3, 6)
        MD5_I(d, a, b, c, x[3], 0x8f0ccc92, 10)
        MD5_I(c, d, a, b, x[10], 0xffeff47d, 15)
        MD5_I(b, c, d, a, x[1], 0x85845dd1, 21)
        MD5_I(a, b, c, d, x[8], 0x6fa87e4f, 6)
        MD5_I(d, a, b, c, x[15], 0xfe2ce6e0, 10)
        MD5_I(c, d, a, b, x[6], 0xa3014314, 15)
        MD5_I(b, c, d, a, x[13], 0x4e0811a1, 21)
        MD5_I(a, b, c, d, x[4], 0xf7537e82, 6)
        MD5_I(d, a, b, c, x[11], 0xbd3af235, 10)
        MD5_I(c, d, a, b, x[2], 0x2ad7d2bb, 15)
        MD5_I(b, c, d, a, x[9], 0xeb86d391, 21)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        p += 64;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void Md5::reset() {
    state_[0] = 0x67452301u;
    state_[1] = 0xefcdab89u;
    state_[2] = 0x98badcfeu;
    state_[3] = 0x10325476u;
    framing_.reset();
}

void Md5::update(const void* data, std::size_t size) {
    framing_.update(data, size,
                    [this](const std::uint8_t* p, std::size_t n) { compress(state_, p, n); });
}

std::array<std::uint8_t, 16> Md5::finish() {
    framing_.finish(false,
                    [this](const std::uint8_t* p, std::size_t n) { compress(state_, p, n); });
    std::array<std::uint8_t, 16> digest;
    std::memcpy(digest.data(), state_, 16);
    reset();
    return digest;
}

namespace {

constexpr std::uint32_t initial_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

}  // namespace

void Md5::digest_many(const Message* messages, std::size_t count,
                      std::array<std::uint8_t, 16>* digests) {
    const auto store = [&](std::size_t i, const std::uint32_t* state) {
        state_bytes<false>(state, 4, digests[i].data());
    };
    // One message takes no lanes: the plain code is as fast for it.
    if (count > 1 && kernels::lanes16_available())
        return hash_in_lanes<16, 4, false>(
            messages, count, initial_state,
            [](std::uint32_t* s, const std::uint32_t* w, std::uint32_t) {
                kernels::md5_compress16_avx512(s, w);
            },
            store);
    if (count > 1 && kernels::lanes8_available())
        return hash_in_lanes<8, 4, false>(
            messages, count, initial_state,
            [](std::uint32_t* s, const std::uint32_t* w, std::uint32_t) {
                kernels::md5_compress8_avx2(s, w);
            },
            store);
    Md5 md5;
    for (std::size_t i = 0; i < count; ++i) {
        md5.update(messages[i].data, messages[i].size);
        digests[i] = md5.finish();
    }
}

}  // namespace filarix
