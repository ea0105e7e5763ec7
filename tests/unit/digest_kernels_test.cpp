// The CRC-32, MD5 and SHA-1 kernels against published vectors and against
// deliberately plain reference versions written out below; SHA-256, SHA-512
// and SHA3-256 against published vectors and digests computed once with an
// independent implementation (Python's hashlib); XXH3-128 against digests
// printed once by xxhsum -H2 (xxHash 0.8.1); BLAKE3 against digests printed
// once by b3sum 1.2.0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "content/blake3.hpp"
#include "content/crc32.hpp"
#include "content/kernels/kernels.hpp"
#include "content/md5.hpp"
#include "content/sha1.hpp"
#include "content/sha256.hpp"
#include "content/sha3.hpp"
#include "content/sha512.hpp"
#include "content/xxh3.hpp"

using namespace filarix;

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
    // Without the instructions the kernel falls back to the table and the
    // check still holds.
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

// Many messages at once give each its own digest: every length around the
// padding's edges, in groups that fill the lanes, leave some idle, and
// refill them as messages of other lengths end; MD5 and SHA-1 alike, each
// alone and both in one pass.
TEST(DigestKernelsLanes, ManyAtOnceEqualEachAlone) {
    std::mt19937 rng(5);
    std::vector<Bytes> data;
    for (std::size_t n = 0; n <= 200; ++n) data.push_back(random_bytes(n, rng));
    for (std::size_t n : {1000u, 4096u, 4097u, 70000u}) data.push_back(random_bytes(n, rng));
    std::shuffle(data.begin(), data.end(), rng);
    for (std::size_t count : {1u, 2u, 7u, 8u, 9u, 16u, 17u, 40u, 100u, 205u}) {
        std::vector<LaneMessage> messages;
        for (std::size_t i = 0; i < count; ++i)
            messages.push_back({data[i].data(), data[i].size()});
        std::vector<std::array<std::uint8_t, 16>> md5(count);
        std::vector<std::array<std::uint8_t, 20>> sha1(count);
        std::vector<std::array<std::uint8_t, 16>> md5_both(count);
        std::vector<std::array<std::uint8_t, 20>> sha1_both(count);
        Md5::digest_many(messages.data(), count, md5.data());
        Sha1::digest_many(messages.data(), count, sha1.data());
        md5_and_sha1_many(messages.data(), count, md5_both.data(), sha1_both.data());
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(hex(md5[i]), reference_md5(data[i].data(), data[i].size()))
                << count << " messages, length " << data[i].size();
            EXPECT_EQ(hex(sha1[i]), reference_sha1(data[i].data(), data[i].size()))
                << count << " messages, length " << data[i].size();
            EXPECT_EQ(md5_both[i], md5[i]) << count << " messages, length " << data[i].size();
            EXPECT_EQ(sha1_both[i], sha1[i]) << count << " messages, length " << data[i].size();
        }
    }
}

