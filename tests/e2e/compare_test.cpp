// Comparing a tree with an earlier catalogue (--DIFF) through the binary:
// every class, the changed facts, --CHANGED and its status, a sha256sum
// file with a vanished path, and catalogues that are refused or damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.hpp"

namespace {

// path -> "change|changed_facts" of a CSV listing with --DIFF, whose first
// fields are kind, change, changed_facts, moved_from and path.
std::map<std::string, std::string> changes(const std::string& csv) {
    std::map<std::string, std::string> out;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // the header row
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> f;
        std::size_t start = 0;
        for (int i = 0; i < 5; ++i) {
            if (line[start] == '"') {
                const std::size_t end = line.find('"', start + 1);
                f.push_back(line.substr(start + 1, end - start - 1));
                start = end + 2;
            } else {
                const std::size_t end = line.find(',', start);
                f.push_back(line.substr(start, end - start));
                start = end + 1;
            }
        }
        out[f[4]] = f[1] + "|" + f[2];
    }
    return out;
}

struct Sample {
    e2e::TempTree tree;
    e2e::TempTree keep;  // the catalogues, outside the tree
    std::string catalogue = keep.path("old.csv");

    Sample() {
        tree.file("a/one.txt", "hello");
        tree.file("a/two.txt", "world");
        tree.file("b/keep.txt", "same");
        tree.file("b/gone.txt", "gone");
        tree.file("b/touched.txt", "when");
    }
    std::string p(const std::string& rel) const { return tree.path(rel); }
};

