// End-to-end: the members of ZIP archives listed below their records, and
// the file-type categories from a header file in its four modes.
#include <algorithm>
#include <random>

#include "e2e_support.hpp"
#include "zip_fixtures.hpp"

namespace {

using e2e::read_file;

using e2e::run;
using e2e::TempTree;
using Lines = std::vector<std::string>;

std::string bytes(const unsigned char* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
#define FIXTURE(name) bytes(zip_fixtures::name, sizeof zip_fixtures::name)

// The lines of a text that begin with the tree's root, or with its
// shortened form: records and member lines.
Lines tree_lines(const std::string& text, const std::string& root) {
    Lines lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        if (text.compare(at, root.size(), root) == 0 || text.compare(at, 6, "/t/...") == 0)
            lines.push_back(text.substr(at, end - at));
    return lines;
}

std::string record(const std::string& path, long long size, const std::string& category = {}) {
    char text[256];
    if (category.empty())
        std::snprintf(text, sizeof text, "%-54.54s  %20lld A...... %sw UTC ", path.c_str(), size,
                      e2e::kStampText);
    else
        std::snprintf(text, sizeof text, "%-54.54s  %20lld A......  %3.3s %sw UTC ", path.c_str(),
                      size, category.c_str(), e2e::kStampText);
    return text;
}

// A member line of the default layout: no attributes, no zone.
std::string member(const std::string& column, long long size, const char* when) {
    char text[256];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld ...... %s      ", column.c_str(), size,
                  when);
    return text;
}

// A stored archive built by hand, for names no archiver test file holds.
std::string stored_zip(const Lines& names) {
    std::vector<zip_fixtures::Member> members;
    for (const std::string& name : names) members.push_back({.name = name, .data = "z"});
    return zip_fixtures::build_zip(members);
}

TEST(ZipListing, MemberLinesFollowEachArchivesRecord) {
    TempTree t;
    const std::string mixed = FIXTURE(mixed_zip);
    t.file("mixed.zip", mixed);
    t.file("zip64.zip", FIXTURE(zip64_zip));
    t.file("empty.zip", FIXTURE(empty_zip));
    t.file("descriptor.zip", FIXTURE(descriptor_zip));
    t.file("pk-only.bin", "PK but nothing else");
    // Cut inside dir/b.log's data: the members before it stay listed.
    t.file("truncated.zip", mixed.substr(0, 115));
    const std::string long_name = std::string(60, 'x') + "/end.txt";
    t.file("odd.zip", stored_zip({"tab\there.txt", "line\nfeed", long_name}));
    t.file("plain.txt", "not an archive");
    const std::string r = t.root() + "/";
    const char* a_time = "02/01/2001 13:05";
    const auto mixed_members = [&](const std::string& archive) {
        return Lines{
            member(r + archive + ">>a.txt", 3, a_time),
            member(r + archive + ">>dir/", 0, "12/31/1999 23:59"),
            member(r + archive + ">>dir/b.log", 24, "07/04/2024 08:30"),
            member(r + archive + ">>\xC3t\xC3.txt", 1, "10/10/2010 10:10"),
        };
    };
    Lines expected{
        record(r + "descriptor.zip", sizeof zip_fixtures::descriptor_zip),
        member(r + "descriptor.zip>>first.txt", 27, a_time),
        member(r + "descriptor.zip>>second.txt", 14, a_time),
        record(r + "empty.zip", sizeof zip_fixtures::empty_zip),
        record(r + "mixed.zip", long(mixed.size())),
    };
    const Lines mixed_lines = mixed_members("mixed.zip");
    const Lines truncated_lines = mixed_members("truncated.zip");
    expected.insert(expected.end(), mixed_lines.begin(), mixed_lines.end());
    const Lines rest{
        record(r + "odd.zip", long(stored_zip({"tab\there.txt", "line\nfeed", long_name}).size())),
        member(r + "odd.zip>>tab?here.txt", 1, a_time),
        member(r + "odd.zip>>line?feed", 1, a_time),
        member("/t/.../end.txt", 1, a_time),
        record(r + "pk-only.bin", 19),
        record(r + "plain.txt", 14),
        record(r + "truncated.zip", 115),
        truncated_lines[0],
        truncated_lines[1],
        record(r + "zip64.zip", sizeof zip_fixtures::zip64_zip),
        member(r + "zip64.zip>>big.bin", 10, a_time),
        member(r + "zip64.zip>>after.txt", 2, a_time),
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    const auto result = run({t.root(), "--ziplog"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(tree_lines(result.err, r), expected);
    // Only the cut archive is said to be incomplete.
    const std::string word = "Ziplog check, archive cannot be read whole, members may be missing: ";
    EXPECT_NE(result.err.find("\n" + word + r + "truncated.zip\n"), std::string::npos);
    EXPECT_EQ(result.err.find(word), result.err.rfind(word));

    // Into a ZIP log file of its own: the listing keeps only the records,
    // and the listing file's summary counts the member lines.
    const std::string log = t.path("members.log");
    const std::string listing = t.path("listing.txt");
    const auto to_file = run({t.root(), "--ziplog=" + log, "-o", listing});
    EXPECT_EQ(to_file.status, 1);
    const std::string members = read_file(log);
    Lines member_lines;
    for (const std::string& line : expected)
        if (line.find(">>") != std::string::npos || line.starts_with("/t/"))
            member_lines.push_back(line);
    std::string joined;
    for (const std::string& line : member_lines) joined += line + "\n";
    EXPECT_EQ(members, joined);
    const std::string list = read_file(listing);
    EXPECT_EQ(list.find(">>"), std::string::npos);
    EXPECT_NE(list.find("  Includes 13 files embedded within zipfile --ziplog\n"),
              std::string::npos)
        << list;
}

// A jar as the usual tools write it: every member's sizes follow its data.
// Its names and values as the listing, CSV and JSON Lines show them.
TEST(ZipListing, StreamedMembersCodePageNamesAndOddValues) {
    TempTree t;
    const std::string jar = zip_fixtures::build_zip({
        {.name = "META-INF/MANIFEST.MF", .data = "Manifest-Version: 1.0\r\n", .streamed = true},
        {.name = "Gr\x94\xE1"
                 "e.txt",  // "Größe.txt" in code page 437, without the UTF-8 flag
         .data = "abc",
         .streamed = true},
        {.name = "no-date", .data = "", .date = 0, .time = 0, .streamed = true},
        {.name = std::string("nul\0name", 8), .data = "x", .streamed = true},
        {.name = "largest", .data = "", .size = UINT64_MAX, .streamed = true, .zip64 = true},
    });
    t.file("app.jar", jar);
    const std::string r = t.root() + "/";
    const std::string a = r + "app.jar>>";
    const char* a_time = "02/01/2001 13:05";
    char largest[256];
    std::snprintf(largest, sizeof largest, "%-54.54s  18446744073709551615 ...... %s      ",
                  (a + "largest").c_str(), a_time);
    const Lines expected{
        record(r + "app.jar", long(jar.size())),
        member(a + "META-INF/MANIFEST.MF", 23, a_time),
        // The default path column keeps one byte of each character.
        member(a + "Gr\xC3\xC3" + "e.txt", 3, a_time),
        member(a + "no-date", 0, "00/00/1980 00:00"),
        member(a + "nul?name", 1, a_time),
        largest,
    };
    const auto fixed = run({t.root(), "--ziplog"});
    EXPECT_EQ(fixed.status, 1);
    EXPECT_EQ(tree_lines(fixed.err, r), expected);
    EXPECT_EQ(fixed.err.find("Ziplog check"), std::string::npos) << fixed.err;

    // The fields: kind, path, path_bytes, size, attributes, modified, zone,
    // modified_ns, change_time_ns, device, inode, links, target.
    // A DOS time has no zone; a date of 0 is no time; a member has no
    // status of its own; a NUL is never written raw.
    std::string nul_hex;
    for (const unsigned char c : a + std::string("nul\0name", 8)) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", c);
        nul_hex += hex;
    }
    const Lines csv_rows{
        "zip member," + a + "META-INF/MANIFEST.MF,,23,,2001-02-01T13:05:08,,,,,,,",
        "zip member," + a + "Gr\xC3\xB6\xC3\x9F" + "e.txt,,3,,2001-02-01T13:05:08,,,,,,,",
        "zip member," + a + "no-date,,0,,,,,,,,,",
        "zip member," + a + "nul\xEF\xBF\xBDname," + nul_hex + ",1,,2001-02-01T13:05:08,,,,,,,",
        "zip member," + a + "largest,,18446744073709551615,,2001-02-01T13:05:08,,,,,,,",
    };
    const auto csv = run({t.root(), "--ziplog", "--CSV", "-o", "stdout"});
    EXPECT_EQ(csv.status, 1);
    Lines rows;
    for (std::size_t at = 0, end; (end = csv.out.find("\r\n", at)) != std::string::npos;
         at = end + 2)
        if (csv.out.compare(at, 11, "zip member,") == 0)
            rows.push_back(csv.out.substr(at, end - at));
    EXPECT_EQ(rows, csv_rows) << csv.out;

    const auto json = run({t.root(), "--ziplog", "--JSONL", "-o", "stdout"});
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.out.find("{\"kind\":\"zip member\",\"path\":\"" + a +
                            "no-date\",\"size\":0,\"attributes\":null,\"modified\":null,"
                            "\"zone\":null,\"modified_ns\":null,\"change_time_ns\":null,"
                            "\"device\":null,\"inode\":null,\"links\":null}\n"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"size\":18446744073709551615,"), std::string::npos);
    // Only the archive's own row has a zone.
    EXPECT_EQ(json.out.find("\"zone\":\"UTC\""), json.out.rfind("\"zone\":\"UTC\""));
}

// Random archives, mutated and cut ones, through the real binary: it never
// crashes or hangs, and each member line it writes is counted.
TEST(ZipListing, DamagedArchivesNeverStopTheRun) {
    TempTree t;
    const std::string archives[] = {FIXTURE(mixed_zip), FIXTURE(zip64_zip),
                                    FIXTURE(descriptor_zip)};
    std::mt19937 random(20261209);
    int n = 0;
    for (const std::string& archive : archives) {
        for (std::size_t cut = 1; cut < archive.size(); cut += 3)
            t.file("cut" + std::to_string(n++) + ".zip", archive.substr(0, cut));
        for (int i = 0; i < 150; ++i) {
            std::string mutated = archive;
            for (int k = 0; k < 1 + int(random() % 4); ++k)
                mutated[random() % mutated.size()] = char(random());
            t.file("mut" + std::to_string(n++) + ".zip", mutated);
        }
    }
    for (int i = 0; i < 100; ++i) {
        std::string noise = "PK\x03\x04";
        for (unsigned k = random() % 200; k > 0; --k) noise += char(random());
        t.file("noise" + std::to_string(n++) + ".zip", noise);
    }
    const std::string listing = t.path("listing.txt");
    const std::string log = t.path("members.log");
    const auto result = run({t.root(), "--ziplog=" + log, "-o", listing});
    ASSERT_EQ(result.status, 1) << result.err;
    const std::string members = read_file(log);
    const auto lines = std::count(members.begin(), members.end(), '\n');
    ASSERT_GT(lines, 0);
    EXPECT_NE(read_file(listing).find("  Includes " + std::to_string(lines) + " files embedded"),
              std::string::npos);
}

// Line numbers count lines of five characters or more with their line end;
// "ab" is skipped and not numbered.
constexpr const char* kHeaderFile =
    "# signatures for the test\n"
    "Windows program,EXE,X4D5A\n"
    "ab\n"
    "PDF document,PDF,%PDF-\n"
    "ISO image:8,ISO,CD001\n"
    "Odd digits,ODD,X4D5\n"
    "no fields here\n"
    "; a comment\n"
    "Lower hex,GZ,X1f8b\n";

constexpr const char* kLoadMessages =
    "\nHeader line #5, Odd digits,ODD,X4D5 is missing a digit. I fix."
    "\nHeader line #6, no fields here has incorrect number of fields. bypassing. \n";

struct TypedFile {
    const char* name;
    std::string contents;
    const char* minus;  // category with -h ("" for none), and whether -H lists it
    bool minus_listed;
    const char* plus;  // with +h, and whether +H lists it
    bool plus_listed;
};

TEST(FileType, CategoriesAndFiltersInAllFourModes) {
    const std::vector<TypedFile> files = {
        {"blob.dat", std::string("\0\1\2\3\4\5\6\7\10\11\12", 11), "UNK", false, "UNK", false},
        {"data.gz", "\x1f\x8b\x08\x00rest", "GZ", false, "GZ", true},
        {"doc.pdf", "%PDF-1.4\n", "PDF", false, "PDF", true},
        {"empty.txt", "", "   ", true, "   ", true},
        {"image.iso", "01234567CD001 and more", "ISO", false, "ISO", true},
        {"notes.txt", "hello world\nmore text\n", "UNK", false, "ASC", false},
        {"odd.bin", std::string("MP\0\1\2", 5), "ODD", true, "ODD", false},
        {"prog.exe", std::string("MZ\x90\0", 4), "EXE", false, "EXE", true},
        {"prog.txt", std::string("MZ\x90\0", 4), "EXE", true, "EXE", false},
        // The signature would reach past the end of the file.
        {"short.iso", "01234567CD0", "UNK", false, "ASC", false},
    };
    TempTree t;
    const std::string header = t.file("table/types.txt", kHeaderFile);
    for (const TypedFile& f : files) t.file("files/" + std::string(f.name), f.contents);
    const std::string r = t.path("files") + "/";
    for (const char* mode : {"-h", "+h", "-H", "+H"}) {
        SCOPED_TRACE(mode);
        const bool plus = mode[0] == '+';
        const bool only = mode[1] == 'H';
        Lines expected;
        for (const TypedFile& f : files)
            if (!only || (plus ? f.plus_listed : f.minus_listed))
                expected.push_back(
                    record(r + f.name, long(f.contents.size()), plus ? f.plus : f.minus));
        const auto result = run({t.path("files"), mode, header});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.starts_with(kLoadMessages)) << result.err;
        EXPECT_EQ(tree_lines(result.err, r), expected);
    }
}

TEST(FileType, HeaderFilesThatEndTheRun) {
    TempTree t;
    t.file("files/a.txt", "text");
    std::string lines500;
    for (int i = 0; i < 500; ++i) lines500 += "# comment line\n";
    t.file("500.txt", lines500);
    t.file("501.txt", lines500 + "Windows program,EXE,MZ\n");
    const auto fine = run({t.path("files"), "-h", t.path("500.txt")});
    EXPECT_EQ(fine.status, 1) << fine.err;

    const auto too_long = run({t.path("files"), "-h", t.path("501.txt")});
    EXPECT_EQ(too_long.status, 3);
    EXPECT_NE(too_long.err.find("Your header file is 501 lines long.\n"
                                "This is too large for the program to handle. \n"
                                "For safety, the max number of lines is 500\n"
                                "Please reduce the size of the header file and rerun program\n"),
              std::string::npos)
        << too_long.err;

    const auto missing = run({t.path("files"), "+H", t.path("nowhere.txt")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.err.starts_with("\nYour header file " + t.path("nowhere.txt") +
                                        " is not capable of being read from."
                                        "\nMake certain the file exists and is readable.\n"))
        << missing.err;
}

}  // namespace
