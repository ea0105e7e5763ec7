// The accounting log (its directory, the clean-up of a damaged end, one
// block per run, write failures) and the start banner.
#include "driver/accounting_log.hpp"

#include <gtest/gtest.h>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;
using namespace std::string_literals;

namespace {

const std::string kSeparator = "\n" + std::string(40, '*') + "\n";
const std::string kLastRow = std::string(53, '*') + "\n";

// Opens the log the way the settings sources do, and closes it again.
std::optional<std::string> open_and_close(MemoryPlatform& mp, std::u16string_view name) {
    filarix::Run run(mp);
    auto log = open_accounting_log(run, name);
    if (!log) return std::nullopt;
    log->close();
    return mp.contents(name);
}

std::function<void(filarix::Run&)> with_log(std::u16string name, bool acct = true) {
    return [name, acct](filarix::Run& run) {
        run.log = open_accounting_log(run, name);
        run.s.ACCT = acct;
    };
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(AccountingLog, MissingDirectoriesAreMadeLevelByLevel) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    ASSERT_TRUE(open_accounting_log(run, u"C:\\logs\\a\\b\\run.log"));
    run.std_out.flush();
    EXPECT_EQ(mp.out_text,
              "Creating (log\\error) directory:  C:\\logs\n"
              "Creating (log\\error) directory:  C:\\logs\\a\n"
              "Creating (log) directory:  C:\\logs\\a\\b\n");
    EXPECT_EQ(mp.slept_ms, 1000u);
    EXPECT_TRUE(mp.is_directory(u"C:\\logs\\a\\b"));
    EXPECT_EQ(mp.contents(u"C:\\logs\\a\\b\\run.log"), kSeparator);

    // A directory that exists, or no directory at all: nothing to make.
    for (const char16_t* name : {u"C:\\logs\\again.log", u"here.log", u"C:\\top.log"}) {
        MemoryPlatform quiet;
        quiet.add_dir(u"C:\\logs");
        filarix::Run other(quiet);
        EXPECT_TRUE(open_accounting_log(other, name));
        other.std_out.flush();
        EXPECT_EQ(quiet.out_text, "");
        EXPECT_EQ(quiet.slept_ms, 0u);
    }
}

TEST(AccountingLog, ADirectoryThatCannotBeMadeMeansNoLog) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\ro", {.protect = true});
    filarix::Run run(mp);
    EXPECT_FALSE(open_accounting_log(run, u"C:\\ro\\sub\\run.log"));
    run.std_out.flush();
    EXPECT_EQ(mp.out_text, "Can't open accounting file C:\\ro\\sub\\run.log\n");
    EXPECT_EQ(mp.slept_ms, 0u);
}

// Only a tail of nothing but zeros and Ctrl+Z is padding: a file with text
// after such bytes (a program named as the log) is kept whole.
TEST(AccountingLog, ADamagedEndLosesOnlyItsTrailingPadding) {
    const std::string big(100000, 'x');
    const struct {
        std::string before;
        std::string kept;
    } cases[] = {
        {"line one\nline two\n" + std::string(4, '\0'), "line one\nline two\n"},
        {"abcdefghij\x1a\x1a", "abcdefghij"},
        {"abcdef\x1agh\0ij"s, "abcdef\x1agh\0ij"s},
        {"abcdef\x1agh\0\x1a\0"s, "abcdef\x1agh"},
        {"123456789" + std::string(1, '\0'), "123456789"},  // exactly 10 bytes
        {std::string(1, '\0') + "abcdefghijk", std::string(1, '\0') + "abcdefghijk"},
        {"abc\x1a", "abc\x1a"},                        // shorter than 10: never cut
        {std::string(9, '\0'), std::string(9, '\0')},  // likewise
        {"no damage at all\n", "no damage at all\n"},
        {big + std::string(1, '\0') + "tail", big + std::string(1, '\0') + "tail"},
        {"ab" + std::string(70000, '\0') + big, "ab" + std::string(70000, '\0') + big},
        {big + std::string(70000, '\0'), big},  // padding across blocks
        {"", ""},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\run.log", c.before);
        EXPECT_EQ(open_and_close(mp, u"C:\\run.log"), c.kept + kSeparator)
            << c.before.substr(0, 20);
    }
    MemoryPlatform fresh;
    EXPECT_EQ(open_and_close(fresh, u"C:\\new.log"), kSeparator);
}