// Each lane kernel the processor has, one padded block a lane, equals
// the reference: digest_many takes only the widest.
TEST(DigestKernelsLanes, EveryLaneKernelEqualsReference) {
    struct Kernel {
        const char* name;
        bool available;
        std::size_t lanes;
        bool big_endian;  // SHA-1's words and digest, MD5's little-endian
        std::vector<std::uint32_t> initial;
        void (*compress)(std::uint32_t*, const std::uint32_t*);
        std::string (*reference)(const std::uint8_t*, std::size_t);
    };
    const std::vector<std::uint32_t> md5_initial = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                                    0x10325476u};
    const std::vector<std::uint32_t> sha1_initial = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                     0x10325476u, 0xC3D2E1F0u};
    const Kernel table[] = {
        {"MD5 16", kernels::lanes16_available(), 16, false, md5_initial,
         kernels::md5_compress16_avx512, reference_md5},
        {"MD5 8", kernels::lanes8_available(), 8, false, md5_initial, kernels::md5_compress8_avx2,
         reference_md5},
        {"SHA-1 16", kernels::lanes16_available(), 16, true, sha1_initial,
         kernels::sha1_compress16_avx512, reference_sha1},
    };
    const auto swapped = [](std::uint32_t w, bool big_endian) {
        return big_endian ? __builtin_bswap32(w) : w;
    };
    std::mt19937 rng(11);
    for (const Kernel& k : table) {
        if (!k.available) continue;
        const std::size_t state_words = k.initial.size();
        std::vector<Bytes> data;
        std::vector<std::uint32_t> state(state_words * k.lanes), words(16 * k.lanes);
        for (std::size_t l = 0; l < k.lanes; ++l) {
            data.push_back(random_bytes(l * 3, rng));
            const Bytes block = padded(data[l].data(), data[l].size(), k.big_endian);
            for (std::size_t w = 0; w < 16; ++w) {
                std::uint32_t word;
                std::memcpy(&word, block.data() + 4 * w, 4);
                words[w * k.lanes + l] = swapped(word, k.big_endian);
            }
            for (std::size_t w = 0; w < state_words; ++w) state[w * k.lanes + l] = k.initial[w];
        }
        k.compress(state.data(), words.data());
        for (std::size_t l = 0; l < k.lanes; ++l) {
            std::array<std::uint8_t, 20> digest{};
            for (std::size_t w = 0; w < state_words; ++w) {
                const std::uint32_t word = swapped(state[w * k.lanes + l], k.big_endian);
                std::memcpy(digest.data() + 4 * w, &word, 4);
            }
            EXPECT_EQ(hex(digest).substr(0, 8 * state_words),
                      k.reference(data[l].data(), data[l].size()))
                << k.name << " lanes, lane " << l;
        }
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

// ---- SHA-256, SHA-512, SHA3-256 ------------------------------------------------

namespace {

struct ShaDigests {
    const char* sha256;
    const char* sha512;
    const char* sha3_256;
};

// Piece sizes a message is fed in, repeated until it is used up; none means
// one call for the whole message. Odd sizes put every block boundary of the
// 64-, 128- and 136-byte blocks somewhere inside a piece sooner or later.
using Pieces = std::vector<std::size_t>;
const Pieces feedings[] = {{}, {1}, {7}, {63}, {200}, {1, 7, 63, 200}};

template <typename Digest>
std::string digest_fed(Digest& digest, const std::uint8_t* p, std::size_t n, const Pieces& pieces) {
    if (pieces.empty()) {
        digest.update(p, n);
    } else {
        for (std::size_t pos = 0, i = 0; pos < n; ++i) {
            const std::size_t piece = std::min(pieces[i % pieces.size()], n - pos);
            digest.update(p + pos, piece);
            pos += piece;
        }
    }
    return hex(digest.finish());
}

// One digest object per kernel, kept across messages: each finish() must
// leave it ready for the next one.
struct ShaKernel {
    std::string name;
    const char* ShaDigests::*expected;
    std::function<std::string(const std::uint8_t*, std::size_t, const Pieces&)> digest;
};

std::vector<ShaKernel> sha_kernels() {
    std::vector<ShaKernel> kernels;
    const bool hardware_present = sha256_hardware_available();
    if (!hardware_present) std::cout << "SHA instructions absent: SHA-256 portable path only\n";
    for (bool hardware : {false, true}) {
        if (hardware && !hardware_present) continue;
        Sha256 sha256(hardware);
        EXPECT_EQ(sha256.uses_hardware(), hardware);
        kernels.push_back(
            {hardware ? "SHA-256 hardware" : "SHA-256 portable", &ShaDigests::sha256,
             [d = sha256](const std::uint8_t* p, std::size_t n, const Pieces& pieces) mutable {
                 return digest_fed(d, p, n, pieces);
             }});
    }
    kernels.push_back(
        {"SHA-512", &ShaDigests::sha512,
         [d = Sha512()](const std::uint8_t* p, std::size_t n, const Pieces& pieces) mutable {
             return digest_fed(d, p, n, pieces);
         }});
    kernels.push_back(
        {"SHA3-256", &ShaDigests::sha3_256,
         [d = Sha3_256()](const std::uint8_t* p, std::size_t n, const Pieces& pieces) mutable {
             return digest_fed(d, p, n, pieces);
         }});
    return kernels;
}

std::string pieces_text(const Pieces& pieces) {
    if (pieces.empty()) return "whole";
    std::string text;
    for (std::size_t s : pieces) {
        if (!text.empty()) text += ',';
        text += std::to_string(s);
    }
    return text;
}

void check_every_kernel_and_feeding(std::vector<ShaKernel>& kernels, const std::uint8_t* p,
                                    std::size_t n, const ShaDigests& want,
                                    const std::string& label) {
    for (auto& kernel : kernels)
        for (const Pieces& pieces : feedings)
            EXPECT_EQ(kernel.digest(p, n, pieces), want.*kernel.expected)
                << kernel.name << ", " << label << ", pieces " << pieces_text(pieces);
}

// The bytes the generated-data digests were computed over: the top byte of
// each step of x = 1664525 x + 1013904223 (mod 2^32) from x = 1. Every
// length is a prefix of the same stream.
Bytes generated_bytes(std::size_t n) {
    Bytes b(n);
    std::uint32_t x = 1;
    for (auto& byte : b) {
        x = x * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return b;
}

}  // namespace

TEST(DigestKernelsSha2Sha3, NistVectors) {
    struct Row {
        std::string message;
        ShaDigests digests;
    };
    const Row rows[] = {
        {"",
         {"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855",
          "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
          "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E",
          "A7FFC6F8BF1ED76651C14756A061D662F580FF4DE43B49FA82D80A4B80F8434A"}},
        {"abc",
         {"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
          "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
          "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F",
          "3A985DA74FE225B2045C172D6BD390BD855F086E3E9D525B46BFE24511431532"}},
        // 448 bits
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         {"248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1",
          "204A8FC6DDA82F0A0CED7BEB8E08A41657C16EF468B228A8279BE331A703C335"
          "96FD15C13B1B07F9AA1D3BEA57789CA031AD85C7A71DD70354EC631238CA3445",
          "41C0DBA2A9D6240849100376A8235E2C82E1B9998A999E21DB32DD97496D3376"}},
        // 896 bits
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
         "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         {"CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1",
          "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018"
          "501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD26545E96E55B874BE909",
          "916F6061FE879741CA6469B43971DFDB28B1A32DC36CB3254E812BE27AAD1D18"}},
        {std::string(1000000, 'a'),
         {"CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0",
          "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EB"
          "DE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49AA2E4EADB217AD8CC09B",
          "5C8875AE474A3634BA4FD55EC85BFFD661F32ACA75C6D699D0CDCB6C115891C1"}},
    };
    auto kernels = sha_kernels();
    for (const auto& row : rows)
        check_every_kernel_and_feeding(kernels, bytes_of(row.message), row.message.size(),
                                       row.digests, std::to_string(row.message.size()) + " bytes");
}

