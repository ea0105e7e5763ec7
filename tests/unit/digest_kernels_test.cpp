// The CRC-32, MD5 and SHA-1 kernels against published vectors and against
// deliberately plain reference versions written out below.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "content/crc32.hpp"
#include "content/md5.hpp"
#include "content/sha1.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- Plain references: one bit or one word at a time, no tricks -------------

std::uint32_t reference_crc(const std::uint8_t* p, std::size_t n) {
    std::uint32_t reg = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ ((reg & 1u) ? 0xEDB88320u : 0u);
    }
    return ~reg;
}

std::uint32_t rol(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// Message, 0x80, zeros to 56 mod 64, 64-bit bit length (little or big endian).
Bytes padded(const std::uint8_t* p, std::size_t n, bool big_endian) {
    Bytes m(p, p + n);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    const std::uint64_t bits = std::uint64_t{n} * 8;
    for (int i = 0; i < 8; ++i)
        m.push_back(static_cast<std::uint8_t>(bits >> (big_endian ? 56 - 8 * i : 8 * i)));
    return m;
}

std::string reference_md5(const std::uint8_t* p, std::size_t n) {
    static const int shifts[4][4] = {
        {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::uint32_t k[64];
    for (int i = 0; i < 64; ++i)
        k[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    std::uint32_t h[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    const Bytes m = padded(p, n, false);
    for (std::size_t off = 0; off < m.size(); off += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = m[off + 4 * i] | m[off + 4 * i + 1] << 8 | m[off + 4 * i + 2] << 16 |
                   std::uint32_t{m[off + 4 * i + 3]} << 24;
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            std::uint32_t f;
            int g;
            if (round == 0)
                f = (b & c) | (~b & d), g = i;
            else if (round == 1)
                f = (b & d) | (c & ~d), g = (5 * i + 1) % 16;
            else if (round == 2)
                f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else
                f = c ^ (b | ~d), g = (7 * i) % 16;
            const std::uint32_t next = b + rol(a + f + k[i] + x[g], shifts[round][i % 4]);
            a = d, d = c, c = b, b = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    std::uint8_t out[16];
    for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (8 * (i % 4)));
    return to_upper_hex(out, 16);
}

std::string reference_sha1(const std::uint8_t* p, std::size_t n) {
    std::uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    const Bytes m = padded(p, n, true);
    for (std::size_t off = 0; off < m.size(); off += 64) {
        std::uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = std::uint32_t{m[off + 4 * t]} << 24 | m[off + 4 * t + 1] << 16 |
                   m[off + 4 * t + 2] << 8 | m[off + 4 * t + 3];
        for (int t = 16; t < 80; ++t) w[t] = rol(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            std::uint32_t f, k;
            if (t < 20)
                f = (b & c) ^ (~b & d), k = 0x5A827999u;
            else if (t < 40)
                f = b ^ c ^ d, k = 0x6ED9EBA1u;
            else if (t < 60)
                f = (b & c) ^ (b & d) ^ (c & d), k = 0x8F1BBCDCu;
            else
                f = b ^ c ^ d, k = 0xCA62C1D6u;
            const std::uint32_t temp = rol(a, 5) + f + e + k + w[t];
            e = d, d = c, c = rol(b, 30), b = a, a = temp;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::uint8_t out[20];
    for (int i = 0; i < 20; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return to_upper_hex(out, 20);
}

// ---- Helpers -----------------------------------------------------------------

Bytes random_bytes(std::size_t n, std::mt19937& rng) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// Feeds data to a digest object in pieces cut at random points.
template <typename Digest>
auto fed_in_pieces(Digest&& digest, const Bytes& data, std::mt19937& rng) {
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t piece = std::min<std::size_t>(rng() % 150, data.size() - pos);
        digest.update(data.data() + pos, piece);
        pos += piece;
    }
    return digest.finish();
}

template <std::size_t N>
std::string hex(const std::array<std::uint8_t, N>& d) {
    return to_upper_hex(d.data(), N);
}

std::string md5_of(const std::string& s) {
    Md5 md5;
    md5.update(s.data(), s.size());
    return hex(md5.finish());
}

std::string sha1_of(const std::string& s, bool hardware) {
    Sha1 sha1(hardware);
    sha1.update(s.data(), s.size());
    return hex(sha1.finish());
}

std::vector<bool> sha1_paths() {
    if (sha1_hardware_available()) return {false, true};
    return {false};
}

const std::uint8_t* bytes_of(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

}  // namespace

// ---- CRC-32 --------------------------------------------------------------------

TEST(DigestKernelsCrc, CheckValueAndEmpty) {
    const std::string check = "123456789";
    EXPECT_EQ(~crc32_update_portable(0xFFFFFFFFu, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(~crc32_update_clmul(0xFFFFFFFFu, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(reference_crc(bytes_of(check), check.size()), 0xCBF43926u);
    Crc32 crc;
    crc.update(check.data(), check.size());
    EXPECT_EQ(crc.value(), 0xCBF43926u);
    crc.reset();
    EXPECT_EQ(crc.value(), 0u);
    crc.update(nullptr, 0);
    EXPECT_EQ(crc.value(), 0u);
}

TEST(DigestKernelsCrc, ClmulCheckValueBehindZeros) {
    if (!crc32_clmul_available()) GTEST_SKIP() << "no PCLMULQDQ/SSE4.1";
    // From a zero register leading zero bytes change nothing, so a long run of
    // them puts the check string through the folding kernel.
    std::string msg(4000, '\0');
    msg += "123456789";
    const std::uint32_t zero_start = crc32_update_clmul(0, msg.data(), msg.size());
    EXPECT_EQ(zero_start, crc32_update_portable(0, "123456789", 9));
}

TEST(DigestKernelsCrc, PortableAndClmulAgreeOnEveryLengthAndAlignment) {
    std::mt19937 rng(12345);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n : {1000u, 4096u, 65536u + 13u, 1048576u + 7u}) lengths.push_back(n);
    const Bytes pool = random_bytes(1048576 + 64, rng);
    for (std::size_t n : lengths) {
        const std::size_t offset = rng() % 16;  // misaligned starts
        const std::uint8_t* p = pool.data() + offset;
        const std::uint32_t expected = reference_crc(p, n);
        EXPECT_EQ(~crc32_update_portable(0xFFFFFFFFu, p, n), expected) << "length " << n;
        EXPECT_EQ(~crc32_update_clmul(0xFFFFFFFFu, p, n), expected) << "length " << n;

        Crc32 crc;
        for (std::size_t pos = 0; pos < n;) {
            const std::size_t piece = std::min<std::size_t>(rng() % 700, n - pos);
            crc.update(p + pos, piece);
            pos += piece;
        }
        EXPECT_EQ(crc.value(), expected) << "length " << n << " in pieces";
    }
}

// ---- MD5 -------------------------------------------------------------------------

struct Vector {
    std::string message;
    const char* digest;
};

TEST(DigestKernelsMd5, Rfc1321Suite) {
    const Vector suite[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& v : suite) {
        EXPECT_EQ(md5_of(v.message), v.digest) << '"' << v.message << '"';
        EXPECT_EQ(reference_md5(bytes_of(v.message), v.message.size()), v.digest);
    }
}

TEST(DigestKernelsMd5, PaddingEdgesMatchReference) {
    std::mt19937 rng(7);
    const Bytes data = random_bytes(130, rng);
    for (std::size_t n = 0; n <= 130; ++n) {
        Md5 md5;
        md5.update(data.data(), n);
        EXPECT_EQ(hex(md5.finish()), reference_md5(data.data(), n)) << "length " << n;
    }
}

TEST(DigestKernelsMd5, PiecesEqualOneShotAndObjectIsReusable) {
    std::mt19937 rng(99);
    Md5 md5;
    for (std::size_t n : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 1000u, 100000u}) {
        const Bytes data = random_bytes(n, rng);
        md5.update(data.data(), data.size());
        const std::string one_shot = hex(md5.finish());  // finish() leaves md5 reset
        EXPECT_EQ(one_shot, reference_md5(data.data(), n));
        EXPECT_EQ(hex(fed_in_pieces(Md5(), data, rng)), one_shot) << "length " << n;
    }
}

// ---- SHA-1 -----------------------------------------------------------------------

TEST(DigestKernelsSha1, Fips180Vectors) {
    const Vector vectors[] = {
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopq"
         "rsmnopqrstnopqrstu",
         "A49B2446A02C645BF419F995B67091253A04A259"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (bool hardware : sha1_paths()) {
        for (const auto& v : vectors) {
            EXPECT_EQ(sha1_of(v.message, hardware), v.digest)
                << (hardware ? "hardware " : "portable ") << v.message.size() << " bytes";
        }
    }
    for (const auto& v : vectors)
        EXPECT_EQ(reference_sha1(bytes_of(v.message), v.message.size()), v.digest);
}

TEST(DigestKernelsSha1, PaddingEdgesBothPathsMatchReference) {
    if (!sha1_hardware_available()) std::cout << "SHA instructions absent: portable path only\n";
    std::mt19937 rng(3);
    const Bytes data = random_bytes(130, rng);
    for (std::size_t n = 0; n <= 130; ++n) {
        const std::string expected = reference_sha1(data.data(), n);
        for (bool hardware : sha1_paths()) {
            Sha1 sha1(hardware);
            EXPECT_EQ(sha1.uses_hardware(), hardware);
            sha1.update(data.data(), n);
            EXPECT_EQ(hex(sha1.finish()), expected) << "length " << n << " hardware " << hardware;
        }
    }
}

TEST(DigestKernelsSha1, PiecesEqualOneShotOnBothPaths) {
    std::mt19937 rng(2024);
    for (std::size_t n : {0u, 1u, 55u, 56u, 64u, 119u, 120u, 1000u, 100000u}) {
        const Bytes data = random_bytes(n, rng);
        const std::string expected = reference_sha1(data.data(), n);
        for (bool hardware : sha1_paths())
            EXPECT_EQ(hex(fed_in_pieces(Sha1(hardware), data, rng)), expected)
                << "length " << n << " hardware " << hardware;
    }
}