TEST(Compare, EveryClassWithItsFacts) {
    Sample s;
    ASSERT_EQ(e2e::run({s.tree.root(), "--CSV", "-5", "-o", s.catalogue}).status, 1);
    // Moved to another directory; the same size, other content, same time;
    // only the write time; gone; new.
    std::filesystem::create_directories(s.p("c/d"));
    std::filesystem::rename(s.p("a/one.txt"), s.p("c/d/one.txt"));
    s.tree.file("a/two.txt", "WORLD");
    s.tree.stamp("b/touched.txt", e2e::kStamp + 3600);
    std::filesystem::remove(s.p("b/gone.txt"));
    s.tree.file("a/new.txt", "new");

    const e2e::Result r =
        e2e::run({s.tree.root(), "--CSV", "-5", "--DIFF=" + s.catalogue, "-o", "stdout"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::map<std::string, std::string> expected{
        {s.p("a/new.txt"), "added|"},      {s.p("a/two.txt"), "changed|content"},
        {s.p("b/keep.txt"), "unchanged|"}, {s.p("b/touched.txt"), "changed|modified"},
        {s.p("c/d/one.txt"), "moved|"},    {s.p("b/gone.txt"), "removed|"},
    };
    EXPECT_EQ(changes(r.out), expected) << r.out;
    EXPECT_TRUE(r.out.starts_with("kind,change,changed_facts,moved_from,path,")) << r.out;
    EXPECT_NE(r.out.find("file,moved,," + s.p("a/one.txt") + "," + s.p("c/d/one.txt") + ","),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("Compared with " + s.catalogue +
                         ": 1 added, 1 removed, 1 moved, 2 changed, 1 unchanged"),
              std::string::npos)
        << r.err;

    // The text record leads with the change letter.
    const e2e::Result text = e2e::run({s.tree.root(), "-5", "--DIFF=" + s.catalogue});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("\nA " + s.p("a/new.txt")), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("\nM " + s.p("c/d/one.txt")), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("\nR " + s.p("b/gone.txt")), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("\n. " + s.p("b/keep.txt")), std::string::npos) << text.err;
}

// Without digests: a file renamed into another directory is the same file
// by its device and inode, and a write time moved by nanoseconds alone is
// a change, against a catalogue of either format. A text listing asks for
// neither, so it tells neither.
TEST(Compare, IdentityAndNanosecondsWithoutDigests) {
    Sample s;
    s.tree.stamp("b/touched.txt", e2e::kStamp, 100);
    const std::string jsonl = s.keep.path("old.jsonl");
    ASSERT_EQ(e2e::run({s.tree.root(), "--CSV", "-o", s.catalogue}).status, 1);
    ASSERT_EQ(e2e::run({s.tree.root(), "--JSONL", "-o", jsonl}).status, 1);
    std::filesystem::create_directories(s.p("c"));
    std::filesystem::rename(s.p("a/one.txt"), s.p("c/one.txt"));
    s.tree.stamp("b/touched.txt", e2e::kStamp, 200);
    const std::map<std::string, std::string> expected{{s.p("c/one.txt"), "moved|"},
                                                      {s.p("b/touched.txt"), "changed|modified"}};
    for (const std::string& catalogue : {s.catalogue, jsonl}) {
        SCOPED_TRACE(catalogue);
        const e2e::Result r =
            e2e::run({s.tree.root(), "--CSV", "--DIFF=" + catalogue, "--CHANGED", "-o", "stdout"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(changes(r.out), expected) << r.out;
        EXPECT_NE(r.out.find("file,moved,," + s.p("a/one.txt") + "," + s.p("c/one.txt") + ","),
                  std::string::npos)
            << r.out;
    }
    const e2e::Result text = e2e::run({s.tree.root(), "--DIFF=" + s.catalogue, "--CHANGED"});
    EXPECT_NE(text.err.find("\nA " + s.p("c/one.txt")), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("\nR " + s.p("a/one.txt")), std::string::npos) << text.err;
    EXPECT_EQ(text.err.find(s.p("b/touched.txt")), std::string::npos) << text.err;
}

TEST(Compare, ChangedListsOnlyDifferencesAndSetsTheStatus) {
    Sample s;
    ASSERT_EQ(e2e::run({s.tree.root(), "--JSONL", "-o", s.catalogue}).status, 1);
    const std::vector<std::string> args{s.tree.root(), "--CSV", "--DIFF=" + s.catalogue,
                                        "--CHANGED",   "-o",    "stdout"};
    const e2e::Result same = e2e::run(args);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(changes(same.out).size(), 0u) << same.out;
    EXPECT_NE(same.err.find(": 0 added, 0 removed, 0 moved, 0 changed, 5 unchanged"),
              std::string::npos)
        << same.err;

    // A removed row alone is a difference listed.
    std::filesystem::remove(s.p("b/gone.txt"));
    const e2e::Result gone = e2e::run(args);
    EXPECT_EQ(gone.status, 1) << gone.err;
    EXPECT_EQ(changes(gone.out),
              (std::map<std::string, std::string>{{s.p("b/gone.txt"), "removed|"}}));
}

TEST(Compare, Sha256sumFileWithAVanishedPath) {
    Sample s;
    const std::string sums = s.keep.path("sums.sha256");
    ASSERT_EQ(
        std::system(("cd '" + s.tree.root() + "' && sha256sum a/* b/* > '" + sums + "'").c_str()),
        0);
    std::filesystem::remove(s.p("b/keep.txt"));
    s.tree.file("a/two.txt", "WORLD");
    const e2e::Result r =
        e2e::run({s.tree.root(), "--CSV", "--SHA2", "--DIFF=" + sums, "-o", "stdout"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::map<std::string, std::string> expected{
        {s.p("a/one.txt"), "unchanged|"},  {s.p("a/two.txt"), "changed|content"},
        {s.p("b/gone.txt"), "unchanged|"}, {s.p("b/touched.txt"), "unchanged|"},
        {s.p("b/keep.txt"), "removed|"},
    };
    EXPECT_EQ(changes(r.out), expected) << r.out;
}

TEST(Compare, RefusedCataloguesEndWithTheInputFileStatus) {
    Sample s;
    const std::string listing = s.keep.path("old.txt");
    ASSERT_EQ(e2e::run({s.tree.root(), "-o", listing}).status, 1);
    const std::string garbage = s.keep.file("garbage.txt", "no\ncatalogue\nhere\n");
    struct Case {
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {listing, "Can't compare with " + listing + ": it is a fixed-width listing"},
        {garbage, "Can't compare with " + garbage + ": it is no CSV or JSON Lines listing"},
        {s.keep.path("missing.csv"), "Cannot find/open " + s.keep.path("missing.csv")},
    };
    for (const Case& c : cases) {
        const e2e::Result r = e2e::run({s.tree.root(), "--CSV", "--DIFF=" + c.file});
        EXPECT_EQ(r.status, 3) << c.file;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    }
}

TEST(Compare, CatalogueOfAnotherTreeIsNamed) {
    Sample s;
    e2e::TempTree other;
    other.file("x.txt", "x");
    ASSERT_EQ(e2e::run({other.root(), "--CSV", "-o", s.catalogue}).status, 1);
    const e2e::Result r = e2e::run({s.tree.root(), "--CSV", "--DIFF=" + s.catalogue});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Catalogue " + s.catalogue + " holds no path under the start path"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(": 5 added, 0 removed, 0 moved, 0 changed, 0 unchanged"),
              std::string::npos)
        << r.err;
}

TEST(Compare, DamagedCatalogueIsReadAndItsBadLinesCounted) {
    Sample s;
    const e2e::Result first = e2e::run({s.tree.root(), "--CSV", "-o", "stdout"});
    ASSERT_EQ(first.status, 1);
    // A byte-order mark, CR LF throughout (the rows have it), two lines of
    // garbage, and the last row cut short in its middle.
    std::string text = "\xEF\xBB\xBF" + first.out;
    const std::size_t second_row = text.find("\r\n", text.find("\r\n") + 2) + 2;
    text.insert(second_row, "garbage, not a row\r\n\x01\x02\xFF\r\n");
    text.resize(text.size() - 20);
    const std::string damaged = s.keep.file("damaged.csv", text);
    const e2e::Result r = e2e::run({s.tree.root(), "--CSV", "--DIFF=" + damaged, "-o", "stdout"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(changes(r.out).size(), 5u) << r.out;
    EXPECT_NE(r.err.find("Lines of " + damaged + " passed over: 3"), std::string::npos) << r.err;
}

}  // namespace
