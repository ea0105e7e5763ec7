// Start-up, start paths, the command line so far, and the end of a run:
// the summaries, the exit reasons and the re-entry guard.
#include "driver/driver.hpp"

#include <gtest/gtest.h>

#include "driver/accounting_log.hpp"
#include "driver/last_access.hpp"
#include "driver/parse_action_performer.hpp"
#include "driver/termination.hpp"
#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "options/start_paths.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

std::string narrow_list(const std::vector<std::u16string>& list) {
    std::string out;
    for (const auto& item : list) {
        for (char16_t c : item) out.push_back(static_cast<char>(c));
        out.push_back('|');
    }
    return out;
}

TEST(StartPaths, StoredWithThePrefixAndWithoutDuplicates) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\Work");
    filarix::Run run(mp);
    give_sources_lookups(run);
    add_start_path(run, u"c:\\Work");
    add_start_path(run, u"C:\\WORK\\");
    add_start_path(run, u"\\\\SERVER\\SHARE\\dir");
    add_start_path(run, u"C:\\");
    add_start_path(run, u"sub\\..\\other");  // relative to C:\work
    add_start_path(run, u"\\\\?\\D:\\already");
    EXPECT_EQ(narrow_list(run.s.root_list),
              "\\\\?\\c:\\Work|\\\\SERVER\\SHARE\\dir|\\\\?\\C:|\\\\?\\C:\\work\\other|\\\\?\\D:"
              "\\already|");
}

TEST(StartPaths, PathArgumentsSplitIntoDirectoryAndMask) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\notes.txt", "n");
    filarix::Run run(mp);
    give_sources_lookups(run);
    add_path_argument(run, u"c:\\work\\*.txt");
    add_path_argument(run, u"c:\\work\\notes.txt");
    add_path_argument(run, u"c:\\work\\missing");
    add_path_argument(run, u"C:\\work");
    add_path_argument(run, u"C:\\top.c");
    EXPECT_EQ(narrow_list(run.s.root_list), "\\\\?\\c:\\work|\\\\?\\C:|");
    EXPECT_EQ(narrow_list(run.s.filetype_list), "*.txt|notes.txt|missing|top.c|");
}

TEST(StartPaths, MasksAreKeptExactlyOnce) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    for (const char16_t* mask : {u"*.*", u"*.*", u"*.C", u"*.c"}) add_mask(run, mask);
    EXPECT_EQ(narrow_list(run.s.filetype_list), "*.*|*.C|*.c|");
    for (int i = 0; i < 100; ++i) add_mask(run, u"m" + platform::widen(std::to_string(i)));
    EXPECT_EQ(run.s.filetype_list.size(), 79u);
}

TEST(StartPaths, CommandProgramIsResolvedOnTheSearchPath) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\Windows\\notepad.exe", "MZ");
    mp.search_dirs = {u"C:\\Windows"};
    filarix::Run run(mp);
    give_sources_lookups(run);
    EXPECT_EQ(resolve_command_program(run, u"notepad %"), u"C:\\Windows\\notepad.exe %");
    EXPECT_EQ(run.s.command_program_length, 22u);
    EXPECT_EQ(resolve_command_program(run, u"C:\\x\\prog.exe a b"), u"C:\\x\\prog.exe a b");
    EXPECT_EQ(resolve_command_program(run, u"dir %"), u"dir %");
    EXPECT_EQ(run.s.command_program_length, 3u);
}

TEST(Environment, OnMeansTheLettersOnAnywhere) {
    MemoryPlatform mp;
    const struct {
        const char16_t* value;
        bool on;
    } cases[] = {{u"on", true},   {u"ON", true}, {u"yes on", true}, {u"monday", true},
                 {u"off", false}, {u"", false},  {u"1", false}};
    for (const auto& c : cases) {
        mp.env[u"RESET"] = c.value;
        EXPECT_EQ(env_is_on(mp, u"reset"), c.on);
    }
    mp.env.clear();
    EXPECT_FALSE(env_is_on(mp, u"RESET"));
}

