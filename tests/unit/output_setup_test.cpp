// The output file: named, appended, with the program's name, the computer
// name comment, the ZIP log stream, and the split into numbered parts.
#include "driver/output_setup.hpp"

#include <gtest/gtest.h>

#include "driver/accounting_log.hpp"
#include "driver/parse_action_performer.hpp"
#include "driver/volume.hpp"
#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "options/settings_parser.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

constexpr FileTicks jan2 = ticks_from_utc(2024, 1, 2, 3, 4, 5);

const std::string kBannerToFile =
    "\nStarted Sun Jan 14 15:42:16 2024 GMT, 10:42 Eastern Standard Time (EST/:5)\n"
    "COMMAND LINE:  C:\\TOOLS\\FILARIX64.EXE C:\\d \n\n";
// The default header line of a listing file: path, size, attributes, write
// time, zone and the two volume columns.
const std::string kFileHeader = "  PATH" + std::string(48, ' ') + "  " + std::string(14, ' ') +
                                "  SIZE  ATTR      MDATE    MTIME  TZ    SERIAL #  DISK LABEL  \n";

std::string file_record(const std::string& path, long long size) {
    return default_record(path, size, "A.....", "01/01/2024 22:04") + "  1234-ABCD       SYSTEM ";
}

std::function<void(filarix::Run&)> to_file(std::u16string name,
                                           std::function<void(filarix::Run&)> more = {}) {
    return [name, more](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = name;
        if (more) more(run);
    };
}

class OutputFile : public ::testing::Test {
protected:
    void SetUp() override {
        mp.add_dir(u"C:\\out");
        mp.add_file(u"C:\\d\\f.txt", "1", {.write = jan2});
    }
    RunResult run(const std::function<void(filarix::Run&)>& adjust) {
        return run_in_memory(mp, {u"filarix64", u"C:\\d"}, adjust);
    }
    std::string file(std::u16string_view name) { return mp.contents(name).value_or("<missing>"); }
    MemoryPlatform mp;
};

TEST_F(OutputFile, BannerHeaderRecordsThenTheSummary) {
    const RunResult r = run(to_file(u"C:\\out\\list.txt"));
    EXPECT_EQ(r.code, 1);
    const std::string text = file(u"C:\\out\\list.txt");
    const std::string head = kBannerToFile + kFileHeader + file_record("C:\\d\\f.txt", 1) + "\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(head.size(), 37), "\n  0 directories, 1 files, 1 bytes: \n");
    // Nothing of the listing reaches the console streams.
    EXPECT_EQ(r.err.find("f.txt"), std::string::npos);
    EXPECT_EQ(r.out, "\n\n");
}

TEST_F(OutputFile, AppendKeepsTheOldListingAndWriteEmptiesIt) {
    const struct {
        bool append;
        bool old_kept;
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        mp.add_file(u"C:\\out\\list.txt", "old listing\n");
        const RunResult r =
            run(to_file(u"C:\\out\\list.txt", [&](filarix::Run& run) { run.s.APPEND = c.append; }));
        EXPECT_EQ(r.code, 1);
        const std::string text = file(u"C:\\out\\list.txt");
        EXPECT_EQ(text.rfind("old listing\n", 0) == 0, c.old_kept) << c.append;
        EXPECT_EQ(text.find(kBannerToFile), c.old_kept ? 12u : 0u) << c.append;
        EXPECT_EQ(file_records(text.substr(text.find(kBannerToFile))).size(), 1u);
    }
}

TEST_F(OutputFile, ProgramNameInFrontOfTheFileName) {
    const struct {
        const char16_t* given;
        const char16_t* written;
    } cases[] = {
        {u"C:\\out\\list.txt", u"C:\\out\\FILARIX64_list.txt"},
        {u"list.txt", u"C:\\work\\FILARIX64_list.txt"},  // the current directory
        {u"C:\\out\\noext", u"C:\\out\\FILARIX64_noext"},
        {u"C:\\out\\v1.2.txt", u"C:\\out\\FILARIX64_v1.2.txt"},
    };
    for (const auto& c : cases) {
        const RunResult r = run(to_file(c.given, [](filarix::Run& run) { run.s.PNAME = 1; }));
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(file_records(file(c.written)).size(), 1u)
            << platform::utf16_to_utf8_lossless(c.given);
        EXPECT_FALSE(mp.contents(c.given)) << platform::utf16_to_utf8_lossless(c.given);
    }
}