// Lengths around the end of the first block of each kernel, where the
// padding and length field spill into a further block or just fit.
TEST(DigestKernelsSha2Sha3, GeneratedDataAtBlockEdges) {
    struct Row {
        std::size_t size;
        ShaDigests digests;
    };
    const Row rows[] = {
        {0,
         {"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855",
          "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
          "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E",
          "A7FFC6F8BF1ED76651C14756A061D662F580FF4DE43B49FA82D80A4B80F8434A"}},
        {1,
         {"DABD3AFF769F07EB2965401EB029974EBBA3407AFD02B26DDB564EA5F8EFAE72",
          "B18958A158203B52AD30B4CE7E5399CE1D7411B3F8C8C845FD2EF0D6C855F960"
          "4A584A326AD70048FB94F506983D33D9A985E98381E6EF3D77F6D47224A8DC09",
          "C03CDC484AD76E2FF295F5F4DEA5E5A17EF7C3B5E7726C9473957DD4A47F74D5"}},
        {55,
         {"3CA61AEFED89811CFDD5FC5A131C73250D6D556AD6E379E98FC0A748DC6C712E",
          "30ECE976D51D752444315ED8730223B5FC8C37FC06E22F72A11D5ECC739B4B6C"
          "2E6AAFBFA87BC05DD96B78174D69A8E25FFC403EFFCE201FD46613B702E0BE11",
          "9C66CE9139E3966D4F6A3AE3EB248FE20914EDD1B64B002711D511BB03274738"}},
        {56,
         {"23B83C1957DCBF2CC769EA265DE2496D530679398AB1EAEE60ED3A9924952961",
          "3B4FD5261FC89252CED50FACA289F4A9A6B78D5BA50C207B18FEB4C53B8AD192"
          "29B6F92956C30322879E5B9BD074C6B910467484B0BDF4A91A5952C8E4DC4C62",
          "D40F66E38B8018B9CD82BA79A90D9FBEEFC5D7EDDF86BB7700E74793516D3090"}},
        {63,
         {"1B1E8A91273DFA48857490C590E219ED7A3B4A5A2529F8F140C690314D866D5A",
          "B17546A2BF8C817BF2DE700C816248CD12D99C56528CB6EEDD81045B0B83D431"
          "03B2CCAE80387A4CA6FEA1F01F46928E54F9C8F81BD67CC478FA3A19BE160C7E",
          "323CFF8E8E76E081B552802ABBDE91B55154D347CBBE9D7612286FB7D806E6E2"}},
        {64,
         {"BCAA0C51106FEB59B9A6709083E54B7744602CAA23C59224EBB4651341E64FC3",
          "F3177C1DF92DA6C321850EAC4933C08F5C8431DD520C9CD2A8BEF4BCFB8D74A8"
          "FAF8552D976ACBE3F047A317EB4F1F561F8AF4133A35AE59231C8FBF8F3FFC54",
          "EDB315BFED12965C8F82498E6F8675D778FFABA3206A0BCF61B3080873E626DB"}},
        {65,
         {"15E8208179C167A401C50467C80C0BD0233654A32121A7E5B9CDE0B11838C851",
          "869CBD24D3488122AA215E7A64D1292CB4035A4FC2EF462A4CB4B3D16D892175"
          "27D7DBB44487071332CFB963909BD40DE767B5293112FCC6BCC51F863373C458",
          "7143CCE4E940D8F9ABE8F94378675ADBA8222CB6B6A9017878BAA592B4172F24"}},
        {111,
         {"C0776B46919A389A748D13EABF61BE98AD644E8E34E595A85921C5ADE746D7AC",
          "1DB39000BD849F6593BCC65E4FB62C1EEDB2228E9E6C3300A23B4F433092DF17"
          "A0F2EDC5FD559EB133D37B87B08C47F795CA22BE41855A5EB27410821A85BF75",
          "CB29B77AE99A1A471B806B07BA878977C909F4C26E31C5847B0774D433F142DC"}},
        {112,
         {"365858AB7C79CABE82815AE63093E7AE3A2A9A7CC29BE968EC782F9892BBCBF3",
          "C9BB867EED45FF491C34E4432C2C738D5F1C06BAA3BDE8D092065590D0C8E8C8"
          "43FB696EC8BE242B247E95E16157F34C8173AAB65C609E217F19C828E4D8A99B",
          "DA8BB45E8EEE3CA0D28E4A0B8A3C29FDE5C2EE6655B565BB7A5C72CEBF7DB5A3"}},
        {127,
         {"14617813621F74C970D106B72C6E6FBA42E465F84F96E9B270C41C730D36CF1E",
          "0F95A3FEDAD490951358474B4F5F2EA2927DFBC66ADDEDB7F25AE259B11C0985"
          "E769F67B25BF74D4B1A401B66B79E76235FFD008BA87CE5D2691FE86C3DDA3E9",
          "B816AA6D51F8971B6BBC822FEC1B6EDF7494AEAC93E7BF37CC547039E0B21FC7"}},
        {128,
         {"0108579A848FDB772CA53F2FA3534254CCEACE8AF8C1C3718121409CA1ACC7C3",
          "0A7AC4DE2533E502DA164C12D7530573EF2971F7DC1439684BC5411EE733C4E2"
          "B46EFF056296CAAD40A6320FF797B931FD0828441675E9282958FC1E1DCF7FD9",
          "C5D796C3A386F3DB7284076988302296DB3F55C2C5B56A9E96703A7202026961"}},
        {135,
         {"CF84C2C193B817501140EFCB4A1FC0CB9E2FE665CAD0BE5889483FAAEF8DD294",
          "BB5DB8A958E1EF708D9657387864DA8896BB61B1A9006D931C446336827A72AA"
          "B863226C26D99EAEBB021A46FF34ABDD84FADC85A3908EACA604F1E4EC696770",
          "D47D738419358877EAAA5122896C545E14CAA65545E20B89967DFE94CA9CD341"}},
        {136,
         {"3664EAD6A286F471FA4291266D8F608361D77510E6F9A38CC5B9F2528AE17301",
          "813CEDDBD49FD4004B1C96FD40B9613E04E6BE7AD9F678EE2A2C0625EC045FDC"
          "EC891CEE81B6488696CCE85778B2DE253F3C797F523DA849250490603A7431D7",
          "2ACD5006A58EE0847019C8B8CFE9A63BE7E7AB8024414EBFB8EFA2352D4B170A"}},
        {137,
         {"E5BD56F01A4A873D0C812FBFCA2D46B0D09EE4FEF0E2D5CDAF989C3E2B01673C",
          "3BA069AAEBDF511FA3EE49A6121ABD81B1A3A62E9CD22F72EAE861E5141172EB"
          "291200E0761E0EA3C36054C61B6634186C3338A6CA1A399DDA569040672F642D",
          "ACDEB9C4DB2FC5B1313101F0A22B8CE781EAC7D177415BD247E77114BEB25BA6"}},
        {4096,
         {"28C74F56D2C959955F64EC0E740BE7D08A023A0ABF032C257E8EF7586A6BB775",
          "B4A9BD790A80DBE776D27EB912976EF4723A2F7D58058CF57DCDBBC591C39FC9"
          "A02A54689C53DCA0F9106CB76DA15127738531B5FE5D5EF8F8482AD49EC4AA87",
          "4BE05B2B2E84D6FF5923ACED8629049590E7F2EF1A7235CD113BBAB88745F8FB"}},
        {1048576 + 7,
         {"4CD918305A069A9C99CCCB55B5FFD3B109AD8208CFF796969AD11AFBD33F6038",
          "E96082FCB3EDCA56179D91C57A677F736173F40FC5732CF84FFE7630589CF30D"
          "A2E78B247453F7A6FBAC1E57023D13636B5991B8E764D244E63BB7DEF6FB74D9",
          "89BC714780DF3F1038D8F6B1110C3615F7C79717447815554335D85BB7E2A265"}},
    };
    const Bytes data = generated_bytes(1048576 + 7);
    auto kernels = sha_kernels();
    for (const auto& row : rows)
        check_every_kernel_and_feeding(kernels, data.data(), row.size, row.digests,
                                       std::to_string(row.size) + " generated bytes");
}