TEST(ZoneAbbreviation, FromTheStandardZoneName) {
    MemoryPlatform mp;
    const struct {
        const char* name;
        const char* abbreviation;
    } cases[] = {{"Eastern Standard Time", "EST"},
                 {"W. Europe Standard Time", "WES"},
                 {"cet", "CET"},
                 {"UTC", "UTC"},
                 {"GMTX", "GMT"},
                 {"Z", "Z"},
                 {"", "TZ0"},
                 {"a b", "AB"}};
    for (const auto& c : cases) {
        mp.zone_info.standard_name = c.name;
        filarix::Run run(mp);
        give_sources_lookups(run);
        EXPECT_EQ(zone_abbreviation(run.sys), c.abbreviation) << c.name;
    }
}

TEST(LastAccessReport, OneTextPerValue) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    OutStream& out = run.std_err;
    const struct {
        std::uint32_t value;
        const char* text;
    } cases[] = {
        {0, "  Last Access Date UPDATE is: turned ON\n"},
        {0x80000000u, "  Last Access Date UPDATE is: turned ON\n"},
        {1, "  Last Access Date UPDATE is: turned ***** OFF *****\n"},
        {2, "  Last Access Date UPDATE is: "},
        {0xFFFFFFFFu,
         "  Last Access Date UPDATE is: \"Disable Access Date Key\" Not Found\nDefault (except "
         "VISTA) is usually RESET ACCESS DATE\n\nTo confirm setting check registry key:\n"
         "HKEY_LOCAL_MACHINE\nSYSTEM\\CurrentControlSet\\Control\\FileSystem\\"
         "NtfsDisableLastAccessUpdate\nA 1 means access data will NOT be updated"},
    };
    for (const auto& c : cases) {
        mp.err_text.clear();
        mp.out_text.clear();
        run.last_access_value = c.value;
        report_last_access(run.syntax, run.last_access_value, out, run.std_out);
        out.flush();
        run.std_out.flush();
        EXPECT_EQ(mp.err_text, c.text);
        EXPECT_EQ(mp.out_text, c.value == 2 ? "\nerror in obtaining registry key\n" : "");
    }
}

class Ending : public ::testing::Test {
protected:
    void SetUp() override { mp.add_file(u"C:\\work\\one.txt", "1234"); }
    MemoryPlatform mp;
};

TEST_F(Ending, ConsoleSummaryOfANormalRun) {
    mp.add_volume(u"C:", {.free_bytes = 1234567890, .last_access = 1});
    mp.add_file(u"C:\\work\\sub\\two.txt", "12");
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\work"});
    EXPECT_EQ(r.code, 1);
    const std::size_t start = r.err.find("\n  1 directory");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(r.err.substr(start),
              "\n  1 directory, 2 files, 6 bytes, 0.00 MB"
              "\n  Drive Freespace 1,234,567,890"
              "\n  Elapsed:  0 hrs. 0 mins. 0 secs.\n"
              "  Last Access Date UPDATE is: turned ***** OFF *****\n\n");
}

TEST_F(Ending, ElapsedTimeInHoursMinutesSeconds) {
    filarix::Run run(mp);
    give_sources_lookups(run);
    run.start_time = 1000;
    run.start_time_set = true;
    mp.now = 1000 + 3725;
    EXPECT_EQ(terminate_run(run, 0), 0);
    run.std_err.flush();
    EXPECT_NE(mp.err_text.find("Elapsed:  1 hrs. 2 mins. 5 secs."), std::string::npos);
    EXPECT_NE(mp.err_text.find("0 directories, 0 files, 0 bytes, 0.00 MB"), std::string::npos);
}

TEST_F(Ending, AbnormalEndsNameTheirReason) {
    const struct {
        int reason;
        const char* text;
    } cases[] = {{2, "USER_ABORTED"}, {3, "INPUT_FILE"},
                 {4, "OUTPUT_FILE"},  {6, "ILLEGAL or INCOMPLETE OPTION"},
                 {7, "MEMORY ERROR"}, {9, "WRITE_ERROR"}};
    for (const auto& c : cases) {
        mp.err_text.clear();
        filarix::Run run(mp);
        give_sources_lookups(run);
        EXPECT_EQ(terminate_run(run, c.reason), c.reason);
        run.std_err.flush();
        EXPECT_NE(mp.err_text.find(std::string("\nExit Status: ") + c.text + "\n\n"),
                  std::string::npos);
    }
    for (int normal : {0, 1}) {
        mp.err_text.clear();
        filarix::Run run(mp);
        give_sources_lookups(run);
        EXPECT_EQ(terminate_run(run, normal), normal);
        run.std_err.flush();
        EXPECT_EQ(mp.err_text.find("Exit Status"), std::string::npos);
        EXPECT_STREQ(exit_reason_text(normal), "NORMAL_EXIT");
    }
}