TEST_F(OutputFile, FilesThatCannotBeOpenedEndTheRunBeforeAnyListing) {
    mp.add_file(u"C:\\out\\locked.txt", "keep", {.protect = true});
    const struct {
        const char16_t* name;
        int append;
        const char* message;
    } cases[] = {
        {u"C:\\out\\locked.txt", 0, "\ncan't create output file C:\\out\\locked.txt\n"},
        {u"C:\\out\\locked.txt", 1, "\ncan't open output file C:\\out\\locked.txt\n"},
        {u"C:\\nowhere\\list.txt", 0, "\ncan't create output file C:\\nowhere\\list.txt\n"},
    };
    for (const auto& c : cases) {
        const RunResult r =
            run(to_file(c.name, [&](filarix::Run& run) { run.s.APPEND = c.append; }));
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err.find(c.message), 0u) << r.err;
        EXPECT_NE(r.err.find("Exit Status: OUTPUT_FILE"), std::string::npos);
        EXPECT_EQ(r.err.find("f.txt"), std::string::npos);
    }
    EXPECT_EQ(file(u"C:\\out\\locked.txt"), "keep");

    const RunResult r = run([](filarix::Run& run) { run.s.APPEND = 1; });
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.out, "\n\tNeed output file name if -a is chosen\n");
}

TEST(OutputSetUp, ComputerNameAndWidthComments) {
    const std::u16string fill(199, u' ');
    const struct {
        const char16_t* comment;
        std::optional<std::u16string> computer;
        int delim;
        char delimiter;
        std::u16string result;
    } cases[] = {
        {u"COMPUTERNAME", u"EXAMINER-PC", 0, ' ', u"EXAMINER-PC "},
        {u"computername:20", u"EXAMINER-PC", 0, ' ', u"EXAMINER-PC          "},
        {u"ComputerName20", u"EXAMINER-PC", 0, ' ', u"EXAMINER-PC          "},
        {u"COMPUTERNAME:20", u"FORENSICS-WORKSTATION", 0, ' ', u"FORENSICS-WO         "},
        {u"COMPUTERNAME:5", u"FORENSICS-WORKSTATION", 0, ' ', u"FORENSICS-WO "},
        {u"COMPUTERNAME:14", u"EXAMINER-PC", 1, '|', u"EXAMINER-PC   "},
        {u"COMPUTERNAME", u"EXAMINER-PC", 0, ',', u"EXAMINER-PC,"},
        {u"COMPUTERNAME:20", std::nullopt, 0, ' ', u"COMPUTERNAME:20"},
        {u"COMPUTERNAME:999999999999", u"PC", 0, ' ', u"PC" + fill + u" "},
        {u"Case 17:12", u"EXAMINER-PC", 0, ' ', u"Case 17     "},
        {u"Case 17:3", u"EXAMINER-PC", 0, ' ', u"Case 17"},
        {u"Case 17:", u"EXAMINER-PC", 0, ' ', u"Case 17"},
        {u"plain text", u"EXAMINER-PC", 0, ' ', u"plain text"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.computer = c.computer;
        filarix::Run run(mp);
        give_sources_lookups(run);
        run.s.COMMENT = 1;
        run.s.DELIM = c.delim;
        run.s.delimiter = c.delimiter;
        run.s.comment_text = c.comment;
        settle_settings(run);
        EXPECT_EQ(run.s.comment_text, c.result) << platform::utf16_to_utf8_lossless(c.comment);
    }
}

TEST(OutputSetUp, ZipMembersGoToTheirOwnFileOrFollowTheListing) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\out\\locked.log", "", {.protect = true});
    {
        filarix::Run run(mp);
        give_sources_lookups(run);
        run.s.ZIPLOG = 1;
        run.s.ziplog_name = u"C:\\out\\zip.log";
        open_output(run);
        ASSERT_TRUE(run.ziplog_file);
        EXPECT_EQ(run.ziplog(), run.ziplog_file.get());
    }
    EXPECT_TRUE(mp.contents(u"C:\\out\\zip.log"));
    {
        // A ZIP log that cannot be opened leaves the members in the listing,
        // and they follow the listing into each split part.
        filarix::Run run(mp);
        give_sources_lookups(run);
        run.s.ZIPLOG = 1;
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
        run.s.ziplog_name = u"C:\\out\\locked.log";
        open_output(run);
        EXPECT_FALSE(run.ziplog_file);
        EXPECT_EQ(run.ziplog(), &run.output());
        next_split_file(run);
        EXPECT_EQ(run.ziplog(), &run.output());
        EXPECT_EQ(&run.output(), run.output_file.get());
        EXPECT_EQ(run.output_part_name, u"C:\\out\\list_01.txt");
    }
    {
        // On the console the listing moves to the standard error stream
        // once the layout is set up; the member lines move with it.
        filarix::Run run(mp);
        give_sources_lookups(run);
        run.s.ZIPLOG = 1;
        open_output(run);
        EXPECT_EQ(run.ziplog(), &run.std_out);
        set_up_volume_and_layout(run, u"\\\\?\\C:\\work");
        EXPECT_EQ(run.ziplog(), &run.std_err);
    }
    filarix::Run run(mp);
    give_sources_lookups(run);
    open_output(run);
    EXPECT_EQ(run.ziplog(), nullptr);
}