// Two messages hashed together give each its own digest, whether the
// bytes fed before them filled whole blocks or not, on either kernel; a
// table of leads and lengths, the second message a few bytes longer.
TEST(DigestKernelsSha2Sha3, TwoSha256AtOnceEqualEachAlone) {
    std::mt19937 rng(77);
    for (bool hardware : {false, true})
        for (std::size_t lead : {0u, 64u, 3u})
            for (std::size_t n : {0u, 63u, 64u, 1000u, 70000u}) {
                const Bytes a = random_bytes(lead + n, rng);
                const Bytes b = random_bytes(lead + n + 5, rng);
                Sha256 alone_a(hardware), alone_b(hardware), two_a(hardware), two_b(hardware);
                alone_a.update(a.data(), a.size());
                alone_b.update(b.data(), b.size());
                two_a.update(a.data(), lead);
                two_b.update(b.data(), lead);
                Sha256::update_two(two_a, a.data() + lead, two_b, b.data() + lead, n);
                two_b.update(b.data() + lead + n, 5);
                EXPECT_EQ(hex(two_a.finish()), hex(alone_a.finish()))
                    << hardware << " " << lead << " " << n;
                EXPECT_EQ(hex(two_b.finish()), hex(alone_b.finish()))
                    << hardware << " " << lead << " " << n;
            }
}

