// Reading known-digest sets: the checksum tools' lines (tagged too),
// hashdeep's CSV, bare digests, and the lines that are not digests of the set's kind.
#include "content/hash_set.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

const std::string md5_a = "0cc175b9c0f1b6a831c399e269772661";  // of "a"
const std::string sha1_a = "86f7e437faa5a7fce15d1ddcb9eaeaea377667b8";
const std::string sha256_a = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
const std::string xxh3_a = "a96faf705af16834e6c632b61e964e1f";  // xxhsum -H2 of "a"
// b3sum of "a"
const std::string blake3_a = "17762fddd969a453925d65717ac3eea21320b66b54342fde15128d6caf21215f";
const std::string sha256_b = "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaeed59c009";

TEST(HashSetText, FormatsKindsAndBadLines) {
    const struct {
        const char* what;
        std::string text;
        std::optional<DigestId> kind;
        std::vector<std::string> known;  // digests that must be found
        std::size_t digests, bad, first_bad;
    } cases[] = {
        {"md5sum", md5_a + "  a\n" + md5_a + "  copy of a\n", DigestId::md5, {md5_a}, 2, 0, 0},
        {"sha1sum binary mode, CRLF", sha1_a + " *a\r\n", DigestId::sha1, {sha1_a}, 1, 0, 0},
        {"sha256sum with an escaped name",
         "\\" + sha256_a + "  new\\nline\n",
         DigestId::sha256,
         {sha256_a},
         1,
         0,
         0},
        {"bare digests, upper case, no last newline",
         "\n" + sha256_b + "\n" +
             std::string("CA978112CA1BBDCAFAC231B39A23DC4DA786EFF8147C4E72B9807785AFEE48BB"),
         DigestId::sha256,
         {sha256_a, sha256_b},
         2,
         0,
         0},
        {"hashdeep CSV takes its SHA-256 column",
         "%%%% HASHDEEP-1.0\n%%%% size,md5,sha256,filename\n## Invoked from: /x\n## $ hashdeep\n"
         "##\n1," +
             md5_a + "," + sha256_a + ",/x/a\n1," + md5_a + "," + sha256_b + ",/x/b,c\n",
         DigestId::sha256,
         {sha256_a, sha256_b},
         2,
         0,
         0},
        {"lines of another kind or no digest",
         sha256_a + "  a\n" + md5_a + "  a\nhello\n" + sha256_a.substr(1) + "x  a\n",
         DigestId::sha256,
         {sha256_a},
         1,
         3,
         2},
        {"a digest glued to text is none", sha256_a + "xyz\n", std::nullopt, {}, 0, 1, 1},
        // XXH3-128 has MD5's length: only the tag tells it, and the two never mix.
        {"xxhsum -H2 --tag, then a bare line",
         "XXH128 (a) = " + xxh3_a + "\n" + md5_a + "  a\n",
         DigestId::xxh3,
         {xxh3_a},
         1,
         1,
         2},
        {"md5sum, then an XXH128 tag",
         md5_a + "  a\nXXH128 (a) = " + xxh3_a + "\n",
         DigestId::md5,
         {md5_a},
         1,
         1,
         2},
        // BLAKE3 has SHA-256's length: a set of it is tagged, and the two never mix.
        {"BLAKE3 tags, then a bare line",
         "BLAKE3 (a) = " + blake3_a + "\n" + sha256_a + "  a\n",
         DigestId::blake3,
         {blake3_a},
         1,
         1,
         2},
        {"sha256sum, then a BLAKE3 tag",
         sha256_a + "  a\nBLAKE3 (a) = " + blake3_a + "\n",
         DigestId::sha256,
         {sha256_a},
         1,
         1,
         2},
        {"md5sum --tag with an escaped name",
         "\\MD5 (new\\nline) = " + md5_a + "\n",
         DigestId::md5,
         {md5_a},
         1,
         0,
         0},
        {"a tag over another digest's digits",
         "XXH128 (a) = " + sha1_a + "\n",
         std::nullopt,
         {},
         0,
         1,
         1},
        {"a UTF-8 byte-order mark before the first digest",
         "\xEF\xBB\xBF" + md5_a + "  a\n",
         DigestId::md5,
         {md5_a},
         1,
         0,
         0},
    };
    for (const auto& c : cases) {
        KnownDigests set;
        const HashSetLoad load = read_hash_set_text(c.text, set);
        set.seal();
        EXPECT_EQ(set.kind(), c.kind) << c.what;
        EXPECT_EQ(load.digests, c.digests) << c.what;
        EXPECT_EQ(load.bad_lines, c.bad) << c.what;
        EXPECT_EQ(load.first_bad_line, c.first_bad) << c.what;
        for (const std::string& d : c.known) EXPECT_TRUE(set.contains_hex(d)) << c.what << d;
        EXPECT_FALSE(set.contains_hex(std::string(c.known.empty() ? 64 : c.known[0].size(), '0')))
            << c.what;
    }
}

TEST(HashSetFile, AnUnreadableSetEndsWithThree) {
    MemoryPlatform mp;
    const RunResult r = run_in_memory(mp, {u"C:\\", u"--HASHSET=C:\\missing.txt"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.out.find("Cannot find/open"), std::string::npos) << r.out;
}

// A set with no digest would call every file unknown: the run ends with 3
// and says why.
TEST(HashSetFile, ASetWithNoDigestEndsWithThree) {
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"", "it is empty"},
        {"\r\n  \n\n", "it is empty"},
        {"\xEF\xBB\xBF", "it is empty"},
        {std::string("\xFF\xFE"
                     "0\0c\0c\0\n\0",
                     10),
         "it is UTF-16 text; save it as UTF-8"},
        {std::string("\xFE\xFF\0"
                     "0\0c",
                     6),
         "it is UTF-16 text; save it as UTF-8"},
        {"%%%% HASHDEEP-1.0\n%%%% size,md5,filename\n## comment\n",
         "no line is an MD5, SHA-1, SHA-256 or SHA-512 digest"},
        {"garbage\n\x89PNG\r\n", "no line is an MD5, SHA-1, SHA-256 or SHA-512 digest"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\set.txt", c.text);
        const RunResult r = run_in_memory(mp, {u"C:\\", u"--HASHSET=C:\\set.txt"});
        EXPECT_EQ(r.code, 3) << c.reason;
        EXPECT_NE(
            r.err.find(std::string("\nHash set C:\\set.txt holds no digests: ") + c.reason + "\n"),
            std::string::npos)
            << r.err;
    }
}

}  // namespace
