// CSV and JSON Lines listings of whole in-memory runs: the header row,
// quoting and escaping, names that are not valid UTF-8, times with their
// offset, streams, split parts; and which byte sequences count as UTF-8.
#include <gtest/gtest.h>

#include "record/table_row.hpp"
#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

constexpr FileTicks jan2 = ticks_from_utc(2024, 1, 2, 3, 4, 5) + 1230000;  // .123 s

std::string listing_of(MemoryPlatform& mp, const std::vector<std::u16string>& options) {
    std::vector<std::u16string> args{u"filarix64", u"C:\\d", u"-o", u"C:\\out\\list"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run_in_memory(mp, args);
    EXPECT_EQ(r.code, 1) << r.err;
    return mp.contents(u"C:\\out\\list").value_or("<missing>");
}

TEST(TableRows, NamesTimesAndSizesAreWrittenWhole) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\d\\a,b", "12",
                {.write = jan2,
                 .precise = platform::PreciseFacts{-100, 1700000000000000100, 0x1234ABCD,
                                                   0x000500000000002Aull, 3}});
    mp.add_file(u"C:\\d\\q\"t\r\nx", "", {.write = jan2});
    mp.add_file(
        u"C:\\d\\b\xD800"
        u"d",
        "1", {.write = 0});
    mp.add_file(u"C:\\d\\t\t\u00FC", "1", {.write = jan2});
    // The precise facts of the first file; the system cannot tell the others'.
    const std::string facts = "-100,1700000000000000100,305441741,1407374883553322,3";
    const std::string json_facts =
        "\"modified_ns\":-100,\"change_time_ns\":1700000000000000100,\"device\":305441741,"
        "\"inode\":1407374883553322,\"links\":3";
    const std::string json_none =
        "\"modified_ns\":null,\"change_time_ns\":null,\"device\":null,\"inode\":null,"
        "\"links\":null";
    struct Row {
        std::vector<std::u16string> options;
        std::string listing;
    } rows[] = {
        {{u"--CSV"},
         "kind,path,path_bytes,size,attributes,modified,zone,modified_ns,change_time_ns,device,"
         "inode,links,volume_serial,volume_label,target\r\n"
         "file,\"C:\\d\\a,b\",,2,A.....,2024-01-01T22:04:05.123-05:00,EST," +
             facts +
             ",1234-ABCD,SYSTEM,\r\n"
             "file,C:\\d\\b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
             "d,433a5c645c62eda08064,1,A.....,,EST,,,,,,"
             "1234-ABCD,SYSTEM,\r\n"
             "file,\"C:\\d\\q\"\"t\r\nx\",,0,A.....,2024-01-01T22:04:05.123-05:00,EST,,,,,,"
             "1234-ABCD,SYSTEM,\r\n"
             "file,C:\\d\\t\t\xC3\xBC,,1,A.....,2024-01-01T22:04:05.123-05:00,EST,,,,,,"
             "1234-ABCD,SYSTEM,\r\n"},
        {{u"--JSONL", u"-z"},
         "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\a,b\",\"size\":2,\"attributes\":\"A.....\","
         "\"modified\":\"2024-01-02T03:04:05.123Z\",\"zone\":\"Z\"," +
             json_facts +
             ",\"volume_serial\":\"1234-ABCD\",\"volume_label\":\"SYSTEM\"}\n"
             "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
             "d\","
             "\"path_bytes\":\"433a5c645c62eda08064\",\"size\":1,\"attributes\":\"A.....\","
             "\"modified\":null,\"zone\":\"Z\"," +
             json_none +
             ",\"volume_serial\":\"1234-ABCD\",\"volume_label\":\"SYSTEM\"}\n"
             "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\q\\\"t\\r\\nx\",\"size\":0,\"attributes\":"
             "\"A.....\",\"modified\":\"2024-01-02T03:04:05.123Z\",\"zone\":\"Z\"," +
             json_none +
             ",\"volume_serial\":\"1234-ABCD\",\"volume_label\":\"SYSTEM\"}\n"
             "{\"kind\":\"file\",\"path\":\"C:\\\\d\\\\t\\t\xC3\xBC\",\"size\":1,\"attributes\":"
             "\"A.....\",\"modified\":\"2024-01-02T03:04:05.123Z\",\"zone\":\"Z\"," +
             json_none + ",\"volume_serial\":\"1234-ABCD\",\"volume_label\":\"SYSTEM\"}\n"},
    };
    for (const Row& row : rows) EXPECT_EQ(listing_of(mp, row.options), row.listing);
}

