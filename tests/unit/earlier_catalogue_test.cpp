// Reading earlier catalogues: every accepted format, the lines that are
// passed over and counted, and listings of this program read back whole.
#include "catalogue/earlier_catalogue.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

struct Read {
    CatalogueFormat format = CatalogueFormat::unknown;
    std::vector<EarlierEntry> rows;
    std::uint64_t skipped = 0;
    std::uint64_t first_skipped = 0;
};

// Reads the text handed over `chunk` bytes at a time, so that lines and
// quoted fields cross the reader's refills.
Read read_catalogue(const std::string& text, std::size_t chunk = 7) {
    std::size_t at = 0;
    CatalogueReader reader([&](char* buffer, std::size_t size) {
        const std::size_t n = std::min({size, chunk, text.size() - at});
        std::copy_n(text.data() + at, n, buffer);
        at += n;
        return n;
    });
    Read r;
    r.format = reader.format();
    EarlierEntry e;
    while (reader.next(e)) r.rows.push_back(e);
    r.skipped = reader.lines_skipped();
    r.first_skipped = reader.first_skipped_line();
    return r;
}

std::string paths_of(const Read& r) {
    std::string out;
    for (const EarlierEntry& e : r.rows) out += e.kind + ":" + e.path + "|";
    return out;
}

const std::string md5_a = "5D41402ABC4B2A76B9719D911017C592";
const std::string sha256_a = "2CF24DBA5FB0A30E26E83B2AC5B9E29E1B161E5C1FA7425E73043362938B9824";

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return s;
}

TEST(EarlierCatalogue, FormatsRowsAndSkippedLines) {
    struct Case {
        const char* what;
        std::string text;
        CatalogueFormat format;
        std::string paths;
        std::uint64_t skipped;
        std::uint64_t first_skipped;
    };
    const std::string csv_head = "kind,path,path_bytes,size,attributes,md5,modified,zone,target\n";
    const Case cases[] = {
        {"csv: quotes, commas and line ends in names; a failure text is no digest",
         csv_head + "file,\"/d/a,\"\"b\"\"\nc\",,5,A.....," + md5_a +
             ",2026-01-02T03:04:05.000+00:00,UTC,\n" +
             "file,/d/x,,3,A.....,- ERROR - FILE POSSIBLY LOCKED -,t,UTC,\n" +
             "directory,/d/s,,0,....D.,,t,UTC,\n",
         CatalogueFormat::csv_listing, "file:/d/a,\"b\"\nc|file:/d/x|directory:/d/s|", 0, 0},
        {"csv: a byte-order mark, CR LF, a short row and a cut last line",
         "\xEF\xBB\xBF"
         "kind,path,size\r\nfile,/d/a,5\r\nfile,/d/b\r\nfile,/d/c,7\r\nfile,/d/d,1",
         CatalogueFormat::csv_listing, "file:/d/a|file:/d/c|", 2, 3},
        {"csv: a name that is not UTF-8 comes from its bytes",
         "kind,path,path_bytes,size\nfile,/d/\xEF\xBF\xBD,2f642fff,1\n",
         CatalogueFormat::csv_listing, "file:/d/\xFF|", 0, 0},
        {"csv: an unclosed quote and a bad size are passed over",
         "kind,path,size\nfile,\"/d/a,5\nfile,/d/b,x\nfile,/d/c,-1\nfile,/d/e,0\n",
         CatalogueFormat::csv_listing, "", 1, 2},
        {"jsonl: escapes, nulls, bytes of a name, garbage and a cut last line",
         "{\"kind\":\"file\",\"path\":\"/d/a\\nb\\u0001\\\"\",\"size\":5,\"md5\":\"" + md5_a +
             "\",\"sha1\":null}\n" +
             "{\"kind\":\"file\",\"path\":\"/d/"
             "\\ufffd\",\"path_bytes\":\"2f642ffe\",\"size\":1}\n" +
             "not json\n{\"kind\":\"file\",\"path\":\"/d/x\"} trailing\n" +
             "{\"kind\":\"link\",\"path\":\"/d/\\ud83d\\ude00\",\"size\":0,\"target\":\"a\"}\n" +
             "{\"kind\":\"file\",\"path\":\"/d/cut\"}",
         CatalogueFormat::jsonl_listing,
         "file:/d/a\nb\x01\"|file:/d/\xFE|link:/d/\xF0\x9F\x98\x80|", 3, 3},
        {"md5sum: text and binary marks, escaped names, relative paths, a bad line",
         lower(md5_a) + "  /d/a\n" + md5_a + " *rel/b\n\\" + lower(md5_a) + "  /d/c\\nd\\\\e\n" +
             "1234  /d/short\n" + lower(md5_a) + "  /d/last",
         CatalogueFormat::checksum_list, "file:/d/a|file:rel/b|file:/d/c\nd\\e|file:/d/last|", 1,
         4},
        {"tagged checksums",
         "SHA256 (/d/a (1).txt) = " + lower(sha256_a) + "\nMD5 (x) = " + md5_a + "\n",
         CatalogueFormat::checksum_list, "file:/d/a (1).txt|file:x|", 0, 0},
        {"hashdeep: comments, names with commas",
         "%%%% HASHDEEP-1.0\n%%%% size,md5,sha256,filename\n## Invoked from: /d\n## $ "
         "hashdeep -r /d\n##\n5," +
             lower(md5_a) + "," + lower(sha256_a) + ",/d/a,b.txt\nbad\n",
         CatalogueFormat::hashdeep, "file:/d/a,b.txt|", 1, 7},
        {"the fixed-width listing is told apart and gives no rows",
         "\nStarted Wed Dec 09 17:37:32 2026 GMT\nCOMMAND LINE: x\n", CatalogueFormat::text_listing,
         "", 0, 0},
        {"records without the banner", "       12,345 /d/a.txt\n", CatalogueFormat::text_listing,
         "", 0, 0},
        {"something else", "hello world\n", CatalogueFormat::unknown, "", 0, 0},
        {"an empty file", "", CatalogueFormat::unknown, "", 0, 0},
        {"a header of another program", "kind,name\nfile,a\n", CatalogueFormat::unknown, "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
            const Read r = read_catalogue(c.text, chunk);
            EXPECT_EQ(r.format, c.format);
            EXPECT_EQ(paths_of(r), c.paths);
            EXPECT_EQ(r.skipped, c.skipped);
            EXPECT_EQ(r.first_skipped, c.first_skipped);
        }
    }
}

