// The real binary against names and arguments built to break a listing.
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

using e2e::record;
using e2e::run;
using e2e::TempTree;

TEST(HostileInput, NamesCannotForgeLinesOrSteerTheTerminal) {
    TempTree t;
    t.file("a\nfake record\x1b[2J\r\x07.txt", "x");
    t.file("ok.txt", "y");
    const auto result = run({t.root()});
    EXPECT_EQ(result.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    EXPECT_EQ(e2e::records(result.err),
              (std::vector<std::string>{record(t.root() + "/a?fake record?[2J??.txt", 1),
                                        record(t.root() + "/ok.txt", 1)}));
}

TEST(HostileInput, BareFileArgumentsAndMissingPaths) {
    TempTree t;
    t.file("d/a.txt", "x");
    t.file("d/b.txt", "y");
    const auto one = run({t.path("d/a.txt")});
    EXPECT_EQ(e2e::records(one.err), (std::vector<std::string>{record(t.path("d/a.txt"), 1)}));
    const auto missing = run({t.path("nothere")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("Cannot find/open " + t.path("nothere")), std::string::npos);
    // Named, and the start paths that exist are still listed.
    const std::string named = "\nCannot find/open " + t.path("nothere") + "\n";
    const auto mixed = run({t.path("nothere"), t.path("d")});
    EXPECT_EQ(mixed.status, 1);
    ASSERT_EQ(mixed.err.substr(0, named.size()), named);
    EXPECT_EQ(
        e2e::records(mixed.err.substr(named.size())),
        (std::vector<std::string>{record(t.path("d/a.txt"), 1), record(t.path("d/b.txt"), 1)}));
    // The last-access report sends no one to a Windows registry.
    const auto gone = run({"-p", t.path("gone/x.txt")});
    EXPECT_EQ((gone.out + gone.err).find("HKEY_LOCAL_MACHINE"), std::string::npos);
}

TEST(HostileInput, DriveLetterOptionLeavesPosixPathsAlone) {
    TempTree t;
    t.file("a.txt", "x");
    const auto result = run({t.root(), "--DRI=X"});
    EXPECT_EQ(e2e::records(result.err), (std::vector<std::string>{record(t.path("a.txt"), 1)}));
}

TEST(HostileInput, AStartPathOfManyComponentsIsAnsweredPromptly) {
    TempTree t;
    t.file("a.txt", "x");
    std::string deep = t.root();
    for (int i = 0; i < 64000; ++i) deep += "/x";
    // The support gives up on a binary that stays silent for 10 s.
    const auto result = run({"-p", deep + "/a.txt"});
    EXPECT_NE(result.status, 128 + 9);
    EXPECT_NE(result.status, -1);
}

}  // namespace
