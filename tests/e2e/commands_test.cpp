// End-to-end: per-file commands receive every name as one literal argument;
// console pauses and help screens answer keys typed on a terminal.

#include <algorithm>
#include <set>

#include "e2e_support.hpp"

namespace {

// Names that a shell or cmd would read as syntax, that a program would
// take for an option, or that hold the private-use character U+E000.
const std::vector<std::string> kHostileNames = {
    "a'b\"c",
    "$(touch pwned)",
    "`touch pwned`",
    "x;touch pwned",
    "y&touch pwned",
    "z|touch pwned",
    "p%HOME%q",
    "n\nl",
    "two  blanks",
    "--version",
    "-",
    "\xEE\x80\x80.txt",
    "-PATH",
    "\xEE\x80\x80-PATH",
};
const std::string kHostileDirectory = "d $(touch pwned);'&%PATH%\xEE\x80\x80 -PATH";

// A bare name as the program gets it: one beginning with "-" as "./-...".
std::string bare(const std::string& name) {
    return name.front() == '-' ? "./" + name : name;
}

// Each record of the recorder: its arguments, NUL-terminated, then a newline.
std::multiset<std::vector<std::string>> calls(const std::string& text) {
    std::multiset<std::vector<std::string>> out;
    std::vector<std::string> args;
    std::string word;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0') {
            args.push_back(word);
            word.clear();
        } else if (text[i] == '\n' && word.empty()) {
            out.insert(args);
            args.clear();
        } else {
            word += text[i];
        }
    }
    return out;
}