TEST(TableRows, StreamsAreRowsOfTheirOwnKind) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    mp.add_file(u"C:\\d\\f", "abc",
                {.write = jan2, .precise = platform::PreciseFacts{1, 2, 3, 4, 1}});
    mp.add_stream(u"C:\\d\\f", u"Zone,Id", "12345");
    mp.env[u"OS"] = u"Windows_NT";
    const std::string listing = listing_of(mp, {u"--CSV", u"-t0"});
    EXPECT_NE(listing.find("\r\nstream,\"C:\\d\\f:Zone,Id\",,5,"), std::string::npos) << listing;
    // The file's times and identity are not the stream's.
    const std::string rows = listing_of(mp, {u"--JSONL", u"-t0"});
    const auto row_of = [&rows](const std::string& kind) {
        const std::size_t at = rows.find("{\"kind\":\"" + kind + "\"");
        return at == std::string::npos ? std::string() : rows.substr(at, rows.find('\n', at) - at);
    };
    EXPECT_NE(row_of("file").find("\"modified_ns\":1,\"change_time_ns\":2,\"device\":3,"
                                  "\"inode\":4,\"links\":1,"),
              std::string::npos)
        << rows;
    EXPECT_NE(row_of("stream").find("\"modified_ns\":null,\"change_time_ns\":null,"
                                    "\"device\":null,\"inode\":null,\"links\":null,"),
              std::string::npos)
        << rows;
}

// The precise facts cost a Windows run an open of the entry: a row asks
// once for all its fields and the compare, a text record never.
TEST(TableRows, PreciseFactsAreAskedOncePerRowAndNeverForARecord) {
    struct Case {
        std::vector<std::u16string> options;
        std::size_t asked;
    } cases[] = {
        {{}, 0},
        {{u"--DIFF=C:\\out\\old.csv"}, 0},
        {{u"--CSV"}, 2},
        {{u"--JSONL", u"--DIFF=C:\\out\\old.csv"}, 2},
    };
    for (const Case& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\out\\old.csv", "kind,path,modified_ns\nfile,C:\\d\\a,1\n");
        mp.add_file(u"C:\\d\\a", "1", {.precise = platform::PreciseFacts{1, 2, 3, 4, 1}});
        mp.add_file(u"C:\\d\\b", "2", {.precise = platform::PreciseFacts{1, 2, 3, 5, 1}});
        std::vector<std::u16string> args{u"filarix64", u"C:\\d", u"-o", u"C:\\out\\list"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = run_in_memory(mp, args);
        SCOPED_TRACE(c.options.empty() ? "text" : platform::utf16_to_utf8_lossless(c.options[0]));
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(mp.precise_facts_calls, c.asked);
    }
}

TEST(TableRows, EachSplitPartStartsWithTheHeaderRow) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    for (int i = 1; i <= 3; ++i)
        mp.add_file(u"C:\\d\\f" + platform::widen(std::to_string(i)), "1", {.write = jan2});
    const RunResult r =
        run_in_memory(mp, {u"filarix64", u"C:\\d", u"--CSV", u"-t0"}, [](filarix::Run& run) {
            run.s.OUTPUT = ListingOutput::file;
            run.s.output_name = u"C:\\out\\list.csv";
            run.s.SPLIT = 1;
            run.s.split_lines = 2;
        });
    EXPECT_EQ(r.code, 1);
    const std::string header =
        "kind,path,path_bytes,size,attributes,modified_ns,change_time_ns,device,inode,links,"
        "volume_serial,volume_label,target\r\n";
    const std::string tail = ",,1,A.....,,,,,,1234-ABCD,SYSTEM,\r\n";
    EXPECT_EQ(mp.contents(u"C:\\out\\list.csv"),
              header + "file,C:\\d\\f1" + tail + "file,C:\\d\\f2" + tail);
    EXPECT_EQ(mp.contents(u"C:\\out\\list_01.csv"), header + "file,C:\\d\\f3" + tail);
}

