// The record layout on the in-memory Windows platform: widths, the path
// column, times, filters and the name columns, compared byte for byte.
#include <gtest/gtest.h>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

constexpr FileTicks jan2 = ticks_from_utc(2024, 1, 2, 3, 4, 5, 678);  // 22:04:05 EST on Jan 1

class Record : public ::testing::Test {
protected:
    // The records of one run over C:\d.
    std::vector<std::string> records(const std::function<void(filarix::Run&)>& adjust = {}) {
        last = run_in_memory(mp, {u"filarix64", u"C:\\d"}, adjust);
        return listing_lines(last.err);
    }
    std::string only_record(const std::function<void(filarix::Run&)>& adjust = {}) {
        const auto lines = records(adjust);
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? std::string() : lines.front();
    }
    MemoryPlatform mp;
    RunResult last;
};

TEST_F(Record, DefaultLayoutIs107Characters) {
    mp.add_file(u"C:\\d\\report.txt", "hello", {.write = jan2});
    const std::string line = only_record();
    EXPECT_EQ(line, default_record("C:\\d\\report.txt", 5, "A.....", "01/01/2024 22:04"));
    EXPECT_EQ(line.size(), 107u);
}

TEST_F(Record, AttributeLettersAndSizes) {
    namespace a = platform::attr;
    mp.add_file(u"C:\\d\\big.bin", std::uint64_t(5'000'000'000), {.write = jan2});
    mp.add_file(u"C:\\d\\empty", "",
                {.attributes = a::hidden | a::readonly | a::system, .write = jan2});
    mp.add_file(u"C:\\d\\secret", "x", {.attributes = a::archive | a::encrypted, .write = jan2});
    const auto lines = records();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], default_record("C:\\d\\big.bin", 5000000000, "A.....", "01/01/2024 22:04"));
    EXPECT_EQ(lines[1], default_record("C:\\d\\empty", 0, ".HRS..", "01/01/2024 22:04"));
    EXPECT_EQ(lines[2], default_record("C:\\d\\secret", 1, "A....E", "01/01/2024 22:04"));
    EXPECT_NE(last.err.find("5,000,000,001 bytes, 5000.00 MB"), std::string::npos);
}

// Numbers wider than their columns widen them, as printf widths do.
TEST_F(Record, WideNumbersWidenTheirColumns) {
    mp.add_file(u"C:\\d\\f", std::uint64_t(999'999'999'999'999'999),
                {.write = ticks_from_utc(12345, 6, 7, 8, 9, 10, 11)});
    const struct {
        int var;
        const char* fields;
    } cases[] = {
        {0, "    999999999999999999 A...... 06/07/12345 03:09w EST "},
        {1, "|999999999999999999|A......|06/07/12345|03:09w|EST|"},
    };
    for (const auto& c : cases) {
        const std::string line = only_record([&](filarix::Run& run) {
            run.s.VAR = run.s.DELIM = c.var;
            if (c.var) run.s.delimiter = '|';
        });
        EXPECT_EQ(line.substr(line.find("f") + 1 + (c.var ? 0 : 54 - 6)), c.fields) << c.var;
    }
}

TEST_F(Record, LongPathsAreShortenedToTheColumn) {
    const std::u16string dir = u"C:\\d\\" + std::u16string(60, u'x') + u"\\inner";
    mp.add_file(dir + u"\\file.txt", "1", {.write = jan2});
    const std::string line = only_record();
    EXPECT_EQ(line.substr(0, 55), "C:\\...\\inner\\file.txt                                  ");
    EXPECT_EQ(line.size(), 107u);
    // -W elides the middle instead.
    const std::string elided = only_record([](filarix::Run& run) { run.s.width_set = 2; });
    EXPECT_EQ(elided.substr(0, 54), "C:\\d\\xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\\file.txt");
}

TEST_F(Record, NonAsciiCharactersStayOneColumnWide) {
    mp.add_file(u"C:\\d\\caf\u00e9\u20ac.txt", "1", {.write = jan2});
    const std::string line = only_record();
    EXPECT_EQ(line.size(), 107u);
    EXPECT_EQ(line.substr(0, 14), "C:\\d\\caf\xc3\xe2.txt");
    // With UTF8 the column holds the encoded characters, 54 of them.
    const std::string utf8 = only_record([](filarix::Run& run) { run.s.UTF8 = 1; });
    EXPECT_EQ(utf8.substr(0, 17), "C:\\d\\caf\xc3\xa9\xe2\x82\xac.txt");
    EXPECT_EQ(utf8.size(), 110u);
    EXPECT_EQ(utf8.substr(17, 38), std::string(37, ' ') + " ");
}

TEST_F(Record, UncPathsPrintFromTheirFirstCharacter) {
    mp.add_file(u"\\\\SERVER\\SHARE\\d\\f.txt", "12", {.write = jan2});
    last = run_in_memory(mp, {u"filarix64", u"\\\\SERVER\\SHARE\\d"});
    const auto lines = listing_lines(last.err);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              default_record("\\\\SERVER\\SHARE\\d\\f.txt", 2, "A.....", "01/01/2024 22:04"));
}