TEST(EarlierCatalogue, DigestsSizesAndFactsOfARow) {
    const Read csv = read_catalogue(
        "kind,path,size,attributes,md5,sha256,modified,owner\n"
        "file,/d/a,5,A.....," +
        lower(md5_a) + ",," + "2026-01-02T03:04:05.123+00:00,root\n");
    ASSERT_EQ(csv.rows.size(), 1u);
    const EarlierEntry& e = csv.rows[0];
    EXPECT_EQ(e.size, 5);
    EXPECT_EQ(e.digest(DigestId::md5), md5_a);
    EXPECT_EQ(e.digest(DigestId::sha256), "");
    EXPECT_EQ(e.attributes, "A.....");
    EXPECT_EQ(e.modified, "2026-01-02T03:04:05.123+00:00");
    EXPECT_EQ(e.owner, "root");
    EXPECT_FALSE(e.relative_path);

    const Read sums = read_catalogue(lower(sha256_a) + "  a\n" + lower(md5_a) + "  /b\n");
    ASSERT_EQ(sums.rows.size(), 2u);
    EXPECT_EQ(sums.rows[0].digest(DigestId::sha256), sha256_a);
    EXPECT_TRUE(sums.rows[0].relative_path);
    EXPECT_FALSE(sums.rows[0].size.has_value());
    EXPECT_EQ(sums.rows[1].digest(DigestId::md5), md5_a);
    EXPECT_FALSE(sums.rows[1].relative_path);

    const Read deep = read_catalogue("%%%% HASHDEEP-1.0\n%%%% size,md5,sha256,filename\n5," +
                                     lower(md5_a) + "," + lower(sha256_a) + ",rel/a\n");
    ASSERT_EQ(deep.rows.size(), 1u);
    EXPECT_EQ(deep.rows[0].size, 5);
    EXPECT_EQ(deep.rows[0].digest(DigestId::sha256), sha256_a);
    EXPECT_TRUE(deep.rows[0].relative_path);
}

