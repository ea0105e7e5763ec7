// The compare's index of earlier rows, on the in-memory platform with
// Windows paths: classes, checksum paths relative to the start path,
// repeated paths, moves only from paths now gone, and which unmet rows
// count as removed.
#include "catalogue/catalogue_compare.hpp"

#include <gtest/gtest.h>

#include "memory_platform.hpp"

using namespace filarix;

namespace {

const std::string d1(64, 'A'), d2(64, 'B'), d3(64, 'C');

EarlierEntry row(std::string path, std::int64_t size, const std::string& sha256,
                 std::string kind = "file") {
    EarlierEntry e;
    e.kind = std::move(kind);
    e.path = std::move(path);
    e.size = size;
    e.digests[digest_index(DigestId::sha256)] = sha256;
    return e;
}

struct Fixture {
    testing_support::MemoryPlatform sys;
    CatalogueComparison compare{sys, {"C:\\work\\"}, '\\', false};
};

TEST(CatalogueCompare, ClassesByPath) {
    Fixture f;
    EXPECT_TRUE(f.compare.add(row("C:\\work\\same", 1, d1)));
    EXPECT_TRUE(f.compare.add(row("C:\\work\\edited", 1, d1)));
    // The first row of a path is the one compared.
    EXPECT_FALSE(f.compare.add(row("C:\\work\\same", 9, d3)));
    struct Case {
        EarlierEntry now;
        const char* name;
        char letter;
        std::string facts;
    };
    const Case cases[] = {
        {row("C:\\work\\same", 1, d1), "unchanged", '.', ""},
        {row("C:\\work\\edited", 1, d2), "changed", 'C', "content"},
        {row("C:\\work\\new", 1, d3), "added", 'A', ""},
    };
    for (const Case& c : cases) {
        const ChangeVerdict v = f.compare.classify(c.now);
        EXPECT_STREQ(v.name, c.name) << c.now.path;
        EXPECT_EQ(v.letter, c.letter) << c.now.path;
        EXPECT_EQ(v.facts, c.facts) << c.now.path;
        EXPECT_EQ(v.unchanged, c.letter == '.') << c.now.path;
    }
    EXPECT_EQ(f.compare.count(ChangeClass::unchanged), 1u);
    EXPECT_EQ(f.compare.count(ChangeClass::changed), 1u);
    EXPECT_EQ(f.compare.count(ChangeClass::added), 1u);
}

TEST(CatalogueCompare, ChecksumPathsAreTakenUnderTheStartPath) {
    Fixture f;
    EarlierEntry e = row("./sub/a.txt", 1, d1);
    e.relative_path = true;
    e.size.reset();
    f.compare.add(e);
    EXPECT_STREQ(f.compare.classify(row("C:\\work\\sub\\a.txt", 1, d1)).name, "unchanged");
}

TEST(CatalogueCompare, MovedOnlyFromAPathThatIsGone) {
    Fixture f;
    f.sys.add_file(u"C:\\work\\still\\here", "x");
    f.compare.add(row("C:\\work\\old\\gone", 5, d1));
    f.compare.add(row("C:\\work\\still\\here", 5, d2));
    f.compare.add(row("C:\\work\\other size", 6, d3));
    const ChangeVerdict moved = f.compare.classify(row("C:\\work\\new\\gone", 5, d1));
    EXPECT_STREQ(moved.name, "moved");
    EXPECT_EQ(moved.moved_from, "C:\\work\\old\\gone");
    // A copy of a file that is still there is a new file.
    EXPECT_STREQ(f.compare.classify(row("C:\\work\\copy", 5, d2)).name, "added");
    EXPECT_STREQ(f.compare.classify(row("C:\\work\\same digest", 5, d3)).name, "added");
    // Each earlier row moves once.
    EXPECT_STREQ(f.compare.classify(row("C:\\work\\twice", 5, d1)).name, "added");
    // Neither the moved row nor the one still there is removed.
    const auto removed = f.compare.take_removed();
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0]->path, "C:\\work\\other size");
}

// Without digests a file is found moved by its device and inode; a new
// file that got a deleted one's inode has another size or write time.
TEST(CatalogueCompare, MovedByIdentity) {
    const auto at = [](std::string path, std::optional<std::uint64_t> inode, std::int64_t size = 5,
                       std::int64_t modified_ns = 100) {
        EarlierEntry e = row(std::move(path), size, "");
        e.modified_ns = modified_ns;
        e.device = inode ? std::optional<std::uint64_t>(2049) : std::nullopt;
        e.inode = inode;
        return e;
    };
    struct Case {
        const char* what;
        EarlierEntry before;
        EarlierEntry now;
        const char* name;
    };
    const Case cases[] = {
        {"the same device and inode", at("C:\\work\\a\\f", 7), at("C:\\work\\b\\f", 7), "moved"},
        {"another inode", at("C:\\work\\a\\f", 7), at("C:\\work\\b\\f", 8), "added"},
        {"no identity now", at("C:\\work\\a\\f", 7), at("C:\\work\\b\\f", std::nullopt), "added"},
        {"none earlier", at("C:\\work\\a\\f", std::nullopt), at("C:\\work\\b\\f", 7), "added"},
        {"an inode given again: other size", at("C:\\work\\a\\f", 7), at("C:\\work\\b\\f", 7, 6),
         "added"},
        {"an inode given again: other write time", at("C:\\work\\a\\f", 7),
         at("C:\\work\\b\\f", 7, 5, 101), "added"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.compare.add(c.before);
        const ChangeVerdict v = f.compare.classify(c.now);
        EXPECT_STREQ(v.name, c.name);
        EXPECT_EQ(v.moved_from, v.name == std::string("moved") ? c.before.path : "");
    }
    // The earlier path still there: a second name of the same file is new.
    Fixture f;
    f.sys.add_file(u"C:\\work\\a\\f", "x");
    f.compare.add(at("C:\\work\\a\\f", 7));
    EXPECT_STREQ(f.compare.classify(at("C:\\work\\b\\link", 7)).name, "added");
}

TEST(CatalogueCompare, RemovedRowsAreEntriesUnderTheStartPath) {
    Fixture f;
    f.compare.add(row("C:\\work\\gone", 1, d1));
    f.compare.add(row("C:\\elsewhere\\gone", 1, d1));
    f.compare.add(row("C:\\work\\gone:s:$DATA", 1, d1, "stream"));
    f.compare.add(row("C:\\work\\dir", 0, "", "directory"));
    f.compare.add(row("C:\\work\\met", 1, d1));
    f.compare.classify(row("C:\\work\\met", 1, d1));
    const auto removed = f.compare.take_removed();
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0]->path, "C:\\work\\gone");
    EXPECT_EQ(f.compare.count(ChangeClass::removed), 1u);
}

}  // namespace
