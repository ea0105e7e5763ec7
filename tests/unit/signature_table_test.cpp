// The header file of file signatures as text in, table and messages out,
// and the check of a file's first bytes against the table.
#include "content/signature_table.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace filarix;

namespace {

std::span<const unsigned char> window_of(const std::string& bytes) {
    return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

// Lines of the header file, numbered as the messages count them: lines
// shorter than five characters with their line end do not count.
const char* const header_text =
    "# File signatures\n"                  // 1, a comment
    "ab\n"                                 // too short: not numbered
    "Windows program,EXE,X4D5A\n"          // 2
    "PNG image,png,X89504e470D0A1A0A\r\n"  // 3, lower-case digits, CR LF
    "ISO image:32769,ISO,CD001\n"          // 4
    ";old entry,OLD,X00\n"                 // 5, a comment
    "abcd\n"                               // 6, examined: no commas
    "Odd:2,ODD,X4D5\n"                     // 7, a digit short
    "Colon in text,TXT,a:b\n"              // 8
    "Tail:-4,NEG,XFFD9\n"                  // 9, a negative offset
    "Two,fields\n"                         // 10
    "Script,SH,#!\n"                       // 11
    "Mz text,MZT,MZ\n"                     // 12, text: shadowed by line 2
    "Fake hex,FHX,XMZ\n"                   // 13, one 0 byte
    "One,two,three,four\n"                 // 14
    "Last,LST,end";                        // 15, no line end: nothing removed

TEST(SignatureTable, EntriesOfAHeaderFile) {
    const HeaderFileLoad load = parse_header_file(header_text);
    EXPECT_FALSE(load.too_many_lines);
    EXPECT_EQ(load.line_count, 16u);
    const struct {
        const char* name;
        const char* extension;
        std::int32_t offset;
        std::string signature;
    } expected[] = {
        {"Windows program", "EXE", 0, "MZ"},
        {"PNG image", "png", 0, "\x89PNG\r\n\x1a\n"},
        {"ISO image", "ISO", 32769, "CD001"},
        {"Odd", "ODD", 2, "\x4d\x50"},
        {"Colon in text", "TXT", 0, "a:b"},
        {"Tail", "NEG", -4, "\xff\xd9"},
        {"Script", "SH", 0, "#!"},
        {"Mz text", "MZT", 0, "MZ"},
        {"Fake hex", "FHX", 0, std::string(1, '\0')},
        {"Last", "LST", 0, "end"},
    };
    ASSERT_EQ(load.table.entries.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const SignatureEntry& e = load.table.entries[i];
        EXPECT_EQ(e.name, expected[i].name);
        EXPECT_EQ(e.extension, expected[i].extension) << e.name;
        EXPECT_EQ(e.offset, expected[i].offset) << e.name;
        EXPECT_EQ(e.signature, expected[i].signature) << e.name;
    }
    const std::vector<std::string> messages = {
        "\nHeader line #6, abcd has incorrect number of fields. bypassing. ",
        "\nHeader line #7, Odd:2,ODD,X4D5 is missing a digit. ",
        "I fix.",
        "\nHeader line #10, Two,fields has incorrect number of fields. bypassing. ",
        "\nHeader line #14, One,two,three,four has incorrect number of fields. bypassing. ",
        "\n",
    };
    EXPECT_EQ(load.messages, messages);
}

TEST(SignatureTable, LineEndsLengthsAndOffsets) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> signatures;  // of the entries, in order
        std::vector<std::int32_t> offsets;
        std::size_t messages;
    } cases[] = {
        {"three characters and a line end are skipped", "a,b\n", {}, {}, 0},
        {"four characters and a line end are examined", "ab,c\n", {}, {}, 1},
        {"CR LF counts as one character", "a,b\r\n", {}, {}, 0},
        {"a last line of five characters keeps all five", "a,b,c", {"c"}, {0}, 0},
        {"a last line of four characters is too short", "a,bc", {}, {}, 0},
        {"a CR not before LF is text", "a,b,c\rd\n", {"c\rd"}, {0}, 0},
        {"an empty file", "", {}, {}, 0},
        {"the offset as atoi reads it",
         "n:  12abc,E,s\nn:,E,s\nn:+7,E,s\n",
         {"s", "s", "s"},
         {12, 0, 7},
         0},
        {"an offset beyond 32 bits saturates",
         "n:99999999999,E,s\nn:-99999999999,E,s\n",
         {"s", "s"},
         {INT_MAX, INT_MIN},
         0},
        {"hex digits in either case, other characters as 0",
         "a,b,X4d5A\na,b,X4G\na,b,Xzz\n",
         {"MZ", "\x40", std::string(1, '\0')},
         {0, 0, 0},
         0},
        {"an empty signature is kept", "a,b,\na,b,X\n", {"", ""}, {0, 0}, 0},
        {"a lower-case x begins text", "a,b,x4D\n", {"x4D"}, {0}, 0},
    };
    for (const auto& c : cases) {
        const HeaderFileLoad load = parse_header_file(c.text);
        std::vector<std::string> signatures;
        std::vector<std::int32_t> offsets;
        for (const SignatureEntry& e : load.table.entries) {
            signatures.push_back(e.signature);
            offsets.push_back(e.offset);
        }
        EXPECT_EQ(signatures, c.signatures) << c.what;
        EXPECT_EQ(offsets, c.offsets) << c.what;
        EXPECT_EQ(load.messages.size(), c.messages) << c.what;
    }
}

