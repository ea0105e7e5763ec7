// The walker on the in-memory Windows platform: order of the listing,
// masks and excludes, depth limit, reparse points, volume roots, aborts.
#include <gtest/gtest.h>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

// The path column of each record, without its padding.
std::vector<std::string> listed_paths(const RunResult& r) {
    std::vector<std::string> paths;
    for (const auto& line : listing_lines(r.err)) {
        std::string path = line.substr(0, 54);
        path.erase(path.find_last_not_of(' ') + 1);
        paths.push_back(path);
    }
    return paths;
}

class Walker : public ::testing::Test {
protected:
    void SetUp() override {
        mp.add_file(u"C:\\work\\root.txt", "r");
        mp.add_file(u"C:\\work\\B\\b1.c", "b");
        mp.add_file(u"C:\\work\\A\\a2.txt", "a2");
        mp.add_file(u"C:\\work\\A\\a1.c", "a1");
        mp.add_file(u"C:\\work\\A\\deep\\d.txt", "d");
    }
    RunResult walk(const std::function<void(filarix::Run&)>& adjust = {},
                   std::vector<std::u16string> args = {u"filarix64", u"C:\\work"}) {
        return run_in_memory(mp, std::move(args), adjust);
    }
    MemoryPlatform mp;
};

TEST_F(Walker, ListsSubdirectoriesFirstThenTheDirectorysOwnFiles) {
    const RunResult r = walk();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\A\\deep\\d.txt", "C:\\work\\A\\a1.c",
                                        "C:\\work\\A\\a2.txt", "C:\\work\\B\\b1.c",
                                        "C:\\work\\root.txt"}));
    EXPECT_NE(r.err.find("\n  3 directories, 5 files, 7 bytes, 0.00 MB"), std::string::npos);
}

TEST_F(Walker, DirectoryRecordsComeBeforeTheirContents) {
    const RunResult r = walk([](filarix::Run& run) { run.s.directories = 1; });
    EXPECT_EQ(listed_paths(r), (std::vector<std::string>{
                                   "C:\\work\\A", "C:\\work\\A\\deep", "C:\\work\\A\\deep\\d.txt",
                                   "C:\\work\\A\\a1.c", "C:\\work\\A\\a2.txt", "C:\\work\\B",
                                   "C:\\work\\B\\b1.c", "C:\\work\\root.txt"}));
    // Directory records carry D and do not count as files.
    const auto lines = listing_lines(r.err);
    EXPECT_EQ(lines[0].substr(77, 7), "....D..");
    EXPECT_NE(r.err.find(" 3 directories, 5 files,"), std::string::npos);
}

TEST_F(Walker, MasksAreListedInOrderAndAFileMatchingTwoIsListedTwice) {
    mp.remove(u"C:\\work\\A");
    mp.remove(u"C:\\work\\B");
    mp.add_file(u"C:\\work\\x.c", "x");
    const RunResult r = walk([](filarix::Run& run) { run.s.filetype_list = {u"*.c", u"*.*"}; });
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\x.c", "C:\\work\\root.txt", "C:\\work\\x.c"}));
    // One search for the subdirectories and one per mask.
    EXPECT_EQ(mp.find_patterns[0], u"\\\\?\\C:\\work\\*.*");
    EXPECT_EQ(mp.find_patterns[1], u"\\\\?\\C:\\work\\*.c");
}

TEST_F(Walker, AMaskBeginningWithMinusEndsTheMaskList) {
    const RunResult r = walk([](filarix::Run& run) {
        run.s.filetype_list = {u"*.c", u"-x", u"*.*"};
    });
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\A\\a1.c", "C:\\work\\B\\b1.c"}));
}

TEST_F(Walker, ExcludeMasksLookAtTheUpperCasedNameOnly) {
    mp.add_file(u"C:\\work\\a.tmp", "");
    mp.add_file(u"C:\\work\\abc", "");
    mp.add_file(u"C:\\work\\ac", "");
    mp.add_file(u"C:\\work\\TMP\\keep.txt", "");
    const RunResult r = walk([](filarix::Run& run) {
        run.s.EXCLUDE = 1;
        run.s.exclude_list = {u"*.TMP", u"A?C", u"*.C", u"TMP"};
        run.s.filetype_list = {u"*.*"};
    });
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\A\\deep\\d.txt", "C:\\work\\A\\a2.txt",
                                        "C:\\work\\TMP\\keep.txt", "C:\\work\\ac",
                                        "C:\\work\\root.txt"}));
}

