// End-to-end: the memo typed on standard input lands in the memo file, and
// an INI file beside the program (or in the working directory) is applied.
#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(MemoEndToEnd, PipedAnswerLandsInTheMemoFile) {
    TempTree t;
    t.file("work/a.txt", "abc");
    // The name keeps its case: the INI line is upper-cased only to be read.
    t.file("work/filarix64.ini", "memo=Case12.txt\n");
    const auto result =
        run({}, t.path("work"), false, {}, std::string("Case 12\nDisk 3\n\n\nunread\n"));
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("\n\n\nInput up to 2000 characters of your memo information now.\n"
                              "End with two blank lines (carriage returns)\a\n\n\n"),
              std::string::npos);
    EXPECT_EQ(read_file(t.path("work/Case12.txt")), "\nMEMO\nCase 12\nDisk 3\n\n");
}

TEST(MemoEndToEnd, WithoutATerminalTheDialogIsCancelledAndTheLogTakesTheMemo) {
    TempTree t;
    t.file("work/a.txt", "abc");
    t.file("work/filarix64.ini", "ACCT=" + t.path("run.log") + "\nMEMO\n");
    const auto result = run({}, t.path("work"), false, {}, std::string("for the log\n\n\n"));
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(ends_with(read_file(t.path("run.log")),
                          "*****************************************************\n"
                          "\nMEMO\nfor the log\n\n"));
}

TEST(IniEndToEnd, TheFileBesideACopyOfTheProgramIsApplied) {
    const struct {
        const char* file;
        const char* before;  // lines ahead of the settings
    } cases[] = {
        {"catalog.ini", ""},
        {"QUORVANE.INI", "[OTHER]\nCRC\n[Catalog]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TempTree t;
        t.file("Data/top.txt", "top");
        t.file("Data/Sub/deep.txt", "deep");
        t.dir("elsewhere");
        const std::string program = t.path("bin/catalog");
        std::filesystem::create_directories(t.path("bin"));
        std::filesystem::copy_file(FILARIX_BINARY, program);
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        t.file(std::string("bin/") + c.file,
               std::string(c.before) + "recurse=off\nPATH=" + t.path("Data") + "\n");

        const auto result = run({}, t.path("elsewhere"), false, {}, std::nullopt, program);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find("top.txt"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("deep.txt"), std::string::npos) << result.err;
        EXPECT_TRUE(
            ends_with(result.err, "\n ----- INI FILE PROCESSED -----\n\n RECURSE=OFF\n PATH=" +
                                      upper(t.path("Data")) + "\n"))
            << result.err;
    }
}

}  // namespace