TEST(SignatureTable, FiveHundredLinesAtMost) {
    std::string lines;
    for (int i = 0; i < 499; ++i) lines += "#\n";  // short lines count too
    const std::string entry = "Windows program,EXE,MZ\n";
    HeaderFileLoad load = parse_header_file(lines + entry);
    EXPECT_FALSE(load.too_many_lines);
    EXPECT_EQ(load.line_count, 500u);
    EXPECT_EQ(load.table.entries.size(), 1u);
    EXPECT_TRUE(load.messages.empty());

    load = parse_header_file(lines + entry + "x");
    EXPECT_TRUE(load.too_many_lines);
    EXPECT_EQ(load.line_count, 501u);
    EXPECT_TRUE(load.table.entries.empty());
    ASSERT_EQ(load.messages.size(), 5u);
    EXPECT_EQ(load.messages[0].rfind("\nError on line ", 0), 0u);
    EXPECT_NE(load.messages[0].find(" of source code "), std::string::npos);
    EXPECT_EQ(load.messages[1], "Your header file is 501 lines long.\n");
    EXPECT_EQ(load.messages[2], "This is too large for the program to handle. \n");
    EXPECT_EQ(load.messages[3], "For safety, the max number of lines is 500\n");
    EXPECT_EQ(load.messages[4], "Please reduce the size of the header file and rerun program\n");
}

