// Which facts of an entry differ from its earlier row: digests of unequal
// strength, sizes, times written at other precisions and offsets.
#include "catalogue/change_class.hpp"

#include <gtest/gtest.h>

using namespace filarix;

namespace {

EarlierEntry row(std::optional<std::int64_t> size, std::string md5, std::string sha256,
                 std::string modified, std::string attributes = "A.....",
                 std::string owner = "root") {
    EarlierEntry e;
    e.kind = "file";
    e.path = "/d/a";
    e.size = size;
    e.digests[digest_index(DigestId::md5)] = std::move(md5);
    e.digests[digest_index(DigestId::sha256)] = std::move(sha256);
    e.modified = std::move(modified);
    e.attributes = std::move(attributes);
    e.owner = std::move(owner);
    return e;
}

const std::string m1(32, '1'), m2(32, '2'), s1(64, 'A'), s2(64, 'B');
const std::string t0 = "2026-01-02T03:04:05.123+00:00";

// A row with its full-precision times and identity.
EarlierEntry precise(std::string modified, std::optional<std::int64_t> modified_ns,
                     std::int64_t change_time_ns = 1, std::uint64_t inode = 7,
                     std::uint64_t links = 1) {
    EarlierEntry e = row(5, m1, "", std::move(modified));
    e.modified_ns = modified_ns;
    e.change_time_ns = change_time_ns;
    e.device = 2049;
    e.inode = inode;
    e.links = links;
    return e;
}

TEST(ChangeClass, TheFactsThatDiffer) {
    struct Case {
        const char* what;
        EarlierEntry before;
        EarlierEntry now;
        std::string facts;
    };
    const Case cases[] = {
        {"all equal", row(5, m1, s1, t0), row(5, m1, s1, t0), ""},
        {"the strongest shared digest decides", row(5, m1, s1, t0), row(5, m2, s1, t0), ""},
        {"a digest only one side has proves nothing", row(5, m1, "", t0), row(5, "", s2, t0), ""},
        {"same size, other content", row(5, m1, s1, t0), row(5, m1, s2, t0), "content"},
        {"other size, no digest", row(5, "", "", t0), row(6, "", "", t0), "content"},
        {"a checksum list has no size", row(std::nullopt, m1, "", ""), row(9, m1, "", t0), ""},
        {"content and time", row(5, m1, "", t0), row(5, m2, "", "2026-01-02T03:04:06.123+00:00"),
         "content,modified"},
        {"attributes and owner", row(5, m1, "", t0, "A.....", "root"),
         row(5, m1, "", t0, "AR....", "nobody"), "attributes,owner"},
        {"a time at more precision compares at the shared one", row(5, m1, "", t0),
         row(5, m1, "", "2026-01-02T03:04:05.123456789+00:00"), ""},
        {"and differs within it", row(5, m1, "", t0),
         row(5, m1, "", "2026-01-02T03:04:05.124456789+00:00"), "modified"},
        {"another offset, the same instant", row(5, m1, "", t0),
         row(5, m1, "", "2026-01-02T04:04:05.123+01:00"), ""},
        {"whole seconds against milliseconds", row(5, m1, "", "2026-01-02T03:04:05+00:00"),
         row(5, m1, "", t0), ""},
        {"an unreadable time is not compared", row(5, m1, "", "garbage"), row(5, m1, "", t0), ""},
        {"a day apart across a month end", row(5, m1, "", "2026-01-31T23:00:00Z"),
         row(5, m1, "", "2026-02-01T00:00:00+01:00"), ""},
        {"nanoseconds where both hold them: the same millisecond, another write",
         precise(t0, 1767323045123000100), precise(t0, 1767323045123000200), "modified"},
        {"and they rule over the text", precise(t0, 5), precise("2026-01-02T03:04:06Z", 5), ""},
        {"one side without them: the text at the shared precision", precise(t0, std::nullopt),
         precise(t0, 1767323045123999999), ""},
        {"the change time, the inode and the links are no facts of their own",
         precise(t0, 5, 1, 7, 1), precise(t0, 5, 2, 8, 3), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(changed_facts_text(changed_facts(c.before, c.now)), c.facts);
    }
}

TEST(ChangeClass, NamesLettersAndTheStrongestDigest) {
    const std::pair<ChangeClass, std::string> names[] = {
        {ChangeClass::unchanged, "unchanged ."}, {ChangeClass::added, "added A"},
        {ChangeClass::removed, "removed R"},     {ChangeClass::moved, "moved M"},
        {ChangeClass::changed, "changed C"},
    };
    for (const auto& [c, text] : names)
        EXPECT_EQ(std::string(change_name(c)) + " " + change_letter(c), text);
    EXPECT_EQ(changed_facts_text(fact_streams | fact_content | fact_owner),
              "content,owner,streams");

    EarlierEntry a = row(1, m1, s1, t0), b = row(1, m1, s1, t0);
    EXPECT_EQ(strongest_shared_digest(a, b), DigestId::sha256);
    b.digests[digest_index(DigestId::sha256)].clear();
    EXPECT_EQ(strongest_shared_digest(a, b), DigestId::md5);
    b.digests[digest_index(DigestId::md5)].clear();
    EXPECT_EQ(strongest_shared_digest(a, b), std::nullopt);
}

}  // namespace
