// The digest registry: which digest an option, an INI key or a known set's
// length names, and the rows' agreement with the record's widths.
#include "core/digest_registry.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

using namespace filarix;

TEST(DigestRegistry, LongOptionsNameTheirDigests) {
    struct Case {
        std::u16string_view text;
        std::optional<DigestId> want;
    };
    const Case cases[] = {
        {u"SHA", DigestId::sha1},
        {u"SHA1", DigestId::sha1},
        {u"SHA256", DigestId::sha256},
        {u"SHA2", DigestId::sha256},
        {u"SHA512", DigestId::sha512},
        {u"SHA3", DigestId::sha3},
        {u"MD5", DigestId::md5},
        {u"HASH", DigestId::md5},
        {u"CRC32", DigestId::crc},
        {u"XXH3", DigestId::xxh3},
        {u"BLAKE3", DigestId::blake3},
        // The short words stand only alone.
        {u"SHAX", std::nullopt},
        {u"SHA1X", std::nullopt},
        {u"MD5X", std::nullopt},
        {u"HASHX", std::nullopt},
        {u"SH", std::nullopt},
        {u"XXH3128", std::nullopt},
        {u"XXH", std::nullopt},
        {u"BLAKE", std::nullopt},
        {u"BLAKE3X", std::nullopt},
    };
    for (const Case& c : cases) {
        const DigestRow* row = digest_of_long_option(c.text);
        EXPECT_EQ(row ? std::optional(row->id) : std::nullopt, c.want)
            << std::string(c.text.begin(), c.text.end());
    }
}

TEST(DigestRegistry, AnIniKeyIsTheLongestOptionItBeginsWith) {
    EXPECT_EQ(digest_of_ini_line("SHA=ON")->id, DigestId::sha1);
    EXPECT_EQ(digest_of_ini_line("SHA256=ON")->id, DigestId::sha256);
    EXPECT_EQ(digest_of_ini_line("SHA3")->id, DigestId::sha3);
    EXPECT_EQ(digest_of_ini_line("SHA512")->id, DigestId::sha512);
    EXPECT_EQ(digest_of_ini_line("CRC=OFF")->id, DigestId::crc);
    EXPECT_EQ(digest_of_ini_line("XXH3=ON")->id, DigestId::xxh3);
    EXPECT_EQ(digest_of_ini_line("BLAKE3=ON")->id, DigestId::blake3);
    EXPECT_EQ(digest_of_ini_line("WIDTH=9"), nullptr);
}

TEST(DigestRegistry, KnownSetsTellTheirDigestByLength) {
    // XXH3-128 has MD5's length: bare digits of that length are MD5's, and
    // only a tagged checksum line names XXH3-128.
    EXPECT_EQ(known_digest_of_hex_length(32), DigestId::md5);
    EXPECT_EQ(digest_of_sum_tag("XXH128")->id, DigestId::xxh3);
    EXPECT_EQ(known_digest_of_hex_length(40), DigestId::sha1);
    // SHA3-256 and BLAKE3 have SHA-256's length; a set of that length is
    // SHA-256, and a BLAKE3 set names its digest by the tag.
    EXPECT_EQ(digest_of_sum_tag("BLAKE3")->id, DigestId::blake3);
    EXPECT_EQ(known_digest_of_hex_length(64), DigestId::sha256);
    EXPECT_EQ(known_digest_of_hex_length(128), DigestId::sha512);
    EXPECT_EQ(known_digest_of_hex_length(8), std::nullopt);
    EXPECT_EQ(known_digest_of_hex_length(56), std::nullopt);
}

TEST(DigestRegistry, SettingsShowTheirDigestsInColumnOrder) {
    RunSettings s;
    EXPECT_TRUE(shown_digests(s).empty());
    s.digests.add(DigestId::sha3);
    s.digests.add(DigestId::md5);
    EXPECT_EQ(shown_digests(s), (DigestSet{DigestId::md5, DigestId::sha3}));
    for (const DigestRow& row : digest_rows) {
        EXPECT_EQ(&digest_row(row.id), &row);
        // A failure keeps the record's width.
        EXPECT_EQ(row.failure_text.size(), 2 * row.bytes) << row.name;
    }
}