TEST(SignatureCheck, CategoriesAndFlags) {
    const SignatureTable table = parse_header_file(header_text).table;
    std::string iso(32769 + 5, '.');
    iso.replace(32769, 5, "CD001");
    const std::string png = "\x89PNG\r\n\x1a\n rest";
    const struct {
        const char* what;
        std::u16string extension;
        std::string contents;
        std::uint64_t size;  // 0: the contents' length
        int mode;
        int result;
        std::string category;
        int mismatch;
        bool matched;
    } cases[] = {
        {"named as its signature says", u"exe", "MZ\x90\0\3", 0, 1, 1, "EXE", 0, true},
        {"named otherwise", u"txt", "MZ\x90\0\3", 0, 1, 1, "EXE", 1, true},
        {"no extension", u"", "MZ\x90\0\3", 0, 1, 1, "EXE", -1, true},
        {"hexadecimal and case-blind", u"PNG", png, 0, 2, 2, "png", 0, true},
        {"a signature far into the file", u"iso", iso, 0, 1, 3, "ISO", 0, true},
        {"an odd digit count padded with 0", u"odd", "..MP", 0, 1, 4, "ODD", 0, true},
        {"a colon in a text signature", u"txt", "a:b", 0, 1, 5, "TXT", 0, true},
        {"text at offset 0", u"sh", "#!/bin/sh\n", 0, 1, 7, "SH", 0, true},
        {"one 0 byte from XMZ", u"bin", std::string("\0\1\2", 3), 0, 1, 9, "FHX", -1, true},
        {"the last line kept its last character", u"lst", "end.", 0, 1, 10, "LST", 0, true},
        {"text contents in + mode", u"log", "plain text\n", 0, 2, -1, "ASC", 1, false},
        {"text contents in - mode", u"log", "plain text\n", 0, 1, -2, "UNK", 1, false},
        {"six of ten bytes printable", u"dat",
         "ab\x01\x02\x03\x04"
         "cd\n\t",
         0, 2, -1, "ASC", 1, false},
        {"five of ten bytes printable", u"dat",
         "ab\x01\x02\x03\x04\x05"
         "cd\n",
         0, 2, -2, "UNK", 1, false},
        {"a carriage return is not text", u"dat", "ab\r\r\r\r\r\rcd", 0, 2, -2, "UNK", 1, false},
        {"bytes beyond ASCII are not text", u"dat", "\xe9\xe9\xe9\xe9\xe9\xe9zz", 0, 2, -2, "UNK",
         1, false},
        {"fewer than six bytes", u"dat", "abcde", 0, 2, -2, "UNK", 1, false},
        {"binary contents", u"dat", std::string("\x7f\0\0\0", 4), 0, 2, -2, "UNK", 1, false},
        // A signature is never compared with bytes that are not the file's.
        {"a signature reaching past the bytes read", u"iso", iso.substr(0, 32772), 0, 1, -2, "UNK",
         1, false},
        {"a signature reaching past the file's size", u"exe", "MZ", 1, 1, -2, "UNK", 1, false},
        {"an offset past the file's size", u"iso", iso, 32000, 1, -2, "UNK", 1, false},
        {"a negative offset", u"neg", "\xff\xd9\xff\xd9", 0, 1, -2, "UNK", 1, false},
    };
    for (const auto& c : cases) {
        const std::uint64_t size = c.size ? c.size : c.contents.size();
        const FileTypeCheck check =
            check_signatures(table, c.extension, size, window_of(c.contents), c.mode);
        EXPECT_EQ(check.result, c.result) << c.what;
        EXPECT_EQ(check.category, c.category) << c.what;
        EXPECT_EQ(check.extension_mismatch, c.mismatch) << c.what;
        EXPECT_EQ(check.signature_matched, c.matched) << c.what;
    }
}

TEST(SignatureCheck, TableOrderAndItsEnd) {
    const struct {
        const char* what;
        const char* header;
        std::string contents;
        int result;
        std::string category;
    } cases[] = {
        {"the earlier of two matching lines wins", "Exe,EXE,MZ\nCom,COM,X4D\n", "MZ..", 1, "EXE"},
        {"a later line matches when the earlier does not", "Exe,EXE,MZ\nCom,COM,X4D\n", "M...", 2,
         "COM"},
        {"an empty signature ends the table", "Exe,EXE,\nCom,COM,X4D\n", "MZ..", -2, "UNK"},
        {"X alone ends it too", "Exe,EXE,X\nCom,COM,X4D\n", "MZ..", -2, "UNK"},
        {"a bad line is no entry", "Exe,EXE\nCom,COM,X4D\n", "MZ..", 1, "COM"},
        {"a category longer than three letters is kept whole", "Jpeg,JPEG,XFFD8\n", "\xff\xd8\xff",
         1, "JPEG"},
    };
    for (const auto& c : cases) {
        const SignatureTable table = parse_header_file(c.header).table;
        const FileTypeCheck check =
            check_signatures(table, u"x", c.contents.size(), window_of(c.contents), 1);
        EXPECT_EQ(check.result, c.result) << c.what;
        EXPECT_EQ(check.category, c.category) << c.what;
    }
}

TEST(SignatureCheck, OnlyTheFirstBlockOfTheFileIsCompared) {
    // A signature just inside the window matches; one just past it, in a
    // window handed over whole, does not.
    std::string contents(signature_window_size + 10, '\0');
    contents.replace(signature_window_size - 2, 2, "MZ");
    contents.replace(signature_window_size, 2, "PK");
    const SignatureTable table = parse_header_file("Inside:65534,IN,MZ\nPast:65536,OUT,PK\n").table;
    EXPECT_EQ(check_signatures(table, u"in", contents.size(), window_of(contents), 1).result, 1);
    const SignatureTable past = parse_header_file("Past:65536,OUT,PK\n").table;
    EXPECT_EQ(check_signatures(past, u"out", contents.size(), window_of(contents), 1).result, -2);
}

}  // namespace