// A path longer than any system buffer, ending in a lone surrogate, is
// written whole: its text and its exact bytes.
TEST(TableRows, AVeryLongPathIsWrittenWhole) {
    MemoryPlatform mp;
    mp.add_dir(u"C:\\out");
    std::u16string path = u"C:\\d";
    for (int level = 0; level < 180; ++level) path += u"\\" + std::u16string(200, u'n');
    mp.add_file(path + u"\\f\xD800", "", {.write = jan2});
    const std::string bytes = platform::utf16_to_utf8_lossless(path) + "\\f";
    ASSERT_GT(bytes.size(), 36000u);
    std::string hex;
    for (const unsigned char c : bytes + "\xED\xA0\x80") {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    const std::string shown = bytes + "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
    struct Row {
        std::u16string format;
        std::string row;
    } rows[] = {
        {u"--CSV", "\r\nfile," + shown + "," + hex + ",0,A.....,,,,,,1234-ABCD,SYSTEM,\r\n"},
        {u"--JSONL", "\"path\":\"" + shown + "\",\"path_bytes\":\"" + hex + "\",\"size\":0,"},
    };
    for (const Row& row : rows) {
        std::string wanted = row.row;
        if (row.format == u"--JSONL")
            for (std::size_t at = 0; (at = wanted.find('\\', at)) != std::string::npos; at += 2)
                wanted.insert(at, 1, '\\');
        EXPECT_NE(listing_of(mp, {row.format, u"-t0"}).find(wanted), std::string::npos);
    }
}

// Rows of other fields never go under a CSV header row: a listing appended
// to must name the same fields, or it is left as it was.
TEST(TableRows, AppendingToACsvListingOfOtherFieldsIsRefused) {
    const std::string header =
        "kind,path,path_bytes,size,attributes,modified_ns,change_time_ns,device,inode,links,"
        "volume_serial,volume_label,target\r\n";
    const std::string row = "file,C:\\d\\f,,1,A.....,,,,,,1234-ABCD,SYSTEM,\r\n";
    // A listing of a version that wrote no precise times or identity.
    const std::string older =
        "kind,path,path_bytes,size,attributes,volume_serial,volume_label,target\r\n"
        "file,C:\\d\\f,,1,A.....,1234-ABCD,SYSTEM,\r\n";
    struct Case {
        std::string before;
        std::u16string option;
        int code;
        std::string after;
    } cases[] = {
        {"", u"-t0", 1, header + row},
        {header + row, u"-t0", 1, header + row + row},
        {header + row, u"-5", 4, header + row},
        {header + row, u"-t3", 4, header + row},
        {older, u"-t0", 4, older},
        {"\n  PATH   SIZE\n", u"-t0", 4, "\n  PATH   SIZE\n"},
    };
    for (const Case& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\f", "1", {.write = jan2});
        mp.add_file(u"C:\\out\\list.csv", c.before);
        const RunResult r = run_in_memory(
            mp, {u"filarix64", u"C:\\d", u"--CSV", u"-O", u"C:\\out\\list.csv", u"-t0", c.option});
        SCOPED_TRACE(c.before + platform::utf16_to_utf8_lossless(c.option));
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(mp.contents(u"C:\\out\\list.csv"), c.after);
        EXPECT_EQ(r.err.find("can't append to output file C:\\out\\list.csv: its header row names "
                             "other fields than this run writes\n") != std::string::npos,
                  c.code == 4)
            << r.err;
    }
}

TEST(TableRows, Utf8IsCheckedCharacterByCharacter) {
    struct Row {
        std::string bytes;
        bool valid;
        std::string repaired;
    } rows[] = {
        {"plain", true, "plain"},
        {"\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", true, "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"a\xFF", false, "a\xEF\xBF\xBD"},
        {"\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong "/"
        {"\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
        {"\xF4\x90\x80\x80", false,
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
        {"\xE2\x82", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},       // cut short
        {std::string("a\0b", 3), true,
         "a\xEF\xBF\xBD"
         "b"},  // a NUL is never written
    };
    for (const Row& row : rows) {
        EXPECT_EQ(is_valid_utf8(row.bytes), row.valid) << row.bytes;
        EXPECT_EQ(repaired_utf8(row.bytes), row.repaired) << row.bytes;
    }
}

}  // namespace