// A message fed after reset() gives the digest of that message alone,
// however much was fed before and wherever in a block that ended.
TEST(DigestKernelsSha2Sha3, ResetDropsWhatWasFed) {
    const ShaDigests abc = {"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
                            "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
                            "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F",
                            "3A985DA74FE225B2045C172D6BD390BD855F086E3E9D525B46BFE24511431532"};
    const Bytes junk = generated_bytes(300);
    for (std::size_t junk_size : {1u, 64u, 135u, 136u, 200u, 300u}) {
        for (bool hardware : {false, true}) {
            Sha256 sha256(hardware);
            sha256.update(junk.data(), junk_size);
            sha256.reset();
            sha256.update("abc", 3);
            EXPECT_EQ(hex(sha256.finish()), abc.sha256)
                << "junk " << junk_size << (sha256.uses_hardware() ? " hardware" : " portable");
        }
        Sha512 sha512;
        sha512.update(junk.data(), junk_size);
        sha512.reset();
        sha512.update("abc", 3);
        EXPECT_EQ(hex(sha512.finish()), abc.sha512) << "junk " << junk_size;
        Sha3_256 sha3;
        sha3.update(junk.data(), junk_size);
        sha3.reset();
        sha3.update("abc", 3);
        EXPECT_EQ(hex(sha3.finish()), abc.sha3_256) << "junk " << junk_size;
    }
}