TEST(AccountingLog, EachRunAppendsOneBlock) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\f.txt", "12");
    mp.add_dir(u"C:\\logs");
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(run_in_memory(mp, {u"filarix64", u"C:\\d"}, with_log(u"C:\\logs\\run.log")).code,
                  1);
    const std::string text = *mp.contents(u"C:\\logs\\run.log");
    // The clock stands still, so both blocks are the same.
    ASSERT_EQ(text.size() % 2, 0u);
    const std::string block = text.substr(0, text.size() / 2);
    EXPECT_EQ(text.substr(text.size() / 2), block);
    const std::string head = kSeparator + " C:\\TOOLS\\FILARIX64.EXE C:\\d\n" +
                             " Initial directory: C:\\d\n" +
                             "\n Program termination. Reason: NORMAL_EXIT";
    EXPECT_EQ(block.substr(0, head.size()), head);
    EXPECT_NE(block.find("\n Number of files processed:         1"), std::string::npos);
    EXPECT_NE(block.find("\n\n  Finished: Sun Jan 14 10:42:16 2024\n"), std::string::npos);
    EXPECT_TRUE(block.ends_with("\n" + kLastRow)) << block;
    EXPECT_EQ(count_of(text, kLastRow), 2u);
    // With the log option the log carries no banner, and neither does the console.
    EXPECT_EQ(text.find("Started"), std::string::npos);
}

class Banner : public ::testing::Test {
protected:
    void SetUp() override {
        mp.add_file(u"C:\\d\\f.txt", "1");
        mp.add_dir(u"C:\\out");
    }
    RunResult run(const std::function<void(filarix::Run&)>& adjust = {}) {
        return run_in_memory(mp, {u"filarix64", u"C:\\d"}, adjust);
    }
    MemoryPlatform mp;
};

TEST_F(Banner, ZoneFormsOnTheStandardOutput) {
    const struct {
        platform::ZoneInfo zone;
        const char* banner;
    } cases[] = {
        {{"Eastern Standard Time", "", 18000, false},
         "Sun Jan 14 15:42:16 2024 GMT, 10:42 Eastern Standard Time (EST/:5)"},
        // The daylight name is shortened but keeps its case; GMT is an hour earlier.
        // Greenwich time is UTC itself, daylight time or not.
        {{"Central Standard Time", "central daylight time", 21600, true},
         "Sun Jan 14 15:42:16 2024 GMT, 09:42 Central Standard Time (CST/cdt:6*)"},
        {{"W. Europe Standard Time", "", -3600, false},
         "Sun Jan 14 15:42:16 2024 GMT, 16:42 W. Europe Standard Time (WES/:-1)"},
        {{"UTC", "", 0, false}, "Sun Jan 14 15:42:16 2024 GMT, 15:42 UTC (UTC/:0)"},
        {{"", "", 0, false}, "Sun Jan 14 15:42:16 2024 15:42  (/:0)"},
        // A daylight flag without a daylight name counts as none.
        {{"EST", "", 18000, true}, "Sun Jan 14 15:42:16 2024 GMT, 10:42 EST (EST/:5)"},
    };
    for (const auto& c : cases) {
        mp.zone_info = c.zone;
        const RunResult r = run();
        EXPECT_EQ(r.out, std::string("\nStarted ") + c.banner + "\n\n\n") << c.zone.standard_name;
    }
}

TEST_F(Banner, ListingFileGetsTheCommandLine) {
    run([](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
    });
    EXPECT_EQ(
        mp.contents(u"C:\\out\\list.txt")
            ->rfind("\nStarted Sun Jan 14 15:42:16 2024 GMT, 10:42 Eastern Standard Time (EST/:5)\n"
                    "COMMAND LINE:  C:\\TOOLS\\FILARIX64.EXE C:\\d \n\n  PATH",
                    0),
        0u);
}

TEST_F(Banner, NoneWhenSilentOrWithTheLogOption) {
    EXPECT_EQ(run([](filarix::Run& run) { run.s.SILENT = 1; }).out, "");
    EXPECT_EQ(run(with_log(u"C:\\out\\run.log")).out, "");
    EXPECT_EQ(mp.contents(u"C:\\out\\run.log")->find("Started"), std::string::npos);
}

