// End-to-end: the walk's controls: directories pruned by name or by path,
// a depth that still lists files, one file system, NUL-ended names.
#include <sys/mount.h>

#include <algorithm>
#include <cstring>

#include "e2e_support.hpp"

namespace {

using e2e::run;
using e2e::TempTree;
using Lines = std::vector<std::string>;

// The paths of a -V listing on the standard error stream, below `root`,
// sorted: the path column ends at the first "|".
Lines listed_below(const std::string& err, const std::string& root) {
    Lines paths;
    std::size_t at = 0;
    for (std::size_t end; (end = err.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = err.substr(at, end - at);
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos || line.compare(0, root.size() + 1, root + "/") != 0) continue;
        paths.push_back(line.substr(root.size() + 1, bar - root.size() - 1));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// keep.txt, a/b/dup.txt, a/c/x.txt, a/c/b/deep.txt, node_modules/m.js,
// src/main.c, src/node_modules/n.js
void make_tree(TempTree& t) {
    for (const char* f : {"keep.txt", "a/b/dup.txt", "a/c/x.txt", "a/c/b/deep.txt",
                          "node_modules/m.js", "src/main.c", "src/node_modules/n.js"})
        t.file(std::string("t/") + f, "x");
}

struct WalkCase {
    const char* what;
    Lines options;
    Lines listed;
    const char* summary;  // a line the error stream must hold; empty for none
};

TEST(WalkControls, PruneAndDepthTable) {
    TempTree t;
    make_tree(t);
    const WalkCase cases[] = {
        {"a name prunes at every level",
         {"--PRUNE=b"},
         {"a/c/x.txt", "keep.txt", "node_modules/m.js", "src/main.c", "src/node_modules/n.js"},
         "directories pruned: 2"},
        {"a relative path prunes that directory only",
         {"--PRUNE=a/b"},
         {"a/c/b/deep.txt", "a/c/x.txt", "keep.txt", "node_modules/m.js", "src/main.c",
          "src/node_modules/n.js"},
         "directories pruned: 1"},
        {"**/ stands for any directories or none",
         {"--PRUNE=**/node_modules"},
         {"a/b/dup.txt", "a/c/b/deep.txt", "a/c/x.txt", "keep.txt", "src/main.c"},
         "directories pruned: 2"},
        {"a/** prunes below a, not a itself",
         {"--PRUNE=a/**", "-Ad"},
         {"a", "keep.txt", "node_modules", "node_modules/m.js", "src", "src/main.c",
          "src/node_modules", "src/node_modules/n.js"},
         "directories pruned: 2"},
        {"pruned directories have no records",
         {"--PRUNE=node_modules", "--PRUNE=c", "-Ad"},
         {"a", "a/b", "a/b/dup.txt", "keep.txt", "src", "src/main.c"},
         "directories pruned: 3"},
        {"a file mask still applies",
         {"--PRUNE=node_modules", "-f", "*.c"},
         {"src/main.c"},
         "directories pruned: 2"},
        {"case counts on Linux",
         {"--PRUNE=B"},
         {"a/b/dup.txt", "a/c/b/deep.txt", "a/c/x.txt", "keep.txt", "node_modules/m.js",
          "src/main.c", "src/node_modules/n.js"},
         ""},
        {"depth 1 is the start directory's own entries",
         {"--DEPTH=1", "-Ad"},
         {"a", "keep.txt", "node_modules", "src"},
         ""},
        {"depth 2 lists files, unlike --LEV",
         {"--DEPTH=2", "-Ad"},
         {"a", "a/b", "a/c", "keep.txt", "node_modules", "node_modules/m.js", "src", "src/main.c",
          "src/node_modules"},
         ""},
        {"depth and prune together",
         {"--DEPTH=3", "--PRUNE=a"},
         {"keep.txt", "node_modules/m.js", "src/main.c", "src/node_modules/n.js"},
         "directories pruned: 1"},
    };
    const std::string root = t.path("t");
    for (const auto& c : cases) {
        Lines args{root, "-V"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = run(args);
        EXPECT_EQ(result.status, 1) << c.what;
        EXPECT_EQ(listed_below(result.err, root), c.listed) << c.what;
        if (*c.summary)
            EXPECT_NE(result.err.find(std::string("\n  ") + c.summary), std::string::npos)
                << c.what << "\n"
                << result.err;
        else
            EXPECT_EQ(result.err.find("directories pruned"), std::string::npos) << c.what;
    }
}

TEST(WalkControls, PruneAndDepthFromTheIniFile) {
    TempTree t;
    make_tree(t);
    t.file("cwd/filarix64.ini", "[FILARIX64]\nPRUNE=node_modules\nPRUNE=a/c\nDEPTH=2\n");
    const auto result = run({t.path("t"), "-V"}, t.path("cwd"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(listed_below(result.err, t.path("t")), (Lines{"keep.txt", "src/main.c"}));
}

TEST(WalkControls, PrunedDirectoriesAreCountedInTheLogAndTheListing) {
    TempTree t;
    make_tree(t);
    const auto result =
        run({t.path("t"), "--PRUNE=b", "-o", t.path("list.txt"), "-1", t.path("log.txt")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(e2e::read_file(t.path("log.txt")).find("\n  directories pruned: 2\n"),
              std::string::npos);
    const auto plain = run({t.path("t"), "--PRUNE=b", "-o", t.path("plain.txt")});
    EXPECT_NE(e2e::read_file(t.path("plain.txt")).find("\n  directories pruned: 2\n"),
              std::string::npos);
}

TEST(WalkControls, AMalformedDepthIsAnOptionError) {
    TempTree t;
    make_tree(t);
    for (const char* value : {"0", "x", "-1", "", "2x", "99999999999"}) {
        const auto result = run({t.path("t"), std::string("--DEPTH=") + value});
        EXPECT_EQ(result.status, 6) << value;
        EXPECT_NE((result.out + result.err).find("Illegal option: DEPTH="), std::string::npos)
            << value << result.out << result.err;
    }
}

// A tmpfs mounted for one test, unmounted however the test ends.
class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& where) : where_(where) {
        mounted_ = ::mount("fxe2e", where.c_str(), "tmpfs", 0, "size=1m") == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return mounted_; }
    std::string why() const { return std::strerror(error_); }

private:
    std::string where_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST(WalkControls, OneFileSystemPassesAMountBy) {
    TempTree t;
    t.file("t/keep.txt", "x");
    t.dir("t/mnt");
    const TmpfsMount mount(t.path("t/mnt"));
    ASSERT_TRUE(mount.mounted()) << "mount -t tmpfs failed (" << mount.why()
                                 << "): these tests must run as root";
    t.file("t/mnt/inner.txt", "x");
    t.file("t/mnt/sub/deep.txt", "x");
    const std::string root = t.path("t");
    const Lines whole{"keep.txt", "mnt", "mnt/inner.txt", "mnt/sub", "mnt/sub/deep.txt"};
    struct MountCase {
        Lines options;
        Lines listed;
    };
    const MountCase cases[] = {
        {{}, whole},
        {{"--ONEFS"}, {"keep.txt", "mnt"}},
        {{"--ONEFS", "--PRUNE=nothing", "--DEPTH=5"}, {"keep.txt", "mnt"}},
        {{"--ONEFS=OFF"}, whole},
    };
    for (const char* threads : {"FILARIX_WALK_THREADS=1", "FILARIX_WALK_THREADS=2"}) {
        for (const auto& c : cases) {
            Lines args{root, "-V", "-Ad"};
            args.insert(args.end(), c.options.begin(), c.options.end());
            const auto result = run(args, {}, false, {threads});
            EXPECT_EQ(result.status, 1) << threads;
            EXPECT_EQ(listed_below(result.err, root), c.listed) << threads << " " << args.back();
        }
    }
    // The mount is named in the log; a start path on it is walked whole.
    const auto logged = run({root, "--ONEFS", "-1", t.path("log.txt")});
    EXPECT_NE(e2e::read_file(t.path("log.txt")).find("\nOTHER FILE SYSTEM: |" + root + "/mnt/"),
              std::string::npos)
        << e2e::read_file(t.path("log.txt"));
    const auto inside = run({t.path("t/mnt"), "-V", "--ONEFS"});
    EXPECT_EQ(listed_below(inside.err, t.path("t/mnt")), (Lines{"inner.txt", "sub/deep.txt"}));
}

// The names a --NUL listing holds, read back by python3 as bytes and each
// looked up (lstat) as it is: hex, sorted.
Lines names_read_back(const std::string& file) {
    const auto result = run({"-c",
                             "import os, sys\n"
                             "data = open(sys.argv[1], 'rb').read()\n"
                             "assert data.endswith(b'\\0'), 'not NUL-ended'\n"
                             "names = data[:-1].split(b'\\0')\n"
                             "for n in names: os.lstat(n)\n"
                             "print('\\n'.join(sorted(n.hex() for n in names)))\n",
                             file},
                            {}, false, {}, std::nullopt, "/usr/bin/python3");
    EXPECT_EQ(result.status, 0) << result.err;
    Lines names;
    std::size_t at = 0;
    for (std::size_t end; (end = result.out.find('\n', at)) != std::string::npos; at = end + 1)
        names.push_back(result.out.substr(at, end - at));
    return names;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (const unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

TEST(WalkControls, NulEndedNamesAreExactBytes) {
    TempTree t;
    const std::vector<std::string> names{"plain.txt",   "new\nline", "bad\xff\xfe",        "-dash",
                                         "ctl\x01\x7f", "sp ace",    std::string(200, 'l')};
    for (const auto& n : names) t.file("t/d/" + n, "x");
    const std::string root = t.path("t");
    Lines expected_files;
    for (const auto& n : names) expected_files.push_back(hex(root + "/d/" + n));
    std::sort(expected_files.begin(), expected_files.end());
    Lines with_directory = expected_files;
    with_directory.push_back(hex(root + "/d"));
    std::sort(with_directory.begin(), with_directory.end());

    struct NulCase {
        const char* what;
        Lines options;
        const Lines* expected;
    };
    const NulCase cases[] = {
        {"to a file", {"--NUL", "-o", t.path("list")}, &expected_files},
        {"directories too, without a separator",
         {"--NUL", "-Ad", "-o", t.path("list")},
         &with_directory},
        {"--NUL wins over CSV and the sort",
         {"--CSV", "-yN", "--NUL", "-o", t.path("list")},
         &expected_files},
    };
    for (const auto& c : cases) {
        Lines args{root};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = run(args);
        EXPECT_EQ(result.status, 1) << c.what << result.err;
        EXPECT_EQ(names_read_back(t.path("list")), *c.expected) << c.what;
        EXPECT_EQ(result.out, "") << c.what;
        EXPECT_NE(result.err.find("files, 7 bytes"), std::string::npos) << c.what << result.err;
    }
    // Without -o, and with -o stdout, the names alone go to the standard
    // output; the totals stay on the error stream.
    for (const Lines& args : {Lines{root, "--NUL"}, Lines{root, "--NUL", "-o", "stdout"}}) {
        const auto result = run(args);
        EXPECT_EQ(result.status, 1);
        std::ofstream(t.path("out"), std::ios::binary) << result.out;
        EXPECT_EQ(names_read_back(t.path("out")), expected_files) << args.back();
        EXPECT_NE(result.err.find("7 files, 7 bytes"), std::string::npos) << result.err;
    }
    // Straight into xargs -0: every file is opened by its name (each holds "x").
    const auto piped =
        run({"-c", "'" FILARIX_BINARY "' \"$0\" --NUL 2>/dev/null | xargs -0 cat --", root}, {},
            false, {}, std::nullopt, "/bin/sh");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, std::string(names.size(), 'x')) << piped.err;
    const auto full = run({root, "--NUL", "-o", "/dev/full"});
    EXPECT_EQ(full.status, 9) << full.err;
}

TEST(WalkControls, NulNamesFollowPruneDepthAndDiff) {
    TempTree t;
    make_tree(t);
    const std::string root = t.path("t");
    ASSERT_EQ(run({root, "--CSV", "-o", t.path("old.csv")}).status, 1);
    t.file("t/keep.txt", "changed");
    t.file("t/new.txt", "x");
    std::remove(t.path("t/a/c/x.txt").c_str());
    const auto result = run({root, "--NUL", "--DIFF=" + t.path("old.csv"), "--CHANGED",
                             "--PRUNE=node_modules", "--DEPTH=2"});
    EXPECT_EQ(result.status, 1) << result.err;
    // The removed file is counted, not named: it is no longer there.
    EXPECT_EQ(result.out,
              root + "/keep.txt" + std::string(1, '\0') + root + "/new.txt" + std::string(1, '\0'));
    EXPECT_NE(result.err.find("1 removed"), std::string::npos) << result.err;
}

}  // namespace
