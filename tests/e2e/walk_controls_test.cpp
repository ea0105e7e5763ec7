// End-to-end: the walk's controls: directories pruned by name or by path,
// a depth that still lists files, one file system, NUL-ended names.
#include <algorithm>

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

}  // namespace