TEST_F(Banner, ALogFromTheEnvironmentGetsItsOwnForm) {
    const struct {
        std::string zone;
        std::string started;
    } cases[] = {
        {"Eastern Standard Time",
         "\nStarted Sun Jan 14 15:42:16 2024 GMT, 10:42 Eastern Standard Time (EST/:5)\n"},
        {"", "\nStarted Sun Jan 14 10:42:16 2024 Local Time: \n"},
    };
    for (const auto& c : cases) {
        mp.zone_info.standard_name = c.zone;
        mp.remove(u"C:\\out\\env.log");
        run(with_log(u"C:\\out\\env.log", false));
        const std::string expected = kSeparator + " C:\\TOOLS\\FILARIX64.EXE C:\\d\n" + c.started +
                                     "C:\\TOOLS\\FILARIX64.EXE C:\\d \n" +
                                     " Initial directory: C:\\d\n";
        EXPECT_EQ(mp.contents(u"C:\\out\\env.log")->substr(0, expected.size()), expected);
    }
}

TEST(AccountingLogFaults, ALogThatCannotBeOpenedForTheCleanUpEndsWithOutputFile) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\f.txt", "1");
    mp.add_file(u"C:\\logs\\run.log", "old block\n", {.protect = true});
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\d"}, with_log(u"C:\\logs\\run.log"));
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err.find("\nGeneric_64\n"), 0u) << r.err;
    EXPECT_NE(r.err.find("\nerror opening C:\\logs\\run.log\n"), std::string::npos);
    EXPECT_NE(r.err.find("Exit Status: OUTPUT_FILE"), std::string::npos);
    EXPECT_EQ(r.err.find("f.txt"), std::string::npos) << "nothing listed";
    EXPECT_EQ(mp.contents(u"C:\\logs\\run.log"), "old block\n");
}

TEST(AccountingLogFaults, ALogThatCannotBeAppendedToIsLeftOut) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\f.txt", "1");
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::open_text);
    const RunResult r =
        run_in_memory(mp, faulty, {u"filarix64", u"C:\\d"}, with_log(u"C:\\run.log"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Can't open accounting file C:\\run.log\n"), std::string::npos);
    EXPECT_EQ(mp.contents(u"C:\\run.log"), "");  // made for the clean-up, then left
}

TEST(AccountingLogFaults, AFailedLogWriteEndsWithWriteErrorNamingTheLog) {
    using Kind = FaultyPlatform::Kind;
    // The log is the only file, so its final close is the first write and
    // the first close of the run.
    for (const Kind kind : {Kind::write, Kind::close}) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\f.txt", "1");
        FaultyPlatform faulty(mp);
        faulty.fail(kind);
        const RunResult r =
            run_in_memory(mp, faulty, {u"filarix64", u"C:\\d"}, with_log(u"C:\\run.log"));
        EXPECT_EQ(r.code, 9);
        EXPECT_EQ(count_of(r.err, "Error writing"), 1u) << r.err;
        EXPECT_NE(r.err.find("\nError writing the accounting log C:\\run.log\n"),
                  std::string::npos);
        EXPECT_NE(r.err.find("\n  0 directories, 1 files, 1 bytes, 0.00 MB"), std::string::npos);
        EXPECT_TRUE(r.err.ends_with("\nExit Status: WRITE_ERROR\n\n")) << r.err;
    }

    // A log that fills its buffer during the walk fails there; the run ends
    // at the next record, and the records before it stay.
    MemoryPlatform mp;
    for (int i = 0; i < 2500; ++i)
        mp.add_symlink_dir(u"C:\\d\\link" + platform::widen(std::to_string(i)));
    mp.add_file(u"C:\\d\\f.txt", "1");
    mp.add_file(u"C:\\d\\g.txt", "1");
    FaultyPlatform faulty(mp);
    faulty.fail(Kind::write);
    const RunResult r =
        run_in_memory(mp, faulty, {u"filarix64", u"C:\\d"}, with_log(u"C:\\run.log"));
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(count_of(r.err, "Error writing"), 1u) << r.err.substr(0, 500);
    EXPECT_NE(r.err.find("\nError writing the accounting log C:\\run.log\n"), std::string::npos);
    EXPECT_NE(r.err.find("C:\\d\\f.txt"), std::string::npos);
    EXPECT_EQ(r.err.find("C:\\d\\g.txt"), std::string::npos) << "the walk stopped there";
}

}  // namespace