TEST(SplitNames, NumberedInTheSameDirectory) {
    const auto& win = platform::PathSyntax::windows();
    const auto& posix = platform::PathSyntax::posix();
    const struct {
        const platform::PathSyntax& syntax;
        const char16_t* name;
        int number;
        const char16_t* part;
    } cases[] = {
        {win, u"D:\\OUT\\LIST.TXT", 1, u"D:\\OUT\\LIST_01.TXT"},
        {win, u"D:\\OUT\\LIST.TXT", 12, u"D:\\OUT\\LIST_12.TXT"},
        {win, u"D:\\OUT\\LIST.TXT", 100, u"D:\\OUT\\LIST_100.TXT"},
        {win, u"D:\\dir.d\\noext", 2, u"D:\\dir.d\\noext_02"},
        {win, u"C:/x/y.txt", 3, u"C:/x/y_03.txt"},
        {win, u"D:list.txt", 1, u"D:list_01.txt"},
        {win, u"list.v1.txt", 1, u"list.v1_01.txt"},
        {posix, u"/var/out/list.txt", 1, u"/var/out/list_01.txt"},
        {posix, u"/var/a\\b.txt", 1, u"/var/a\\b_01.txt"},
        {posix, u"/var/dir.d/noext", 4, u"/var/dir.d/noext_04"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(split_part_name(c.syntax, c.name, c.number), c.part)
            << platform::utf16_to_utf8_lossless(c.name);
}

class Split : public ::testing::Test {
protected:
    void files(int count) {
        for (int i = 1; i <= count; ++i)
            mp.add_file(u"C:\\d\\f" + platform::widen(std::to_string(i)), "1", {.write = jan2});
    }
    // A split run as the settings sources set it up: with its log.
    RunResult run(int lines, platform::System* through = nullptr,
                  std::function<void(filarix::Run&)> more = {}) {
        return run_in_memory(mp, through ? *through : mp, {u"filarix64", u"C:\\d"},
                             [lines, more](filarix::Run& run) {
                                 run.s.OUTPUT = ListingOutput::file;
                                 run.s.output_name = u"C:\\out\\list.txt";
                                 run.s.SPLIT = 1;
                                 run.s.split_lines = lines;
                                 run.log = open_accounting_log(run, u"C:\\out\\list.txt.log");
                                 run.s.ACCT = 1;
                                 if (more) more(run);
                             });
    }
    // The record lines of a part, each checked to be a file record.
    std::vector<std::string> part(std::u16string_view name) {
        const auto text = mp.contents(name);
        if (!text) return {"<missing>"};
        std::vector<std::string> names;
        for (const auto& line : split_lines(*text))
            if (!line.empty()) names.push_back(line.substr(0, line.find(' ')));
        return names;
    }
    void SetUp() override { mp.add_dir(u"C:\\out"); }
    MemoryPlatform mp;
    using Names = std::vector<std::string>;
};

TEST_F(Split, PartsHoldTheirShareOfRecords) {
    files(7);
    const RunResult r = run(3);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(part(u"C:\\out\\list.txt"), (Names{"", "C:\\d\\f1", "C:\\d\\f2", "C:\\d\\f3"}));
    EXPECT_EQ(mp.contents(u"C:\\out\\list.txt")->rfind("  PATH", 0), 0u);  // the header
    EXPECT_EQ(part(u"C:\\out\\list_01.txt"), (Names{"C:\\d\\f4", "C:\\d\\f5", "C:\\d\\f6"}));
    EXPECT_EQ(part(u"C:\\out\\list_02.txt"), (Names{"C:\\d\\f7"}));
    EXPECT_FALSE(mp.contents(u"C:\\out\\list_03.txt"));
    // The totals went to the log, not into the last part.
    EXPECT_NE(mp.contents(u"C:\\out\\list.txt.log")->find("processed:         7"),
              std::string::npos);
}

TEST_F(Split, AnExactMultipleLeavesTheLastPartEmpty) {
    files(6);
    EXPECT_EQ(run(3).code, 1);
    EXPECT_EQ(part(u"C:\\out\\list_01.txt"), (Names{"C:\\d\\f4", "C:\\d\\f5", "C:\\d\\f6"}));
    EXPECT_EQ(mp.contents(u"C:\\out\\list_02.txt"), "");
}

TEST_F(Split, NoSplitWithoutAPositiveLineCount) {
    files(4);
    for (int lines : {0, -2}) {
        EXPECT_EQ(run(lines).code, 1);
        EXPECT_EQ(part(u"C:\\out\\list.txt").size(), 5u) << lines;
        EXPECT_FALSE(mp.contents(u"C:\\out\\list_01.txt")) << lines;
    }
}

TEST_F(Split, OnlyAListingFileIsSplit) {
    files(3);
    const RunResult r = run_in_memory(mp, {u"filarix64", u"C:\\d"}, [](filarix::Run& run) {
        run.s.SPLIT = 1;
        run.s.split_lines = 1;
    });
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(listing_lines(r.err).size(), 3u);
    EXPECT_FALSE(mp.contents(u"C:\\work\\_01"));
}

TEST_F(Split, PartsCarryTheProgramName) {
    files(2);
    EXPECT_EQ(run(1, nullptr, [](filarix::Run& run) { run.s.PNAME = 1; }).code, 1);
    EXPECT_EQ(part(u"C:\\out\\FILARIX64_list_01.txt"), (Names{"C:\\d\\f2"}));
    EXPECT_EQ(mp.contents(u"C:\\out\\FILARIX64_list_02.txt"), "");
}

TEST_F(Split, APartThatCannotBeOpenedEndsWithOutputFile) {
    files(7);
    mp.add_file(u"C:\\out\\list_01.txt", "busy", {.protect = true});
    const RunResult r = run(3);
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.out.find("\nCan't open new output file C:\\out\\list_01.txt"), std::string::npos);
    EXPECT_NE(r.err.find("Exit Status: OUTPUT_FILE"), std::string::npos);
    EXPECT_EQ(part(u"C:\\out\\list.txt"), (Names{"", "C:\\d\\f1", "C:\\d\\f2", "C:\\d\\f3"}));
    EXPECT_EQ(mp.contents(u"C:\\out\\list_01.txt"), "busy");
}

TEST_F(Split, AWriteFailureOnAPartNamesThatPart) {
    files(7);
    FaultyPlatform faulty(mp);
    // The first write is the first part's, as it is closed; the second the
    // next part's.
    faulty.fail(FaultyPlatform::Kind::write, 2);
    const RunResult r = run(3, &faulty);
    EXPECT_EQ(r.code, 9);
    EXPECT_EQ(faulty.failures(FaultyPlatform::Kind::write), 1u);
    EXPECT_NE(r.err.find("\nError writing the listing to C:\\out\\list_01.txt\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Exit Status: WRITE_ERROR"), std::string::npos);
    EXPECT_EQ(part(u"C:\\out\\list.txt"), (Names{"", "C:\\d\\f1", "C:\\d\\f2", "C:\\d\\f3"}));
    EXPECT_FALSE(mp.contents(u"C:\\out\\list_02.txt"));
    EXPECT_NE(mp.contents(u"C:\\out\\list.txt.log")->find("Reason: WRITE_ERROR"),
              std::string::npos);
}

}  // namespace
