// End-to-end: the listing, its order, the start paths, the totals and the
// exit statuses of the real binary on real temporary trees.
#include <regex>

#include "e2e_support.hpp"

namespace {

using e2e::record;
using e2e::records;
using e2e::run;
using e2e::TempTree;
using e2e::totals;
using Lines = std::vector<std::string>;

// The closing part of standard error after the totals line.
const std::regex kClosing(
    R"((  Drive Freespace \d{1,3}(,\d{3})*\n)?  Elapsed:  0 hrs\. 0 mins\. \d+ secs\.\n)"
    R"(  Last Access Date UPDATE is: turned (ON|\*\*\*\*\* OFF \*\*\*\*\*)\n\n$)");

TEST(Listing, ExactRecordsForAwkwardNames) {
    TempTree t;
    t.file("with space.txt", "hello");
    t.file("empty");
    t.file("\xC3\xA9\xE2\x82\xAC.txt", "xy");  // "é€.txt"
    t.file("bad\xFF.txt", "z");
    t.file(".hidden", "dot");
    t.file("readonly.txt", "ro");
    t.mode("readonly.txt", 0444);
    t.file("big.bin", "", 1234567);
    const std::string r = t.root() + "/";
    const auto result = run({t.root()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(e2e::is_start_banner(result.out)) << result.out;
    EXPECT_EQ(records(result.err), (Lines{
                                       record(r + ".hidden", 3, "AH...."),
                                       record(r + "bad\xFF.txt", 1),
                                       record(r + "big.bin", 1234567),
                                       record(r + "empty", 0),
                                       record(r + "readonly.txt", 2, "A.R..."),
                                       record(r + "with space.txt", 5),
                                       record(r + "\xC3\xE2.txt", 2),
                                   }));
    const std::string tail = totals(0, 7, "1,234,580", "1.23");
    const auto at = result.err.find(tail);
    ASSERT_NE(at, std::string::npos) << result.err;
    EXPECT_TRUE(std::regex_match(result.err.substr(at + tail.size()), kClosing)) << result.err;
}

TEST(Listing, SubdirectoriesFirstThenFilesCaseInsensitively) {
    TempTree t;
    for (const char* f : {"b.txt", "A.txt", "zdir/z1.txt", "Bdir/sub/s.txt", "Bdir/b2.txt",
                          "Bdir/Abc/deep/d.txt", "adir/a1", "adir/C", "adir/b"})
        t.file(f);
    t.dir("Bdir/empty");
    const std::string r = t.root() + "/";
    const auto result = run({t.root()});
    EXPECT_EQ(result.status, 1);
    Lines expected;
    for (const char* f : {"adir/a1", "adir/b", "adir/C", "Bdir/Abc/deep/d.txt", "Bdir/sub/s.txt",
                          "Bdir/b2.txt", "zdir/z1.txt", "A.txt", "b.txt"})
        expected.push_back(record(r + f, 0));
    EXPECT_EQ(records(result.err), expected);
    EXPECT_NE(result.err.find(totals(7, 9, "0", "0.00")), std::string::npos) << result.err;
}

TEST(Listing, StartPaths) {
    TempTree t;
    t.file("one/a.txt", "a");
    t.file("one/sub/b.txt", "bb");
    t.file("two/c.txt", "ccc");
    const std::string one = t.path("one"), two = t.path("two");
    const std::string sb = record(one + "/sub/b.txt", 2), fa = record(one + "/a.txt", 1),
                      fc = record(two + "/c.txt", 3);
    struct Case {
        std::vector<std::string> args;
        Lines expected;
        std::string totals;
    };
    const Case cases[] = {
        {{one, two}, {sb, fa, fc}, totals(1, 3, "6", "0.00")},
        {{two, one}, {fc, sb, fa}, totals(1, 3, "6", "0.00")},
        {{one, one}, {sb, fa}, totals(1, 2, "3", "0.00")},
        {{one, one + "/"}, {sb, fa}, totals(1, 2, "3", "0.00")},
        {{one, "-.ini"}, {sb, fa}, totals(1, 2, "3", "0.00")},
        {{one, "-"}, {sb, fa}, totals(1, 2, "3", "0.00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " ... (" + std::to_string(c.args.size()) + " args)");
        const auto result = run(c.args);
        EXPECT_EQ(result.status, c.expected.empty() ? 0 : 1);
        EXPECT_TRUE(e2e::is_start_banner(result.out)) << result.out;
        EXPECT_EQ(records(result.err), c.expected);
        EXPECT_NE(result.err.find(c.totals), std::string::npos) << result.err;
    }
}

TEST(Listing, NoArgumentsWalksTheCurrentDirectory) {
    TempTree t;
    t.file("here/sub/x.txt", "x");
    t.file("here/y.txt", "yy");
    const auto result = run({}, t.path("here"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(records(result.err),
              (Lines{record(t.path("here/sub/x.txt"), 1), record(t.path("here/y.txt"), 2)}));
}

TEST(Listing, SymbolicLinks) {
    TempTree t;
    t.file("real/inner.txt", "in");
    t.file("start/f.txt", "f");
    t.link("../real", "start/linkdir");
    t.link("f.txt", "start/lf", e2e::kStamp + 86400);  // the link's own time, not the target's
    t.link("real", "ln");
    struct Case {
        std::string start;
        Lines expected;
    };
    // A link to a file is listed from its own status: no A (not a regular file), size 0.
    const Case cases[] = {
        {t.path("start"),
         {record(t.path("start/f.txt"), 1),
          record(t.path("start/lf"), 0, "......", "01/03/2024 03:04")}},
        {t.path("ln"), {record(t.path("ln/inner.txt"), 2)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        const auto result = run({c.start});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(records(result.err), c.expected);
    }
}

TEST(Listing, UnreadableDirectoriesAreNamedAndCounted) {
    TempTree t;
    t.file("locked300/secret.txt", "s");
    t.file("locked600/secret.txt", "s");
    t.file("open/visible.txt", "v");
    t.file("top.txt", "t");
    ::chmod(t.root().c_str(), 0755);
    t.mode("locked300", 0300);
    t.mode("locked600", 0600);
    TempTree o;  // where nobody may write the listing and the log
    ::chmod(o.root().c_str(), 0777);
    const std::string named = "\nDirectory not readable: " + t.path("locked300/") +
                              "\n\nDirectory not readable: " + t.path("locked600/") + "\n";
    const std::string counted = " bytes: \n  directories not readable: 2\n";
    struct Row {
        std::vector<std::string> options;
        std::string file;                  // in o, written by the run
        std::vector<std::string> in_file;  // what it holds
    };
    const Row rows[] = {
        {{}, "", {}},
        {{"-o", o.path("list.txt")}, "list.txt", {counted}},
        {{"-1", o.path("log.txt")},
         "log.txt",
         {"\nDIRECTORY NOT READABLE: |" + t.path("locked300/") + "\nDIRECTORY NOT READABLE: |" +
              t.path("locked600/") + "\n",
          counted}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{t.root()};
        args.insert(args.end(), row.options.begin(), row.options.end());
        // As root every directory can be read: the binary runs as nobody,
        // for whom directories of mode 300 and 600 owned by root cannot.
        const auto result = run(args, {}, true);
        ASSERT_NE(result.status, 126) << "the binary cannot be run as nobody";
        EXPECT_EQ(result.status, 1) << result.err;
        const auto at = result.err.find(named);
        ASSERT_NE(at, std::string::npos) << result.err;
        EXPECT_NE(result.err.find(" MB\n  directories not readable: 2\n"), std::string::npos)
            << result.err;
        if (row.file.empty()) {
            std::string listing = result.err;
            listing.erase(at, named.size());
            EXPECT_EQ(records(listing),
                      (Lines{record(t.path("open/visible.txt"), 1), record(t.path("top.txt"), 1)}));
            continue;
        }
        const std::string text = e2e::read_file(o.path(row.file));
        for (const auto& expected : row.in_file)
            EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin\n" << text;
    }
}

TEST(Listing, TotalsAndPlural) {
    struct Case {
        std::vector<std::string> files;
        std::string totals;
    };
    const Case cases[] = {
        {{}, totals(0, 0, "0", "0.00")},
        {{"f"}, totals(0, 1, "3", "0.00")},
        {{"d1/f"}, totals(1, 1, "3", "0.00")},
        {{"d1/f", "d2/f", "d2/e/f"}, totals(3, 3, "9", "0.00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.totals);
        TempTree t;
        for (const auto& f : c.files) t.file(f, "abc");
        const auto result = run({t.root()});
        EXPECT_EQ(result.status, c.files.empty() ? 0 : 1);
        EXPECT_EQ(records(result.err).size(), c.files.size());
        const auto at = result.err.find(c.totals);
        ASSERT_NE(at, std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Exit Status"), std::string::npos);
        EXPECT_TRUE(std::regex_match(result.err.substr(at + c.totals.size()), kClosing))
            << result.err;
    }
    TempTree big;
    big.file("a", "", 2500000000LL);
    big.file("b", "", 1234);
    const auto result = run({big.root()});
    EXPECT_NE(result.err.find(totals(0, 2, "2,500,001,234", "2500.00")), std::string::npos)
        << result.err;
}

TEST(Listing, CommandLineErrors) {
    TempTree t;
    t.file("d/f.txt", "f");
    const std::string d = t.path("d");
    const std::string extra = "\nThere appears to be an extra or eroneous item \"" + d +
                              "\"\nat the end of the command line\n"
                              "Please check your syntax, and correct to problem.\n";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-K"}, "\nIllegal option K\n"},    {{"-Kyz"}, "\nIllegal option Kyz\n"},
        {{"+K"}, "\nIllegal option K\n"},    {{"-K", d}, "\nIllegal option K\n"},
        {{d, "-K"}, "\nIllegal option K\n"}, {{"-.ini", d}, extra},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " ... (" + std::to_string(c.args.size()) + " args)");
        const auto result = run(c.args);
        EXPECT_EQ(result.status, 6);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err.find("f.txt"), std::string::npos) << result.err;
        const std::string end = "\nExit Status: ILLEGAL or INCOMPLETE OPTION\n\n";
        EXPECT_TRUE(result.err.ends_with(end)) << result.err;
    }
}

TEST(Listing, LongPathsAreShortened) {
    TempTree t;
    const std::string d20 = "d1234567890123456789", e31 = "e123456789012345678901234567890";
    const std::string n50(50, 'n'), a10(10, 'a'), b36(36, 'b'), a11(11, 'a');
    // A path of exactly 54 characters is printed whole.
    const std::string fit(54 - t.root().size() - 1, 'f');
    struct Case {
        std::string rel, column;
    };
    const Case cases[] = {
        {fit, t.path(fit)},
        {fit + "g", "/t/.../" + fit + "g"},
        {d20 + "/" + e31 + "/f.txt", "/t/.../" + e31 + "/f.txt"},
        {d20 + "/" + n50, "/t/.../" + n50},  // no '/' in the tail: cut to 54 by the column
        {d20 + "/" + a10 + "/" + b36, "/t/.../" + a10 + "/" + b36},
        {d20 + "/" + a11 + "/" + b36, "/t/.../" + b36},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel);
        TempTree each;
        ASSERT_EQ(each.root().size(), t.root().size());
        each.file(c.rel, "abcd");
        const auto result = run({each.root()});
        EXPECT_EQ(result.status, 1);
        std::string column = c.column;
        if (column.rfind(t.root(), 0) == 0) column = each.root() + column.substr(t.root().size());
        EXPECT_EQ(records(result.err), Lines{record(column, 4)});
    }
}

}  // namespace

namespace {

// A POSIX name may hold the characters a search reads as a mask; each file
// still gets its own data, not that of a neighbour the mask also matches.
TEST(Listing, NamesWithMaskCharactersKeepTheirOwnData) {
    e2e::TempTree t;
    t.file("!x", "1");
    t.file("*", "22");
    t.file("a?", "333");
    t.file("ab", "4444");
    t.file("[c]", "55555");
    t.file("c", "666666");
    const std::string r = t.root() + "/";
    const auto result = e2e::run({t.root()});
    EXPECT_EQ(e2e::records(result.err),
              (std::vector<std::string>{e2e::record(r + "!x", 1), e2e::record(r + "*", 2),
                                        e2e::record(r + "a?", 3), e2e::record(r + "ab", 4),
                                        e2e::record(r + "c", 6), e2e::record(r + "[c]", 5)}));
}

}  // namespace
