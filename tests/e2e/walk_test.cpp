// End-to-end: the walk over trees deeper and longer than the system's own
// path limit, under a small descriptor limit, while a directory is swapped
// for a link, and with Samba's attribute records.
#include <sys/xattr.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "e2e_support.hpp"

namespace {

using e2e::record;
using e2e::records;
using e2e::run;
using e2e::TempTree;
using Lines = std::vector<std::string>;

// The path of each record. The long trees are listed with a whole-path
// column (-V), which ends at the first "|".
Lines paths_of(const std::string& err) {
    Lines paths;
    std::size_t at = err.find('\n');
    for (std::size_t end; at != std::string::npos &&
                          (end = err.find('\n', at + 1)) != std::string::npos && end > at + 1;
         at = end) {
        const std::string line = err.substr(at + 1, end - at - 1);
        paths.push_back(line.substr(0, line.find('|')));
    }
    return paths;
}

// A chain of directories below `root`, made relative to the one above so
// that no path is ever longer than one name; `file_every` levels hold a
// file "f<level>". Returns the listed paths, deepest first.
Lines make_chain(const std::string& root, const std::string& name, int depth, int file_every) {
    Lines files;
    std::string path = root;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 1; level <= depth && fd >= 0; ++level) {
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = sub;
        path += "/" + name;
        if (level % file_every == 0 || level == depth) {
            const std::string file = "f" + std::to_string(level);
            ::close(::openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644));
            files.push_back(path + "/" + file);
        }
    }
    if (fd >= 0) ::close(fd);
    return Lines(files.rbegin(), files.rend());
}

// Moves a big tree out of the way and lets rm (which copes with paths
// past the system's limit) remove it in the background: removing
// thousands of directories takes far longer than the test itself.
void remove_tree(const std::string& tree) {
    const std::string trash = tree + "-trash";
    ASSERT_EQ(::rename(tree.c_str(), trash.c_str()), 0);
    ASSERT_EQ(std::system(("rm -rf '" + trash + "' >/dev/null 2>&1 &").c_str()), 0);
}

TEST(Walk, PathsLongerThanTheSystemLimitAreListed) {
    TempTree t;
    const Lines files = make_chain(t.dir("tree"), std::string(200, 'n'), 30, 1);
    const auto result = run({t.path("tree"), "-V"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(paths_of(result.err), files);
    EXPECT_GT(files.front().size(), 6000u);
    remove_tree(t.path("tree"));
}

TEST(Walk, TenThousandLevelsUnderASmallDescriptorLimit) {
    TempTree t;
    const Lines files = make_chain(t.dir("tree"), "d", 10000, 1000);
    const std::string command =
        "ulimit -n 256; exec '" FILARIX_BINARY "' '" + t.path("tree") + "' -V";
    const auto result = run({"-c", command}, {}, false, {}, std::nullopt, "/bin/sh");
    EXPECT_EQ(result.status, 1) << result.err.substr(0, 300);
    EXPECT_EQ(paths_of(result.err), files);
    remove_tree(t.path("tree"));
}

TEST(Walk, ASwappedDirectoryNeverLeadsOutOfTheTree) {
    TempTree t;
    for (int i = 0; i < 40; ++i) {
        const std::string sub = "s" + std::to_string(i);
        for (int j = 0; j < 5; ++j) {
            t.file("tree/a/" + sub + "/x" + std::to_string(j) + "/in.txt");
            t.file("outside/" + sub + "/x" + std::to_string(j) + "/secret.txt");
        }
    }
    const std::string a = t.path("tree/a"), real = t.path("tree/a_real");
    const std::string outside = t.path("outside");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop) {
            ::rename(a.c_str(), real.c_str());
            ::symlink(outside.c_str(), a.c_str());
            ::unlink(a.c_str());
            ::rename(real.c_str(), a.c_str());
        }
    });
    std::size_t listed = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const auto result = run({t.path("tree")});
        for (const std::string& line : records(result.err)) {
            EXPECT_EQ(line.find("secret"), std::string::npos) << line;
            EXPECT_EQ(line.find(outside), std::string::npos) << line;
        }
        listed += records(result.err).size();
    }
    stop = true;
    swapper.join();
    EXPECT_GT(listed, 0u);
}