// The lengths where XXH3 changes its route (0, 1-3, 4-8, 9-16, 17-128,
// 129-240, longer, and the stripe and block edges of the long route), fed
// whole and in uneven pieces through every path the processor has; one
// object for all, as the engine keeps one.
TEST(DigestKernelsXxh3, XxhsumDigestsWholeAndInPieces) {
    const struct {
        std::size_t size;
        const char* digest;
    } rows[] = {
        {0, "99AA06D3014798D86001C324468D497F"},
        {1, "BEFF62BE44BC9BE4429E81BC6744101C"},
        {3, "9DCE807F4A9AAA5632DBB5C7774CC94F"},
        {4, "9772187E76395EA05DEF542B8E8255BB"},
        {8, "29A3277F85F28675DA3CA77F4508DA63"},
        {9, "57FC1CEF528BD18785E53A642B77FFAB"},
        {16, "F8AE1A6F144FB00B4C6929DC65A535A0"},
        {17, "0AD716E7CFED9DC843287186CDFEC85D"},
        {128, "2B83749A25627C556772960C7E09E15B"},
        {129, "D2C5FDF14399D768D15020C0444D308F"},
        {240, "B2C3C2AA029B2279E16F608E11E76335"},
        {241, "E75E577A31D24834D6AFAC6F8FA85B01"},
        {1024, "1AC8856C8B289D9ABB9F0C3761CDFD54"},
        {1048576 + 7, "9CBA09135E34BB6CE8EC277C6BC6F1A4"},
    };
    const Bytes data = generated_bytes(1048576 + 7);
    for (const auto path : {Xxh3_128::Path::plain, Xxh3_128::Path::avx2}) {
        if (!Xxh3_128::available(path)) continue;
        Xxh3_128 digest(path);
        for (const auto& row : rows)
            for (const Pieces& pieces : feedings)
                EXPECT_EQ(digest_fed(digest, data.data(), row.size, pieces), row.digest)
                    << row.size << " generated bytes, pieces " << pieces_text(pieces)
                    << (path == Xxh3_128::Path::avx2 ? ", AVX2" : ", plain");
    }
}

// ---- BLAKE3 ------------------------------------------------------------------------

namespace {

std::vector<Blake3::Path> blake3_paths() {
    std::vector<Blake3::Path> paths;
    const Blake3::Path all[] = {Blake3::Path::portable, Blake3::Path::sse41, Blake3::Path::avx2,
                                Blake3::Path::avx512};
    for (Blake3::Path path : all)
        if (Blake3::available(path)) paths.push_back(path);
    if (paths.size() < std::size(all))
        std::cout << "BLAKE3: " << paths.size() << " of " << std::size(all)
                  << " paths on this processor\n";
    return paths;
}

// A message fed in pieces cut at random points, up to a few chunks long.
std::string blake3_fed_at_random(Blake3& digest, const std::uint8_t* p, std::size_t n,
                                 std::mt19937& rng) {
    for (std::size_t pos = 0; pos < n;) {
        const std::size_t piece = std::min<std::size_t>(rng() % 5000, n - pos);
        digest.update(p + pos, piece);
        pos += piece;
    }
    return hex(digest.finish());
}

}  // namespace