TEST_F(Ending, OneDirectoryIsSingular) {
    filarix::Run run(mp);
    give_sources_lookups(run);
    const struct {
        std::uint32_t count;
        const char* text;
    } cases[] = {{0, " 0 directories,"}, {1, " 1 directory,"}, {2, " 2 directories,"}};
    for (const auto& c : cases) {
        mp.err_text.clear();
        filarix::Run r(mp);
        r.counts.directories_counted = c.count;
        EXPECT_EQ(terminate_run(r, 1), 1);
        r.std_err.flush();
        EXPECT_NE(mp.err_text.find(c.text), std::string::npos) << c.count;
    }
}

TEST_F(Ending, FinishedLineUsesTheCalendarText) {
    filarix::Run run(mp);
    give_sources_lookups(run);
    EXPECT_EQ(calendar_text(run.sys, 0), "Wed Dec 31 19:00:00 1969");
    EXPECT_EQ(calendar_text(run.sys, 1705246936), "Sun Jan 14 10:42:16 2024");
}

TEST(WriteErrors, AFailedListingWriteEndsWithWriteError) {
    // A listing larger than one buffer: the first write to the file fails
    // while the run is still walking.
    MemoryPlatform mp;
    for (int i = 0; i < 1000; ++i)
        mp.add_file(u"C:\\d\\file" + platform::widen(std::to_string(i)), "x");
    mp.add_dir(u"C:\\out");
    const auto to_file = [](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
    };
    FaultyPlatform faulty(mp);
    faulty.fail(FaultyPlatform::Kind::write, 1);
    const RunResult r = run_in_memory(mp, faulty, {u"filarix64", u"C:\\d"}, to_file);
    EXPECT_EQ(r.code, 9);
    const std::size_t first = r.err.find("Error writing");
    EXPECT_EQ(r.err.find("Error writing", first + 1), std::string::npos) << "one message";
    EXPECT_NE(r.err.find("\nError writing the listing to C:\\out\\list.txt\n"), std::string::npos);
    EXPECT_NE(r.err.find("Exit Status: WRITE_ERROR"), std::string::npos);

    // A failure on the last write, when the file is closed, is not lost either.
    MemoryPlatform small;
    small.add_file(u"C:\\d\\one", "x");
    small.add_dir(u"C:\\out");
    FaultyPlatform failing_close(small);
    failing_close.fail(FaultyPlatform::Kind::write, 1);
    const RunResult closing =
        run_in_memory(small, failing_close, {u"filarix64", u"C:\\d"}, to_file);
    EXPECT_EQ(closing.code, 9);
    EXPECT_NE(closing.err.find("Error writing the listing to C:\\out\\list.txt"),
              std::string::npos);

    // Nor when the listing is closed to be sorted.
    FaultyPlatform failing_sort(small);
    failing_sort.fail(FaultyPlatform::Kind::write, 1);
    const RunResult sorting =
        run_in_memory(small, failing_sort, {u"filarix64", u"C:\\d", u"-yn"}, to_file);
    EXPECT_EQ(sorting.code, 9);
    EXPECT_NE(sorting.err.find("Error writing the listing to C:\\out\\list.txt"),
              std::string::npos);
    EXPECT_NE(sorting.err.find("Exit Status: WRITE_ERROR"), std::string::npos);
}

TEST(CommandLine, BareStartPathsThenOptions) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\a\\x", "1");
    mp.add_file(u"C:\\b\\y", "1");
    RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\a", u"C:\\b"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(listing_lines(r.err).size(), 2u);

    // "-.ini" is skipped wherever it stands.
    r = run_in_memory(mp, {u"filarix64", u"C:\\a", u"-.ini"});
    EXPECT_EQ(r.code, 1);

    // A bare item after an option is an error.
    r = run_in_memory(mp, {u"filarix64", u"C:\\a", u"-", u"data"});
    EXPECT_EQ(r.code, 6);
    EXPECT_NE(r.out.find("\nThere appears to be an extra or eroneous item \"data\"\n"
                         "at the end of the command line\n"
                         "Please check your syntax, and correct to problem.\n"),
              std::string::npos);
    EXPECT_NE(r.err.find("Exit Status: ILLEGAL or INCOMPLETE OPTION"), std::string::npos);
}

}  // namespace