TEST_F(Walker, DirectoriesCountedDependOnRecursion) {
    MemoryPlatform flat;
    flat.add_file(u"C:\\flat\\f.txt", "x");
    RunResult r = run_in_memory(flat, {u"filarix64", u"C:\\flat"});
    EXPECT_NE(r.err.find(" 0 directories, 1 files,"), std::string::npos);
    r = run_in_memory(flat, {u"filarix64", u"C:\\flat"},
                      [](filarix::Run& run) { run.s.RECURSE = 0; });
    EXPECT_NE(r.err.find(" 1 directory, 1 files,"), std::string::npos);
    // Without recursion the subdirectories are not entered.
    r = walk([](filarix::Run& run) { run.s.RECURSE = 0; });
    EXPECT_EQ(listed_paths(r), (std::vector<std::string>{"C:\\work\\root.txt"}));
}

TEST_F(Walker, DepthLimitListsOnlyTheStartDirectory) {
    // A level option of 1 is stored as 2.
    const RunResult r = walk([](filarix::Run& run) {
        run.s.levels = 2;
        run.s.directories = 1;
    });
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\A", "C:\\work\\B", "C:\\work\\root.txt"}));
}

TEST_F(Walker, ReparsePointsBelowTheStartPathAreNeverEntered) {
    mp.add_symlink_dir(u"C:\\work\\link");
    mp.add_file(u"C:\\work\\link\\inside.txt", "i");
    const RunResult r = walk();
    for (const auto& path : listed_paths(r)) EXPECT_EQ(path.find("inside"), std::string::npos);
    EXPECT_EQ(listed_paths(r).size(), 5u);
}

TEST_F(Walker, AReparsePointNamedAsStartPathIsWalked) {
    mp.add_symlink_dir(u"C:\\link");
    mp.add_file(u"C:\\link\\inside.txt", "i");
    const RunResult r = walk({}, {u"filarix64", u"C:\\link"});
    EXPECT_EQ(listed_paths(r), (std::vector<std::string>{"C:\\link\\inside.txt"}));
}

TEST_F(Walker, UnreadableDirectoriesAreNamedAndCounted) {
    mp.add_dir(u"C:\\work\\locked", {.unlistable = true});
    const RunResult r = walk({}, {u"filarix64", u"C:\\work", u"C:\\missing"});
    EXPECT_EQ(r.code, 1);
    // A missing start path is named as the arguments are read, the locked
    // directory as the walk meets it.
    EXPECT_EQ(r.err.find("\nCannot find/open C:\\missing\n"), 0u);
    EXPECT_NE(r.err.find("\nDirectory not readable: C:\\work\\locked\\\n"), std::string::npos);
    EXPECT_NE(
        r.err.find(" 4 directories, 5 files, 7 bytes, 0.00 MB\n  directories not readable: 1\n"),
        std::string::npos)
        << r.err;
}

TEST_F(Walker, AFileSearchThatFailsPassesOverThatDirectorysFilesOnly) {
    // Searches: work, A, deep, deep's files, then A's files. Records come
    // from the searches; no file is looked up again by its path.
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::find_first, 5);
    const RunResult r = run_in_memory(mp, faulty, {u"filarix64", u"C:\\work"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(listed_paths(r),
              (std::vector<std::string>{"C:\\work\\A\\deep\\d.txt", "C:\\work\\B\\b1.c",
                                        "C:\\work\\root.txt"}));
    EXPECT_EQ(faulty.failures(FaultyPlatform::Kind::find_first), 1u);
}

TEST_F(Walker, VolumeRootIsWalkedWithItsBackslashRestored) {
    MemoryPlatform root;
    root.add_file(u"D:\\top.txt", "t");
    root.add_file(u"D:\\sub\\s.txt", "s");
    const RunResult r = run_in_memory(root, {u"filarix64", u"D:\\"});
    EXPECT_EQ(listed_paths(r), (std::vector<std::string>{"D:\\sub\\s.txt", "D:\\top.txt"}));
    EXPECT_EQ(root.find_patterns[0], u"\\\\?\\D:\\*.*");
}

TEST_F(Walker, NoStartPathWalksTheCurrentDirectory) {
    mp.cwd = u"C:\\work\\B";
    const RunResult r = walk({}, {u"filarix64"});
    EXPECT_EQ(listed_paths(r), (std::vector<std::string>{"C:\\work\\B\\b1.c"}));
}

TEST_F(Walker, NothingListedEndsWithStatusZero) {
    const RunResult r = walk([](filarix::Run& run) { run.s.filetype_list = {u"*.none"}; });
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err.find("Exit Status"), std::string::npos);
}