// Rows are split sixteen and eight bytes at a time, a row with a quote the
// long way: a comma, a quote or a line end at every place of a long row, in
// the middle of a block, at its edges and in the bytes after the last.
TEST(EarlierCatalogue, CsvFieldsAreSplitAlikeAtEveryPlaceOfTheRow) {
    const std::string head = "kind,path,size,owner\n";
    for (std::size_t at = 0; at <= 40; ++at) {
        SCOPED_TRACE("at " + std::to_string(at));
        const std::string left = "/d/" + std::string(at, 'n');
        struct Case {
            std::string row;
            std::string path;  // empty: the row is passed over
            std::string owner;
        };
        const Case cases[] = {
            {"file," + left + ",5,o\n", left, "o"},
            {"file,\"" + left + ",x\",5,o\n", left + ",x", "o"},
            {"file,\"" + left + "\"\"q\",5,o\n", left + "\"q", "o"},
            {"file,\"" + left + "\nz\",5,o\r\n", left + "\nz", "o"},
            {"file," + left + ",5,\"o,p\"\n", left, "o,p"},
            // A quote inside a field without quotes, and a comma too many.
            {"file," + left + "\"q,5,o\n", "", ""},
            {"file," + left + ",5,o,\n", "", ""},
            {"file," + left + ",5\n", "", ""},
        };
        for (const Case& c : cases) {
            const Read r = read_catalogue(head + c.row, 1 << 20);
            if (c.path.empty()) {
                EXPECT_EQ(r.rows.size(), 0u) << c.row;
                EXPECT_EQ(r.skipped, 1u) << c.row;
                continue;
            }
            ASSERT_EQ(r.rows.size(), 1u) << c.row;
            EXPECT_EQ(r.rows[0].path, c.path);
            EXPECT_EQ(r.rows[0].size, 5);
            EXPECT_EQ(r.rows[0].owner, c.owner);
        }
    }
}