TEST_F(Record, VariableWidthPrintsTheWholePathAndBareSize) {
    mp.add_file(u"C:\\d\\f.txt", "12345", {.write = jan2});
    // What -V leaves after the settings are made consistent.
    const std::string line = only_record([](filarix::Run& run) {
        run.s.VAR = run.s.DELIM = 1;
        run.s.delimiter = '|';
    });
    EXPECT_EQ(line, "C:\\d\\f.txt|5|A......|01/01/2024|22:04w|EST|");
}

TEST_F(Record, TimeColumnsTable) {
    mp.add_file(
        u"C:\\d\\f", "",
        {.creation = ticks_from_utc(2020, 2, 29, 23, 30, 0, 5), .access = 0, .write = jan2});
    const struct {
        int time_type;
        int seconds, reverse, zulu;
        const char* columns;
    } cases[] = {
        {'w', 0, 0, 0, "01/01/2024 22:04w EST "},
        {'W', 0, 0, 0, "01/01/2024 22:04w EST "},
        {'c', 0, 0, 0, "02/29/2020 18:30c EST "},
        {'a', 0, 0, 0, "00/00/1980 00:00a EST "},
        {'a', 1, 0, 0, "00/00/1980 00:00:00:000a EST "},
        {'w', 1, 0, 0, "01/01/2024 22:04:05:678w EST "},
        {'w', 0, 1, 0, "2024/01/01 22:04w EST "},
        {'w', 0, 0, 1, "01/02/2024 03:04w GMT "},
        {'3', 0, 0, 0,
         "02/29/2020 18:30:00:005c 01/01/2024 22:04:05:678w 00/00/1980 00:00:00:000a EST "},
        {'0', 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const std::string line = only_record([&](filarix::Run& run) {
            run.s.time_type = c.time_type;
            run.s.seconds = c.seconds;
            run.s.REVERSE = c.reverse;
            run.s.ZULU = c.zulu;
        });
        EXPECT_EQ(line.substr(85), c.columns) << char(c.time_type);
    }
}

TEST_F(Record, OutputFileAddsTheVolumeColumns) {
    mp.add_volume(u"C:", {.label = u"EVIDENCE", .serial = 0x1A2B3C4D});
    mp.add_file(u"C:\\d\\f.txt", "1", {.write = jan2});
    mp.add_dir(u"C:\\out");
    records([](filarix::Run& run) {
        run.s.OUTPUT = ListingOutput::file;
        run.s.output_name = u"C:\\out\\list.txt";
    });
    const auto lines = file_records(*mp.contents(u"C:\\out\\list.txt"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], default_record("C:\\d\\f.txt", 1, "A.....", "01/01/2024 22:04") +
                            "  1A2B-3C4D     EVIDENCE ");
    EXPECT_EQ(lines[0].size(), 132u);
    // The listing summary follows the records in the file.
    EXPECT_NE(mp.contents(u"C:\\out\\list.txt")->find("\n  0 directories, 1 files, 1 bytes: \n"),
              std::string::npos);
}

TEST_F(Record, FixedLayoutFillsTheEmptyColumns) {
    mp.add_file(u"C:\\d\\f.txt", "1", {.write = jan2});
    const std::string line = only_record([](filarix::Run& run) {
        run.s.fixed = 1;
        run.s.time_type = 'w';
    });
    EXPECT_EQ(line.size(), 123u);
    EXPECT_EQ(line.substr(77, 24), "A......" + std::string(17, ' '));
}

TEST_F(Record, SizeBoundsAreInclusive) {
    for (int size : {99, 100, 101})
        mp.add_file(u"C:\\d\\f" + platform::widen(std::to_string(size)), std::string(size, 'x'));
    EXPECT_EQ(records([](filarix::Run& run) {
                  run.s.GREATER = 1;
                  run.s.size_greater = 100;
              }).size(),
              2u);
    EXPECT_EQ(records([](filarix::Run& run) {
                  run.s.LESSTHAN = 1;
                  run.s.size_less = 100;
              }).size(),
              2u);
    EXPECT_EQ(records([](filarix::Run& run) {
                  run.s.GREATER = run.s.LESSTHAN = 1;
                  run.s.size_greater = run.s.size_less = 100;
              }).size(),
              1u);
}

TEST_F(Record, AttributeFilterCombinesLettersWithAnd) {
    namespace a = platform::attr;
    mp.add_file(u"C:\\d\\rh", "", {.attributes = a::readonly | a::hidden});
    mp.add_file(u"C:\\d\\r", "", {.attributes = a::readonly});
    mp.add_file(u"C:\\d\\sub\\x", "");
    EXPECT_EQ(records([](filarix::Run& run) {
                  run.s.attr_filter = run.s.attr_readonly = run.s.attr_hidden = 1;
              }).size(),
              1u);
    // Directories only.
    const auto dirs = records([](filarix::Run& run) {
        run.s.attr_filter = 1;
        run.s.directories = 2;
    });
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(dirs[0].substr(0, 8), "C:\\d\\sub");
}

TEST_F(Record, ChildItemsAreNeverListedAndDeletedOnRequest) {
    mp.add_file(u"C:\\d\\a\u200Cb", "x");
    mp.add_file(u"C:\\d\\keep", "x");
    EXPECT_EQ(records([](filarix::Run& run) { run.s.NOCHILD = nochild_name; }).size(), 1u);
    EXPECT_NE(mp.node(u"C:\\d\\a\u200Cb"), nullptr);
    EXPECT_NE(last.out.find("C:\\d\\a"), std::string::npos);
    EXPECT_EQ(records([](filarix::Run& run) { run.s.NOCHILD = nochild_delete; }).size(), 1u);
    EXPECT_EQ(mp.node(u"C:\\d\\a\u200Cb"), nullptr);
}

TEST_F(Record, SequenceNumbersRunAcrossStartPaths) {
    mp.add_file(u"C:\\d\\one", "");
    mp.add_file(u"C:\\e\\two", "");
    last = run_in_memory(mp, {u"filarix64", u"C:\\d", u"C:\\e"}, [](filarix::Run& run) {
        run.s.SEQUENCE = 1;
        run.s.sequence_start = 1;
    });
    const auto lines = listing_lines(last.err);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 13), "000001 C:\\d\\o");
    EXPECT_EQ(lines[1].substr(0, 13), "000002 C:\\e\\t");
    last = run_in_memory(mp, {u"filarix64", u"C:\\d"}, [](filarix::Run& run) {
        run.s.SEQUENCE = 1;
        run.s.sequence_start = 1000;
    });
    EXPECT_EQ(listing_lines(last.err)[0].substr(0, 7), "001000 ");
}

