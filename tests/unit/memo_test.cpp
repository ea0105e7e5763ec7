// The memo: the prompt and its blank-line rules, long lines, and where the
// memo ends up (the memo file, chosen or named, or the accounting log).
#include "driver/memo.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

const char* const prompt =
    "\n\n\nInput up to 2000 characters of your memo information now.\n"
    "End with two blank lines (carriage returns)\a\n\n\n";

struct Prompted {
    std::string memo;
    std::string err;
    std::size_t unread = 0;  // input lines left
};

Prompted prompt_with(std::deque<std::string> lines) {
    MemoryPlatform mp;
    mp.input_lines = std::move(lines);
    Prompted p;
    {
        filarix::Run run(mp);
        memo_prompt(run);
        run.std_err.flush();
        p.memo = run.memo_text;
    }
    p.err = mp.err_text;
    p.unread = mp.input_lines.size();
    return p;
}

TEST(Memo, PromptAndBlankLines) {
    const struct {
        std::deque<std::string> input;
        std::string memo;
        std::size_t unread;
    } cases[] = {
        {{"one", "two", "three", "", "four", "", "", "after"}, "one\ntwo\nthree\n\nfour\n\n", 1},
        {{}, "", 0},
        {{"", ""}, "\n", 0},
        {{"only"}, "only\n", 0},
        {{"a", "", "b", "", "c", "", ""}, "a\n\nb\n\nc\n\n", 0},
        // One character is a line of its own, not a blank one.
        {{"x", "", "", "y"}, "x\n\n", 1},
    };
    for (const auto& c : cases) {
        const Prompted p = prompt_with(c.input);
        EXPECT_EQ(p.memo, c.memo);
        EXPECT_EQ(p.unread, c.unread);
        EXPECT_EQ(p.err, prompt);
    }
}

TEST(Memo, InputEndsAfterTheLineThatCrossesTheLimit) {
    std::deque<std::string> lines(8, std::string(1000, 'm'));
    const Prompted p = prompt_with(lines);
    EXPECT_EQ(p.memo.size(), 5u * 1001u);
    EXPECT_EQ(p.unread, 3u);
}

TEST(Memo, ALongLineIsCutToTheLineBuffer) {
    // The cut line fills the memo to its limit; the next line crosses it.
    const Prompted plain = prompt_with({std::string(7000, 'x'), "next", "after"});
    EXPECT_TRUE(plain.memo == std::string(memo_line_limit, 'x') + "\nnext\n");
    EXPECT_EQ(plain.unread, 1u);

    // The cut never splits a UTF-8 character.
    const std::string e_acute = "\xC3\xA9";
    const Prompted utf8 =
        prompt_with({std::string(memo_line_limit - 1, 'x') + e_acute + "tail", "", ""});
    EXPECT_TRUE(utf8.memo == std::string(memo_line_limit - 1, 'x') + "\n\n");
}

// ----- whole runs -----

struct MemoRun {
    MemoryPlatform mp;
    RunResult result;

    void go(const std::string& ini, std::deque<std::string> input,
            std::vector<std::u16string> args = {u"prog"}) {
        mp.add_file(u"C:\\work\\data\\a.txt", "abc");
        mp.add_file(u"C:\\work\\FILARIX64.ini", ini);
        mp.input_lines = std::move(input);
        args.push_back(u"C:\\work\\data");
        result = run_in_memory(mp, args);
    }
    bool prompted() const { return result.err.find(prompt) != std::string::npos; }
};

TEST(Memo, TheMemoGoesToTheNamedFile) {
    MemoRun r;
    r.mp.add_file(u"C:\\work\\case12.txt", "earlier\n");
    r.go("MEMO=C:\\work\\case12.txt\n", {"Case 12", "Disk 3", "", ""});
    EXPECT_EQ(r.result.code, 1);
    EXPECT_TRUE(r.prompted());
    EXPECT_EQ(r.mp.contents(u"C:\\work\\case12.txt"), "earlier\n\nMEMO\nCase 12\nDisk 3\n\n");
}

TEST(Memo, TheDialogNamesTheFile) {
    MemoRun r;
    r.mp.chosen_file = u"C:\\work\\chosen.txt";
    r.go("MEMO\n", {"picked", "", ""});
    ASSERT_EQ(r.mp.dialogs.size(), 1u);
    EXPECT_EQ(r.mp.dialogs[0], platform::DialogKind::output_file);
    EXPECT_EQ(r.mp.contents(u"C:\\work\\chosen.txt"), "\nMEMO\npicked\n\n");
}

TEST(Memo, WithoutAMemoFileTheLogTakesTheMemo) {
    MemoRun r;
    r.go("ACCT=C:\\work\\run.log\nMEMO\n", {"in the log", "", ""});
    EXPECT_EQ(r.mp.dialogs.size(), 1u);  // cancelled
    EXPECT_TRUE(r.prompted());
    const auto log = r.mp.contents(u"C:\\work\\run.log");
    ASSERT_TRUE(log);
    const std::string tail =
        "*****************************************************\n\nMEMO\nin the log\n\n";
    ASSERT_GE(log->size(), tail.size());
    EXPECT_EQ(log->substr(log->size() - tail.size()), tail);
}

TEST(Memo, NoPromptWithoutAPlaceForTheMemo) {
    const struct { const char* ini; } cases[] = {{"MEMO\n"}, {"MEMO=OFF\n"}, {"CRC\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        MemoRun r;
        r.go(c.ini, {"never read"});
        EXPECT_FALSE(r.prompted());
        EXPECT_EQ(r.mp.input_lines.size(), 1u);
    }
}

TEST(Memo, AnEmptyMemoWritesNothing) {
    MemoRun r;
    r.go("MEMO=C:\\work\\memo.txt\n", {});
    EXPECT_TRUE(r.prompted());
    EXPECT_EQ(r.mp.contents(u"C:\\work\\memo.txt"), "");
}

TEST(Memo, AMemoFileThatCannotBeOpenedIsReportedAndTheLogTakesTheMemo) {
    MemoRun r;
    r.mp.add_file(u"C:\\work\\memo.txt", "", {.protect = true});
    r.go("ACCT=C:\\work\\run.log\nMEMO=C:\\work\\memo.txt\n", {"saved", "", ""});
    EXPECT_NE(r.result.out.find("\nCan't open memo file C:\\WORK\\MEMO.TXT\n"), std::string::npos);
    const auto log = r.mp.contents(u"C:\\work\\run.log");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("\nMEMO\nsaved\n\n"), std::string::npos);
}

}  // namespace