// Integers are read eight digits at a time up to nineteen, longer ones the
// long way: the same values and the same refusals either way.
TEST(EarlierCatalogue, IntegerFieldsOfEveryLength) {
    struct Case {
        const char* modified_ns;
        const char* inode;
        const char* size;
        std::string facts;  // modified_ns,inode,size; empty when passed over
    };
    const Case cases[] = {
        {"1", "7", "0", "1,7,0"},
        {"12345678", "87654321", "99999999", "12345678,87654321,99999999"},
        {"123456789", "1234567890123456", "12345678901234567",
         "123456789,1234567890123456,12345678901234567"},
        {"9223372036854775807", "18446744073709551615", "9223372036854775807",
         "9223372036854775807,18446744073709551615,9223372036854775807"},
        {"-9223372036854775808", "0000000000000000000000042", "-0", "-9223372036854775808,42,0"},
        {"-1", "00000001", "000000000000000000005", "-1,1,5"},
        {"9223372036854775808", "1", "1", ""},
        {"-9223372036854775809", "1", "1", ""},
        {"1", "18446744073709551616", "1", ""},
        {"1", "99999999999999999999", "1", ""},
        {"1234567a", "1", "1", ""},
        {"1", "1234567890123456/", "1", ""},
        {"1", "12345678:", "1", ""},
        {"+5", "1", "1", ""},
        {"-", "1", "1", ""},
        {"1", "-1", "1", ""},
        {"1", "1", "-5", ""},
        {"1", "1", "12345678 ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.modified_ns) + " " + c.inode + " " + c.size);
        const Read r = read_catalogue(std::string("kind,path,modified_ns,inode,size\nfile,/d/a,") +
                                      c.modified_ns + "," + c.inode + "," + c.size + "\n");
        std::string facts;
        for (const EarlierEntry& e : r.rows)
            facts = std::to_string(*e.modified_ns) + "," + std::to_string(*e.inode) + "," +
                    std::to_string(*e.size);
        EXPECT_EQ(facts, c.facts);
        EXPECT_EQ(r.skipped, c.facts.empty() ? 1u : 0u);
    }
}

// The full-precision times and the identity, as the listing writes them or
// not at all; a value that is no integer of its field makes no row.
TEST(EarlierCatalogue, PreciseTimesAndIdentityOfARow) {
    struct Case {
        const char* what;
        std::string text;
        std::string facts;  // modified_ns,change_time_ns,device,inode,links; '-' absent
        std::uint64_t skipped;
    };
    const std::string head = "kind,path,modified_ns,change_time_ns,device,inode,links\n";
    const Case cases[] = {
        {"csv: every field",
         head + "file,/d/a,1700000000123456789,1700000001000000000,2049,"
                "18446744073709551615,2\n",
         "1700000000123456789,1700000001000000000,2049,18446744073709551615,2", 0},
        {"csv: before 1970", head + "file,/d/a,-1500,-2000,1,2,1\n", "-1500,-2000,1,2,1", 0},
        {"csv: empty fields", head + "file,/d/a,,,,,\n", "-,-,-,-,-", 0},
        {"csv: an older listing without them", "kind,path,size\nfile,/d/a,1\n", "-,-,-,-,-", 0},
        {"jsonl: numbers",
         "{\"kind\":\"file\",\"path\":\"/d/a\",\"modified_ns\":5,"
         "\"change_time_ns\":6,\"device\":7,\"inode\":8,\"links\":1}\n",
         "5,6,7,8,1", 0},
        {"jsonl: nulls",
         "{\"kind\":\"file\",\"path\":\"/d/a\",\"modified_ns\":null,"
         "\"change_time_ns\":null,\"device\":null,\"inode\":null,"
         "\"links\":null}\n",
         "-,-,-,-,-", 0},
        {"csv: garbage", head + "file,/d/a,12x,1,1,1,1\n", "", 1},
        {"csv: a negative inode", head + "file,/d/a,1,1,1,-2,1\n", "", 1},
        {"csv: a device past 64 bits", head + "file,/d/a,1,1,18446744073709551616,1,1\n", "", 1},
        {"jsonl: a fraction", "{\"kind\":\"file\",\"path\":\"/d/a\",\"modified_ns\":1.5}\n", "", 1},
    };
    const auto text = [](const auto& value) {
        return value ? std::to_string(*value) : std::string("-");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = read_catalogue(c.text);
        std::string facts;
        for (const EarlierEntry& e : r.rows)
            facts += text(e.modified_ns) + "," + text(e.change_time_ns) + "," + text(e.device) +
                     "," + text(e.inode) + "," + text(e.links);
        EXPECT_EQ(facts, c.facts);
        EXPECT_EQ(r.skipped, c.skipped);
    }
}

TEST(EarlierCatalogue, AnEndlessLineIsPassedOverNotHeld) {
    std::string text = "kind,path,size\nfile,/d/a,1\nfile,/d/";
    text.append(CatalogueReader::longest_line + 10, 'x');
    text += ",1\nfile,/d/b,2\n";
    const Read r = read_catalogue(text, 1 << 16);
    EXPECT_EQ(paths_of(r), "file:/d/a|file:/d/b|");
    EXPECT_EQ(r.skipped, 1u);
    EXPECT_EQ(r.first_skipped, 3u);
}

TEST(EarlierCatalogue, AFileWhoseFirstLineNeverEndsIsToldAfterItsFirstMebibyte) {
    std::uint64_t handed = 0;
    CatalogueReader reader([&](char* buffer, std::size_t size) {
        std::fill_n(buffer, size, '\0');  // as a 10 GB file of zeros would give
        handed += size;
        return size;
    });
    EXPECT_EQ(reader.format(), CatalogueFormat::unknown);
    EarlierEntry e;
    EXPECT_FALSE(reader.next(e));
    EXPECT_LT(handed, 4u * CatalogueReader::longest_line);
}

// What this program writes, it reads back: the names the writer escapes or
// spells in bytes come back exactly, with their sizes and digests.
TEST(EarlierCatalogue, ListingsOfThisProgramReadBackWhole) {
    for (const char16_t* format : {u"--CSV", u"--JSONL"}) {
        MemoryPlatform mp;
        mp.add_dir(u"C:\\out");
        mp.add_file(u"C:\\d\\a,b", "hello",
                    {.precise = platform::PreciseFacts{-100, 1700000000000000100, 0x1234ABCD,
                                                       0x000500000000002Aull, 3}});
        mp.add_file(u"C:\\d\\q\"t\r\nx", "");
        mp.add_file(u"C:\\d\\s\\z\x00e9", "12");
        const RunResult run = run_in_memory(
            mp, {u"filarix64", u"C:\\d", u"-o", u"C:\\out\\list", format, u"-5", u"--SHA2"});
        ASSERT_EQ(run.code, 1) << run.err;
        const Read r = read_catalogue(mp.contents(u"C:\\out\\list").value_or(""));
        SCOPED_TRACE(platform::utf16_to_utf8_lossless(format));
        EXPECT_EQ(r.skipped, 0u);
        std::string seen;
        for (const EarlierEntry& e : r.rows)
            seen += e.kind + ":" + e.path + ":" + std::to_string(e.size.value_or(-1)) + ":" +
                    e.digest(DigestId::md5).substr(0, 4) + ":" +
                    std::to_string(e.modified_ns.value_or(0)) + ":" +
                    std::to_string(e.change_time_ns.value_or(0)) + ":" +
                    std::to_string(e.device.value_or(0)) + ":" +
                    std::to_string(e.inode.value_or(0)) + ":" +
                    std::to_string(e.links.value_or(0)) + "|";
        EXPECT_EQ(seen,
                  "file:C:\\d\\s\\z\xC3\xA9:2:C20A:0:0:0:0:0|"
                  "file:C:\\d\\a,b:5:5D41:-100:1700000000000000100:305441741:1407374883553322:3|"
                  "file:C:\\d\\q\"t\r\nx:0:D41D:0:0:0:0:0|");
    }
}

}  // namespace