// b3sum's digests of the test-vector input (byte i is i mod 251) at the
// lengths where the tree changes shape: block and chunk edges, one to
// several chunks, sixteen chunks (one AVX-512 batch) and one over, a lone
// chunk after whole subtrees. Every path the
// processor has, forced, fed whole and in pieces that put every block and
// chunk edge inside a piece or on its end; one object per path for all,
// as the engine keeps one.
TEST(DigestKernelsBlake3, B3sumDigestsOnEveryPathWholeAndInPieces) {
    const struct {
        std::size_t size;
        const char* digest;
    } rows[] = {
        {0, "AF1349B9F5F9A1A6A0404DEA36DCC9499BCB25C9ADC112B7CC9A93CAE41F3262"},
        {1, "2D3ADEDFF11B61F14C886E35AFA036736DCD87A74D27B5C1510225D0F592E213"},
        {63, "E9BC37A594DAAD83BE9470DF7F7B3798297C3D834CE80BA85D6E207627B7DB7B"},
        {64, "4EED7141EA4A5CD4B788606BD23F46E212AF9CACEBACDC7D1F4C6DC7F2511B98"},
        {65, "DE1E5FA0BE70DF6D2BE8FFFD0E99CEAA8EB6E8C93A63F2D8D1C30ECB6B263DEE"},
        {1023, "10108970EEDA3EB932BAAC1428C7A2163B0E924C9A9E25B35BBA72B28F70BD11"},
        {1024, "42214739F095A406F3FC83DEB889744AC00DF831C10DAA55189B5D121C855AF7"},
        {1025, "D00278AE47EB27B34FAECF67B4FE263F82D5412916C1FFD97C8CB7FB814B8444"},
        {2048, "E776B6028C7CD22A4D0BA182A8BF62205D2EF576467E838ED6F2529B85FBA24A"},
        {2049, "5F4D72F40D7A5F82B15CA2B2E44B1DE3C2EF86C426C95C1AF0B6879522563030"},
        {3072, "B98CB0FF3623BE03326B373DE6B9095218513E64F1EE2EDD2525C7AD1E5CFFD2"},
        {3073, "7124B49501012F81CC7F11CA069EC9226CECB8A2C850CFE644E327D22D3E1CD3"},
        {4096, "015094013F57A5277B59D8475C0501042C0B642E531B0A1C8F58D2163229E969"},
        {4097, "9B4052B38F1C5FC8B1F9FF7AC7B27CD242487B3D890D15C96A1C25B8AA0FB995"},
        {5120, "9CADC15FED8B5D854562B26A9536D9707CADEDA9B143978F319AB34230535833"},
        {6144, "3E2E5B74E048F3ADD6D21FAAB3F83AA44D3B2278AFB83B80B3C35164EBECA205"},
        {7168, "61DA957EC2499A95D6B8023E2B0E604EC7F6B50E80A9678B89D2628E99ADA77A"},
        {8192, "AAE792484C8EFE4F19E2CA7D371D8C467FFB10748D8A5A1AE579948F718A2A63"},
        {8193, "BAB6C09CB8CE8CF459261398D2E7AEF35700BF488116CEB94A36D0F5F1B7BC3B"},
        {16384, "F875D6646DE28985646F34EE13BE9A576FD515F76B5B0A26BB324735041DDDE4"},
        {16385, "1DABE216BE2578830263B049DE1639F39F05A4DA616B9B78C7A5E4E41662FD1F"},
        {17408, "993924FF3DCBD868BE9CF3FED98D4538FE579FFCCF390A5AA1DDBA0F6A20BFED"},
        {31744, "62B6960E1A44BCC1EB1A611A8D6235B6B4B78F32E7ABC4FB4C6CDCCE94895C47"},
        {32768 + 1025, "DFA406473E24F8DE7598B47D2B1A600C3FEB7AD6111B5454CF5F49CC08BDA053"},
        {102400, "BC3E3D41A1146B069ABFFAD3C0D44860CF664390AFCE4D9661F7902E7943E085"},
        {1048576 + 7, "89541F1047F7A56806FE16EFDA4C2CDC45F141C838E413019F0124189FA55232"},
    };
    Bytes data(1048576 + 7);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    const Pieces pieces_list[] = {{}, {1}, {63}, {64}, {65}, {1000}, {1024}, {4096, 1, 1023}};
    std::mt19937 rng(251);
    for (Blake3::Path path : blake3_paths()) {
        Blake3 digest(path);
        ASSERT_EQ(digest.path(), path);
        for (const auto& row : rows) {
            const std::string label =
                std::to_string(row.size) + " bytes, path " + std::to_string(static_cast<int>(path));
            for (const Pieces& pieces : pieces_list)
                EXPECT_EQ(digest_fed(digest, data.data(), row.size, pieces), row.digest)
                    << label << ", pieces " << pieces_text(pieces);
            EXPECT_EQ(blake3_fed_at_random(digest, data.data(), row.size, rng), row.digest)
                << label << ", random pieces";
        }
    }
}

TEST(DigestKernelsBlake3, PublishedValuesAndReset) {
    const Bytes junk = generated_bytes(5000);
    for (Blake3::Path path : blake3_paths()) {
        Blake3 digest(path);
        EXPECT_EQ(hex(digest.finish()),
                  "AF1349B9F5F9A1A6A0404DEA36DCC9499BCB25C9ADC112B7CC9A93CAE41F3262");
        // Whatever was fed before reset(), wherever it stopped, is dropped.
        for (std::size_t junk_size : {1u, 1024u, 2049u, 5000u}) {
            digest.update(junk.data(), junk_size);
            digest.reset();
            digest.update("abc", 3);
            EXPECT_EQ(hex(digest.finish()),
                      "6437B3AC38465133FFB63B75273A8DB548C558465D79DB03FD359C6CD5BD9D85")
                << "junk " << junk_size;
        }
    }
}