TEST_F(Walker, InterruptEndsTheRunWithPartialTotals) {
    mp.interrupt_after_finds(3);
    const RunResult r = walk();
    EXPECT_EQ(r.code, 2);
    EXPECT_LT(listed_paths(r).size(), 5u);
    EXPECT_NE(r.err.find("Exit Status: USER_ABORTED"), std::string::npos);
    EXPECT_NE(r.err.find(" files, "), std::string::npos);
}

TEST_F(Walker, EscStopsTheWalkAndOtherKeysDoNot) {
    mp.keys = {'a', 'q'};
    RunResult r = walk();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(listed_paths(r).size(), 5u);
    mp.keys = {'x', 27};
    r = walk();
    EXPECT_EQ(r.code, 2);
    EXPECT_LT(listed_paths(r).size(), 5u);
    mp.keys = {3};
    EXPECT_EQ(walk().code, 2);
}

TEST_F(Walker, ProgressLineOnlyWhenListingToAFile) {
    RunResult r = walk();
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    mp.add_dir(u"C:\\out");
    r = walk([](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
    });
    // The count of files listed so far, then the directory being listed.
    EXPECT_NE(r.err.find("\r            0 C:\\work\\A\\deep\\"), std::string::npos);
    EXPECT_NE(r.err.find("\r            4 C:\\work\\"), std::string::npos);
    EXPECT_EQ(file_records(*mp.contents(u"C:\\out\\list.txt")).size(), 5u);
}

}  // namespace

namespace {

// The closing lines of --TREESIZE, in the order written.
std::vector<std::string> tree_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (const auto& line : split_lines(text))
        if (line.starts_with("Tree totals: ")) lines.push_back(line);
    return lines;
}

}  // namespace

// Each directory's totals follow its subtree, a start path's last, with
// the path as the user knows it (no long-path prefix); the records stay
// where they were. A CSV row of a directory waits for its subtree.
TEST_F(Walker, TreeTotalsFollowEachSubtree) {
    const auto with = [](bool tree, TableFormat format) {
        return [tree, format](filarix::Run& run) {
            run.s.directories = 1;
            run.s.TREESIZE = tree;
            run.s.table_format = format;
        };
    };
    const RunResult plain = walk(with(false, table_none));
    const RunResult text = walk(with(true, table_none));
    std::vector<std::string> records = listed_paths(text);
    std::erase_if(records, [](const std::string& p) { return p.starts_with("Tree totals: "); });
    EXPECT_EQ(records, listed_paths(plain));
    EXPECT_EQ(tree_lines(text.err),
              (std::vector<std::string>{"Tree totals: 1 files, 1 bytes: C:\\work\\A\\deep",
                                        "Tree totals: 3 files, 5 bytes: C:\\work\\A",
                                        "Tree totals: 1 files, 1 bytes: C:\\work\\B",
                                        "Tree totals: 5 files, 7 bytes: C:\\work"}));
    const RunResult masked =
        walk(with(true, table_none), {u"filarix64", u"C:\\work", u"-f", u"*.c"});
    EXPECT_EQ(tree_lines(masked.err).back(), "Tree totals: 2 files, 3 bytes: C:\\work");

    const RunResult csv =
        walk(with(true, table_csv), {u"filarix64", u"C:\\work", u"-o", u"stdout"});
    // Each directory row's path and its last fields: the totals and the
    // empty target.
    std::vector<std::string> directories;
    for (std::string line : split_lines(csv.out)) {
        if (!line.starts_with("directory,")) continue;
        if (line.ends_with('\r')) line.pop_back();
        std::size_t totals = line.size();
        for (int i = 0; i < 3; ++i) totals = line.rfind(',', totals - 1);
        directories.push_back(line.substr(10, line.find(',', 10) - 10) + line.substr(totals));
    }
    EXPECT_EQ(directories, (std::vector<std::string>{"C:\\work\\A\\deep,1,1,", "C:\\work\\A,3,5,",
                                                     "C:\\work\\B,1,1,", "C:\\work,5,7,"}))
        << csv.out;
}