TEST_F(Record, LongPathFilterAndItsLengthField) {
    // \\?\C:\d\ is 9 characters; names make complete paths of 259 and 260.
    mp.add_file(u"C:\\d\\" + std::u16string(250, u'a'), "");
    mp.add_file(u"C:\\d\\" + std::u16string(251, u'b'), "");
    // What --showlong sets.
    const auto lines = records([](filarix::Run& run) {
        run.s.SHOWLONG = run.s.DELIM = 1;
        run.s.delimiter = '|';
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("|Len=256|"), std::string::npos);
    EXPECT_NE(lines[0].find("C:\\d\\bbbb"), std::string::npos);
}

TEST_F(Record, NameOnlyLayouts) {
    mp.add_file(u"C:\\d\\name.txt", "12");
    EXPECT_EQ(only_record([](filarix::Run& run) { run.s.NAMEONLY = 1; }),
              "name.txt                                               ");
    EXPECT_EQ(only_record([](filarix::Run& run) {
                  run.s.NAMEONLY = 1;
                  run.s.WIDTH = 0;
              }),
              "name.txt ");
    EXPECT_EQ(only_record([](filarix::Run& run) {
                  run.s.NAMEONLY = run.s.PPATHONLY = 1;
                  run.s.WIDTH = 0;
              }),
              "C:\\d\\name.txt ");
}

TEST_F(Record, ShortAndLongNameColumns) {
    mp.add_file(u"C:\\d\\Long File Name.html", "1", {.short_name = u"LONGFI~1.HTM"});
    mp.add_file(u"C:\\d\\short.c", "1");
    const auto lines = records([](filarix::Run& run) {
        run.s.time_type = '0';
        run.s.eight_dot_three = 1;
        run.s.EXT = 1;
    });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(85), " LONGFI~1         HTML       LONGFI~1 ");
    EXPECT_EQ(lines[1].substr(85), " short               C        short.c ");
    const auto lfn = records([](filarix::Run& run) {
        run.s.time_type = '0';
        run.s.LFN = 1;
        run.s.lfn_width = 12;
    });
    EXPECT_EQ(lfn[0].substr(85), " LONG FILE NA ");
    EXPECT_EQ(lfn[1].substr(85), " SHORT.C      ");
}

TEST_F(Record, DriveLetterOptionReplacesTheShownDrive) {
    mp.add_file(u"C:\\d\\f", "");
    EXPECT_EQ(only_record([](filarix::Run& run) { run.s.drive_letter = u'Q'; }).substr(0, 7),
              "Q:\\d\\f ");
}

}  // namespace