TEST(Walk, TwoRunsListTheSameBytes) {
    TempTree t;
    for (const char* f : {"b/Z.txt", "b/a.txt", "B2/c", "a/x/y/z", "_u", "A"}) t.file(f, f);
    const auto first = run({t.root(), "-V"});
    const auto second = run({t.root(), "-V"});
    EXPECT_EQ(first.err.substr(0, first.err.find("  Drive")),
              second.err.substr(0, second.err.find("  Drive")));
    EXPECT_EQ(paths_of(first.err).size(), 6u);
}

// The listing up to the totals, which carry the volume's free space.
std::string listing_of(const std::string& err) {
    return err.substr(0, err.find("  Drive"));
}

// Two threads share the work on a large directory (one of thousands of
// files) and read the next directories ahead of the walk.
TEST(Walk, OneAndTwoWalkThreadsListTheSameBytes) {
    TempTree t;
    std::size_t files = 0;
    for (int i = 0; i < 5000; ++i, ++files) t.file("tree/wide/w" + std::to_string(i));
    files += make_chain(t.dir("tree/deep"), "d", 300, 7).size();
    // A chain the walk reads itself, levels of many files with one
    // subdirectory that are read ahead, and a fork at the bottom.
    std::string level = "tree/mixed";
    for (int depth = 0; depth < 12; ++depth, level += "/l") {
        const int many = depth % 3 == 2 ? 40 : 1;
        for (int k = 0; k < many; ++k, ++files) t.file(level + "/g" + std::to_string(k));
    }
    for (const char* fork : {"p", "q", "r"}) {
        t.file(level + "/" + fork + "/x");
        ++files;
    }
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 6; ++b)
            for (int k = 0; k < 4; ++k, ++files)
                t.file("tree/n" + std::to_string(a) + "/m" + std::to_string(b) + "/f" +
                       std::to_string(k));
    const std::string streamed = t.file("tree/n2/s.txt", "s");
    ASSERT_EQ(::setxattr(streamed.c_str(), "user.note", "abc", 3, 0), 0);
    const std::string samba = t.file("tree/n3/samba.txt", "s");
    ASSERT_EQ(::setxattr(samba.c_str(), "user.DOSATTRIB", "0x21", 5, 0), 0);
    files += 2;

    const std::string tree = t.path("tree");
    const auto one = run({tree, "-V"}, {}, false, {"FILARIX_WALK_THREADS=1"});
    const auto two = run({tree, "-V"}, {}, false, {"FILARIX_WALK_THREADS=2"});
    const auto again = run({tree, "-V"}, {}, false, {"FILARIX_WALK_THREADS=2"});
    EXPECT_EQ(listing_of(one.err), listing_of(two.err));
    EXPECT_EQ(listing_of(two.err), listing_of(again.err));
    EXPECT_EQ(paths_of(two.err).size(), files + 1);  // and the stream's line
    EXPECT_NE(two.err.find(samba + "|1|A.R"), std::string::npos) << two.err.substr(0, 300);
    remove_tree(tree);
}

TEST(Walk, SambaAttributesShowInEveryDirectory) {
    TempTree t;
    struct Case {
        std::string file;
        const char* dosattrib;  // nullptr: none stored
        std::string letters;
    };
    // "first": the directory holds none, its first file does; "later": the
    // directory holds one, its first file does not.
    const Case cases[] = {
        {"first/a.txt", "0x24", "A..S.."},
        {"first/b.txt", "0x1", "..R..."},
        {"first/c.txt", nullptr, "A....."},
        {"later/a.txt", nullptr, "A....."},
        {"later/b.txt", "0x22", "AH...."},
        // Neither the directory nor its first file holds one.
        {"lone/a.txt", nullptr, "A....."},
        {"lone/b.txt", "0x2", ".H...."},
    };
    for (const Case& c : cases) {
        const std::string p = t.file(c.file);
        if (c.dosattrib) {
            ASSERT_EQ(::setxattr(p.c_str(), "user.DOSATTRIB", c.dosattrib,
                                 std::strlen(c.dosattrib) + 1, 0),
                      0);
        }
    }
    ASSERT_EQ(::setxattr(t.path("later").c_str(), "user.DOSATTRIB", "0x10", 5, 0), 0);
    const auto result = run({t.root()});
    Lines expected;
    for (const Case& c : cases) expected.push_back(record(t.path(c.file), 0, c.letters));
    EXPECT_EQ(records(result.err), expected);
}

}  // namespace
