// End-to-end: long options and environment variables on the real binary.
#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(LongOptions, WordsAndTheEnvironmentTogether) {
    TempTree t;
    t.file("top.txt", "top");
    t.file("sub/deep.txt", "deep");
    const std::string list = t.path("list.txt");
    const std::string log = t.path("acct.log");
    const std::vector<std::string> env{"RECURSE=OFF", "ACCT=" + log};

    // The environment turns recursion off and opens the log.
    auto result =
        run({t.root(), "-.ini", "--CRC", "--zulu", "--output=" + list}, t.root(), false, env);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    std::string listing = read_file(list);
    EXPECT_NE(listing.find("top.txt"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("deep.txt"), std::string::npos) << listing;
    EXPECT_TRUE(ends_with(result.err, "\nENVIRONMENT PROCESSED\n")) << result.err;
    const std::string log_text = read_file(log);
    EXPECT_NE(log_text.find("An environment variable found and used"), std::string::npos)
        << log_text;

    // A long option on the command line overrides the environment.
    result = run({t.root(), "-.ini", "--recurse=ON", "--Output=" + list}, t.root(), false, env);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    listing = read_file(list);
    EXPECT_NE(listing.find("deep.txt"), std::string::npos) << listing;
}

TEST(LongOptions, MalformedValuesEndWithReasonSix) {
    TempTree t;
    t.file("a.txt", "a");
    const struct {
        std::string option;
        std::string out;  // standard output begins with this
    } cases[] = {
        {"--recurse=maybe", "\nIllegal option: recurse=maybe"},
        {"--width", "\nIllegal option: width"},
        {"--greater=1-2", "\n\n  Check your option --greater=nnn  format. \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const auto result = run({t.root(), "-.ini", c.option}, t.root());
        EXPECT_EQ(result.status, 6);
        EXPECT_EQ(result.out.substr(0, c.out.size()), c.out);
    }
    const auto missing = run({t.root(), "-.ini", "--source=" + t.path("nothing.txt")}, t.root());
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.out, "\nCannot find/open " + t.path("nothing.txt"));
    EXPECT_EQ(missing.err, "");
}

}  // namespace

namespace {

// The settings sources in their order, end to end: the environment, then
// the INI file in the working directory, then the command line, each
// overriding the one before.
TEST(SettingsSources, EachSourceOverridesTheOneBefore) {
    struct Case {
        const char* what;
        std::vector<std::string> env;
        const char* ini;  // null: no INI file
        std::vector<std::string> options;
        bool recursed;
    };
    const Case cases[] = {
        {"environment alone", {"RECURSE=OFF"}, nullptr, {}, false},
        {"INI over environment", {"RECURSE=OFF"}, "RECURSE=ON\n", {}, true},
        {"INI over environment, off", {"RECURSE=ON"}, "RECURSE=OFF\n", {}, false},
        {"command line over both", {"RECURSE=ON"}, "RECURSE=OFF\n", {"+r"}, true},
        {"-r toggles what the INI file left", {}, "RECURSE=OFF\n", {"-r"}, true},
        {"-.ini leaves the environment in force",
         {"RECURSE=OFF"},
         "RECURSE=ON\n",
         {"-.ini"},
         false},
    };
    for (const auto& c : cases) {
        TempTree t;
        t.file("tree/top.txt", "top");
        t.file("tree/sub/deep.txt", "deep");
        const std::string work = t.dir("work");
        if (c.ini) std::ofstream(work + "/filarix64.ini") << c.ini;
        std::vector<std::string> args{t.path("tree")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = run(args, work, false, c.env);
        EXPECT_EQ(result.status, 1) << c.what << "\n" << result.err;
        EXPECT_EQ(result.err.find("deep.txt") != std::string::npos, c.recursed) << c.what << "\n"
                                                                                << result.err;
        // The console ends with the INI block, then the environment line.
        if (c.ini && !c.env.empty() && c.options != std::vector<std::string>{"-.ini"}) {
            std::string line = c.ini;
            line.pop_back();
            const std::string tail =
                "\n ----- INI FILE PROCESSED -----\n\n " + line + "\n\nENVIRONMENT PROCESSED\n";
            EXPECT_TRUE(ends_with(result.err, tail)) << c.what << "\n" << result.err;
        }
    }
}

}  // namespace