TEST(Commands, EveryNameReachesTheProgramAsOneLiteralArgument) {
    e2e::TempTree tools;
    const std::string log = tools.path("received");
    const std::string recorder = tools.file(
        "rec", "#!/bin/sh\nprintf '%s\\0' \"$@\" >> \"$REC\"\nprintf '\\n' >> \"$REC\"\n");
    tools.mode("rec", 0755);
    e2e::TempTree t;
    const std::string dir = t.dir(kHostileDirectory);
    for (const auto& name : kHostileNames) t.file(kHostileDirectory + "/" + name, "x");

    using Args = std::vector<std::string>;
    struct Row {
        std::string option, command;
        std::function<Args(const std::string& name)> expected;
    };
    const std::vector<Row> rows = {
        {"-e", recorder + " %", [&](const std::string& n) { return Args{dir + "/" + n}; }},
        {"-E", recorder + " %", [&](const std::string& n) { return Args{bare(n)}; }},
        {"-E", recorder + " before % after",
         [&](const std::string& n) {
             return Args{"before", bare(n), "after"};
         }},
        {"-E", recorder, [&](const std::string& n) { return Args{bare(n)}; }},
        {"-eP", recorder + " -PATH %",
         [&](const std::string& n) {
             return Args{dir, dir + "/" + n};
         }},
        // Through the interpreter: a chain of commands, then a change of
        // directory whose effect the recorder sees.
        {"-E", recorder + " % && true", [&](const std::string& n) { return Args{bare(n)}; }},
        {"-EP", "cd -PATH && " + recorder + " \"$PWD\" %",
         [&](const std::string& n) {
             return Args{dir, bare(n)};
         }},
        {"-E", recorder + " % > /dev/null", [&](const std::string& n) { return Args{bare(n)}; }},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(log);
        const auto result =
            e2e::run({dir, row.option, row.command}, t.root(), false, {"REC=" + log});
        EXPECT_EQ(result.status, 1) << row.option << " " << row.command << result.err;
        std::multiset<Args> expected;
        for (const auto& name : kHostileNames) expected.insert(row.expected(name));
        std::string received;
        if (std::ifstream in(log, std::ios::binary); in)
            received.assign(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(calls(received), expected) << row.option << " " << row.command;
        EXPECT_FALSE(std::filesystem::exists(t.path("pwned"))) << row.command;
        EXPECT_FALSE(std::filesystem::exists(dir + "/pwned")) << row.command;
    }
}

TEST(Commands, AProgramThatCannotStartIsNamedOnceAndTheRunGoesOn) {
    e2e::TempTree t;
    const std::string not_executable = t.file("tool/not-executable", "#!/bin/sh\n");
    t.file("files/a", "x");
    t.file("files/b", "y");
    const auto result = e2e::run({t.path("files"), "-e", not_executable + " %"});
    EXPECT_EQ(result.status, 1);
    const std::string message = "\ncould not start the command " + not_executable + "\n";
    const auto first = result.err.find(message);
    EXPECT_NE(first, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(message, first + 1), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("/files/b"), std::string::npos);
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Paging, AConsoleListingPausesEveryTwelveWideRecords) {
    e2e::TempTree t;
    for (int i = 0; i < 30; ++i) t.file("files/f" + std::to_string(100 + i), "x");
    struct Row {
        char key;
        int status;
        const char* ending;
    };
    for (const Row row : {Row{'x', 2, "USER_ABORTED"}, Row{'\x1b', 2, "USER_ABORTED"},
                          Row{' ', 1, " 30 files, "}}) {
        e2e::Terminal term({t.path("files"), "-P"});
        ASSERT_TRUE(term.wait_for("HIT RETURN to CONTINUE")) << term.output;
        const std::string before = term.output.substr(0, term.output.find("HIT RETURN"));
        // Records are 107 characters wide, two console lines each: 12 a page.
        EXPECT_EQ(count_of(before, "/files/f1"), 12) << before;
        EXPECT_EQ(term.output.find("HIT RETURN"), term.output.rfind("HIT RETURN"));
        term.type(row.key);
        if (row.key == ' ') {
            ASSERT_TRUE(term.wait_for("HIT RETURN to CONTINUE", 2)) << term.output;
            term.type('\r');
        }
        EXPECT_EQ(term.finish(), row.status) << term.output;
        EXPECT_NE(term.output.find(row.ending), std::string::npos) << term.output;
        if (row.key == ' ') {
            EXPECT_EQ(count_of(term.output, "/files/f1"), 30);
            EXPECT_NE(term.output.find(std::string(75, '\b') + std::string(75, ' ')),
                      std::string::npos);
        }
    }
}

TEST(Help, ScreensWaitForAKeyAndXEndsWithSix) {
    e2e::Terminal term({"-?"});
    ASSERT_TRUE(term.wait_for("RETURN TO CONTINUE, ^C or x==exit")) << term.output;
    EXPECT_NE(term.output.find("FILARIX64"), std::string::npos);
    EXPECT_NE(term.output.find("-p paths"), std::string::npos);
    term.type('\r');
    ASSERT_TRUE(term.wait_for("RETURN TO CONTINUE, ^C or x==exit", 2)) << term.output;
    term.type('x');
    EXPECT_EQ(term.finish(), 6);
    EXPECT_EQ(term.output.find("last updated"), std::string::npos);
}

TEST(Help, WithoutAKeyboardEveryScreenIsOneText) {
    struct Row {
        std::vector<std::string> args;
        int status;
        bool on_out;  // asked-for help follows standard output away from the console
        std::string shown;
    };
    for (const auto& row : {Row{{"-?"}, 6, true, "-p paths"},
                            Row{{"--help"},
                                0,
                                true,
                                "-S:             DO NOT show Alternate Data Streams (ADS). "
                                "Default = to show.[STREAM=[ON|OFF]]\n"},
                            Row{{"-S", "--help"},
                                0,
                                true,
                                "-S:             show Alternate Data Streams (ADS). "
                                "Default = DON'T show.[STREAM=[ON|OFF]]\n"},
                            // Help that comes with an option fault stays with the messages.
                            Row{{"-x", "-r"}, 6, false, "-x masks"}}) {
        const auto result = e2e::run(row.args, {}, false, {}, std::string());
        const std::string& help = row.on_out ? result.out : result.err;
        EXPECT_EQ(result.status, row.status) << row.args[0];
        EXPECT_NE(help.find("Ver. "), std::string::npos);
        EXPECT_NE(help.find(row.shown), std::string::npos) << help;
        EXPECT_NE(help.find("These are local options for the FILARIX program"), std::string::npos);
        EXPECT_NE(help.find("last updated"), std::string::npos) << help;
        EXPECT_EQ(help.find("RETURN TO CONTINUE"), std::string::npos);
        // No blank lines to clear a screen: the banner comes first, and no
        // more than two empty lines stand together anywhere.
        EXPECT_EQ(help.find_first_not_of(' '), help.find('\xE2')) << help.substr(0, 200);
        EXPECT_EQ(help.find("\n\n\n\n"), std::string::npos) << help;
        if (row.on_out) {
            EXPECT_EQ(result.err.find("Ver. "), std::string::npos);
        }
    }
}

}  // namespace
