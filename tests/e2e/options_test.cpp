// End-to-end: the short options of the real binary, their messages and
// exit statuses.
#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(Options, RefusedCommandLinesEndWithReasonSix) {
    TempTree t;
    t.file("a.txt", "a");
    std::vector<std::string> many_masks{t.root(), "-x"};
    for (int i = 1; i <= 81; ++i) many_masks.push_back("*.e" + std::to_string(i));
    const struct {
        std::vector<std::string> args;
        std::string out;  // standard output begins with this
        std::string err;  // standard error begins with this
    } cases[] = {
        {{t.root(), "-c", "data"},
         "\nThere appears to be an extra or eroneous item \"data\"\n"
         "at the end of the command line\nPlease check your syntax, and correct to problem.\n",
         ""},
        {{t.root(), "-cK"}, "\nIllegal option K\n", ""},
        {{t.root(), "-A"}, "", "\n-A option needs a modifier [rhms]\n"},
        {{t.root(), "-G", "2023-01-01"},
         "\n\nCheck your option -G format. \n"
         "You included a seperator which only pertains to date formats in options\n",
         ""},
        {many_masks, "\nYou have too many -eXclude file types.\nMax exclude types is 80\n", ""},
        // Masks name files; on POSIX the separator that gives a path away is "/".
        {{t.root(), "-f", "*.c", "sub/x.c"}, "", "Can't have a / in the file type option\n"},
        {{t.root(), "-w"}, "", ""},
        {{t.root(), "-y"}, "", ""},
        {{t.root(), "-e"}, "", "-[eE] option requres a command to follow it\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const auto result = run(c.args, t.root());
        EXPECT_EQ(result.status, 6);
        EXPECT_TRUE(starts_with(result.out, c.out)) << result.out;
        EXPECT_TRUE(starts_with(result.err, c.err)) << result.err;
    }
}

TEST(Options, NoticeEndsAtOnceWithoutSummary) {
    TempTree t;
    const auto result = run({"-@"}, t.root());
    EXPECT_EQ(result.status, 6);
    EXPECT_NE(result.out.find("Permission is hereby granted"), std::string::npos);
    EXPECT_EQ(result.err, "");
}

TEST(Options, OutputIntoAMissingDirectoryEndsWithReasonFour) {
    TempTree t;
    t.file("a.txt", "a");
    const std::string out = t.path("no/such/dir/list.txt");
    const auto result = run({t.root(), "-o", out}, t.root());
    EXPECT_EQ(result.status, 4);
    EXPECT_NE(result.err.find("can't create output file " + out), std::string::npos) << result.err;
}

TEST(Options, SeveralOptionsTogether) {
    TempTree t;
    t.file("a.txt", "alpha");
    t.file("b.txt", "bravo");
    t.file("c.dat", "charlie");
    t.file("sub/d.txt", "delta");
    const std::string out = t.path("list.lst");
    const auto result = run(
        {t.root(), "-.ini", "-r", "-f", "*.txt", "-x", "B*", "-c5s", "-w80", "-o", out}, t.root());
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    const std::string listing = read_file(out);
    EXPECT_NE(listing.find(t.path("a.txt")), std::string::npos) << listing;
    EXPECT_EQ(listing.find("b.txt"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("c.dat"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("d.txt"), std::string::npos) << listing;  // -r: no recursion
}

}  // namespace