namespace {

// Shares the parts with a thread of its own, each side taking the next
// part, as the digest engine's helper does.
class ThreadSplitter : public Blake3Splitter {
public:
    void share(void (*job)(void*, std::size_t), void* argument, std::size_t count) override {
        std::atomic<std::size_t> next{0};
        const auto take = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < count;) job(argument, i);
        };
        std::thread other(take);
        take();
        other.join();
        ++splits;
    }
    int splits = 0;
};

// Records the bytes each part readies.
class RecordingSplitter final : public ThreadSplitter {
public:
    struct Range {
        const std::uint8_t* data;
        std::size_t size;
        bool operator<(const Range& other) const { return data < other.data; }
    };
    void before_part(const void* data, std::size_t size) override {
        const std::lock_guard lock(mutex);
        ranges.push_back({static_cast<const std::uint8_t*>(data), size});
    }
    std::mutex mutex;
    std::vector<Range> ranges;
};

}  // namespace

// A large subtree hashed in two halves on two threads is the same tree:
// the same digits, on every path, whatever the pieces.
TEST(DigestKernelsBlake3, HalvesOnTwoThreadsGiveTheSameDigests) {
    const struct {
        std::size_t size;
        const char* digest;
    } rows[] = {
        {102400, "BC3E3D41A1146B069ABFFAD3C0D44860CF664390AFCE4D9661F7902E7943E085"},
        {1048576 + 7, "89541F1047F7A56806FE16EFDA4C2CDC45F141C838E413019F0124189FA55232"},
    };
    Bytes data(1048576 + 7);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    const Pieces pieces_list[] = {{}, {65536}, {262144}, {1000}};
    for (Blake3::Path path : blake3_paths()) {
        ThreadSplitter splitter;
        Blake3 digest(path);
        digest.set_splitter(&splitter);
        for (const auto& row : rows)
            for (const Pieces& pieces : pieces_list)
                EXPECT_EQ(digest_fed(digest, data.data(), row.size, pieces), row.digest)
                    << row.size << " bytes, path " << static_cast<int>(path) << ", pieces "
                    << pieces_text(pieces);
        EXPECT_GT(splitter.splits, 0);
    }
}

// Each part is readied once: the ranges follow each other without
// overlapping and cover every byte hashed in parts.
TEST(DigestKernelsBlake3, EveryPartIsReadiedOnce) {
    const struct {
        std::size_t size;
        std::size_t largest_chunks;
        std::size_t in_parts;  // bytes hashed in parts
        std::size_t parts;
    } rows[] = {
        {1048576 + 7, 256, 1048576, 8},
        {1048576 + 7, 1024, 1048576, 2},
        {1048576, 1024, 1048576, 4},  // two subtrees: the first may not be the root
        {102400, 256, 65536, 2},
        // Parts of 1 MiB or more: the last one of a subtree in quarters.
        {8 * 1048576 + 7, 8192, 8 * 1048576, 3 + 4},
        {8 * 1048576, 8192, 8 * 1048576, 2 * (1 + 4)},  // two 4 MiB subtrees in halves
    };
    Bytes data(8 * 1048576 + 7);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.size << " bytes, subtrees of up to "
                                        << row.largest_chunks << " chunks");
        RecordingSplitter splitter;
        Blake3 split(Blake3::fastest());
        split.set_splitter(&splitter, row.largest_chunks);
        Blake3 plain(Blake3::fastest());
        split.update(data.data(), row.size);
        plain.update(data.data(), row.size);
        EXPECT_EQ(hex(split.finish()), hex(plain.finish()));
        std::sort(splitter.ranges.begin(), splitter.ranges.end());
        EXPECT_EQ(splitter.ranges.size(), row.parts);
        std::size_t covered = 0;
        const std::uint8_t* next = data.data();
        for (const auto& range : splitter.ranges) {
            EXPECT_EQ(range.data, next) << "part at " << range.data - data.data();
            next = range.data + range.size;
            covered += range.size;
        }
        EXPECT_EQ(covered, row.in_parts);
    }
}
