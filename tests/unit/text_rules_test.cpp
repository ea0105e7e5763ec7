// Pure text rules of the record and the walker: number grouping, exclude
// masks, path shortening and splitting, UTF-8 and the one-byte path column.
#include <gtest/gtest.h>

#include "core/numbers.hpp"
#include "driver/walker.hpp"
#include "record/name_shortening.hpp"
#include "record/process_entry.hpp"
#include "record/utf8.hpp"

using namespace filarix;

using platform::PathSyntax;

TEST(FormatThousands, GroupsDigitsFromTheRight) {
    const struct {
        std::uint32_t value;
        const char* text;
    } cases[] = {{0, "0"},
                 {7, "7"},
                 {999, "999"},
                 {1000, "1,000"},
                 {12345, "12,345"},
                 {1234567, "1,234,567"},
                 {100000, "100,000"},
                 {4294967295u, "4,294,967,295"}};
    for (const auto& c : cases) EXPECT_EQ(format_thousands(c.value), c.text) << c.value;
}

TEST(FormatThousands, SixtyFourBitWithSign) {
    EXPECT_EQ(format_thousands64(-1234567), "-1,234,567");
    EXPECT_EQ(format_thousands64(-1000), "-1,000");
    EXPECT_EQ(format_thousands64(-999), "-999");
    EXPECT_EQ(format_thousands64(0), "0");
    EXPECT_EQ(format_thousands64(INT64_MAX), "9,223,372,036,854,775,807");
    EXPECT_EQ(format_thousands64(INT64_MIN), "-9,223,372,036,854,775,808");
}

TEST(WildcardMatch, FollowsFnmatchRules) {
    const struct {
        const char16_t* pattern;
        const char16_t* name;
        bool match;
    } cases[] = {
        {u"*.TMP", u"A.TMP", true},
        {u"*.TMP", u"A.TMPX", false},
        {u"A?C", u"ABC", true},
        {u"A?C", u"AC", false},
        {u"*", u"", true},
        {u"", u"", true},
        {u"", u"A", false},
        {u"**X", u"ABX", true},
        {u"A*B*C", u"AXXBYYC", true},
        {u"A*B*C", u"AXXBYY", false},
        {u"*A*", u"BAB", true},
        {u"?", u"", false},
        {u"[ABC]X", u"BX", true},
        {u"[ABC]X", u"DX", false},
        {u"[!ABC]X", u"DX", true},
        {u"[^ABC]X", u"AX", false},
        {u"[A-C]", u"B", true},
        {u"[A-C]", u"D", false},
        {u"[]A]", u"]", true},
        {u"[AB", u"A", false},
        {u"[A]", u"", false},
        {u"\\*", u"*", true},
        {u"\\*", u"A", false},
        {u"[\\]]", u"]", true},
        {u"A.B", u"A.B", true},
        {u"A\\B", u"AB", true},
        {u"*.*", u"NOEXT", false},
        {u"*X*Y*Z", u"XAYBZXYZ", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::wildcard_match(c.pattern, c.name), c.match)
            << std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern));
}

TEST(WildcardMatch, ManyStarsStayFast) {
    const std::u16string pattern = u"*A*A*A*A*A*A*A*A*A*A*A*A*B";
    const std::u16string name(5000, u'A');
    EXPECT_FALSE(platform::wildcard_match(pattern, name));
}

TEST(NameShorten, KeepsDriveAndTail) {
    const auto& w = PathSyntax::windows();
    EXPECT_EQ(name_shorten(w, u"\\\\?\\C:\\a\\bbbbbb\\cccc\\file.txt", 20),
              u"C:\\...\\cccc\\file.txt");
    // Below 8 the whole path comes back, without its prefix.
    EXPECT_EQ(name_shorten(w, u"\\\\?\\C:\\a\\bbbbbb\\cccc\\file.txt", 7),
              u"C:\\a\\bbbbbb\\cccc\\file.txt");
    // Short enough already.
    EXPECT_EQ(name_shorten(w, u"\\\\?\\C:\\a.txt", 54), u"C:\\a.txt");
    // No separator in the last width-6 characters: head and last component.
    EXPECT_EQ(name_shorten(w, u"C:\\dir\\averyveryverylongfilename.txt", 12),
              u"C:\\...\\averyveryverylongfilename.txt");
    // A UNC path keeps its two leading backslashes as its head.
    EXPECT_EQ(name_shorten(w, u"\\\\SERVER\\SHARE\\deep\\dir\\f.txt", 16),
              u"\\\\\\...\\dir\\f.txt");
    const auto& p = PathSyntax::posix();
    EXPECT_EQ(name_shorten(p, u"/home/user/projects/cat/file.txt", 20), u"/h/.../cat/file.txt");
}

TEST(NameElide, KeepsHeadAndLastComponent) {
    const auto& w = PathSyntax::windows();
    EXPECT_EQ(name_elide(w, u"C:\\aaaa\\bbbb\\file.txt", 15), u"C:\\...\\file.txt");
    EXPECT_EQ(name_elide(w, u"C:\\aaaa\\bbbb\\file.txt", 10), u"C:\\aaaa\\bbbb\\file.txt");
    EXPECT_EQ(name_elide(w, u"\\\\?\\C:\\aaaa\\bbbb\\file.txt", 10), u"C:\\aaaa\\bbbb\\file.txt");
    // The prefix takes no room in the head.
    EXPECT_EQ(name_elide(w, u"\\\\?\\C:\\aaaa\\bbbb\\file.txt", 15), u"C:\\...\\file.txt");
    // A file name longer than the width: whole path, "..." and the tail.
    EXPECT_EQ(name_elide(w, u"C:\\d\\averylongfilename.txt", 12),
              u"C:\\d\\averylongfilename.txt...\\averylongfilename.txt");
}

TEST(SplitPath, ShortAndLongPathsAgree) {
    const auto& w = PathSyntax::windows();
    const struct {
        std::u16string path;
        const char16_t *drive, *dir, *base, *ext;
    } cases[] = {
        {u"C:\\dir\\file.txt", u"C:", u"\\dir\\", u"file", u".txt"},
        {u"C:\\dir\\archive.tar.gz", u"C:", u"\\dir\\", u"archive.tar", u".gz"},
        {u"C:\\dir\\noext", u"C:", u"\\dir\\", u"noext", u""},
        {u"\\\\SERVER\\SHARE\\f.c", u"", u"\\\\SERVER\\SHARE\\", u"f", u".c"},
    };
    for (const auto& c : cases) {
        const PathParts a = split_display_path(w, c.path);
        EXPECT_EQ(a.drive, c.drive);
        EXPECT_EQ(a.directory, c.dir);
        EXPECT_EQ(a.base, c.base);
        EXPECT_EQ(a.extension, c.ext);
        const PathParts b = split_long_path(w, c.path);
        EXPECT_EQ(b.drive, c.drive);
        EXPECT_EQ(b.directory, c.dir);
        EXPECT_EQ(b.base, c.base);
        EXPECT_EQ(b.extension, c.ext);
    }
    // The long splitter takes the drive of a prefixed path and stops the
    // name at a stream colon.
    const PathParts s = split_long_path(w, u"\\\\?\\D:\\x\\f.txt:stream");
    EXPECT_EQ(s.drive, u"D:");
    EXPECT_EQ(s.directory, u"\\x\\");
    EXPECT_EQ(s.base, u"f");
    EXPECT_EQ(s.extension, u".txt:stream");
    // Paths past 255 characters go to the long splitter.
    const std::u16string deep = u"C:\\" + std::u16string(300, u'd') + u"\\n.e";
    EXPECT_EQ(split_display_path(w, deep).base, u"n");
}

TEST(ToUtf8, EncodesPairsAndLoneSurrogates) {
    const auto& w = PathSyntax::windows();
    EXPECT_EQ(to_utf8(w, u"abc").bytes, "abc");
    EXPECT_FALSE(to_utf8(w, u"abc").above_127);
    EXPECT_EQ(to_utf8(w, u"caf\u00e9").bytes, "caf\xc3\xa9");
    EXPECT_TRUE(to_utf8(w, u"caf\u00e9").above_127);
    EXPECT_EQ(to_utf8(w, u"\u20ac").bytes, "\xe2\x82\xac");
    EXPECT_EQ(to_utf8(w, u"\U0001F600").bytes, "\xf0\x9f\x98\x80");
    const char16_t lone_low[] = {u'a', 0xDC00, u'b', 0};
    EXPECT_EQ(to_utf8(w, lone_low).bytes,
              "a\xed\xb0\x80"
              "b");
    const char16_t trailing_high[] = {u'a', 0xD800, 0};
    EXPECT_EQ(to_utf8(w, trailing_high).bytes, "a");
    // Raw name bytes come back unchanged where the syntax escapes them.
    const char16_t escaped[] = {u'x', 0xDCFF, 0};
    EXPECT_EQ(to_utf8(PathSyntax::posix(), escaped).bytes, "x\xff");
    // Never more than the conversion buffer holds.
    EXPECT_EQ(to_utf8(w, std::u16string(40000, u'\u00e9')).bytes.size(), 32766u);
}

TEST(PathColumn, EveryCharacterStaysOneByte) {
    std::u16string text = u"caf\u00e9 \u20ac\U0001F600.txt";
    squeeze_to_bytes(PathSyntax::windows(), text);
    EXPECT_EQ(text,
              (std::u16string{u'c', u'a', u'f', 0xC3, u' ', 0xE2, 0xF0, u'.', u't', u'x', u't'}));
    std::u16string raw = {u'a', 0xDCFF, u'b'};
    squeeze_to_bytes(PathSyntax::posix(), raw);
    EXPECT_EQ(raw, (std::u16string{u'a', 0xFF, u'b'}));
}

TEST(PathColumn, DriveOffsetSkipsTheLongPrefix) {
    const auto& w = PathSyntax::windows();
    EXPECT_EQ(drive_offset(w, u"\\\\?\\C:\\x\\f"), 4u);
    EXPECT_EQ(drive_offset(w, u"C:\\x\\f"), 0u);
    EXPECT_EQ(drive_offset(w, u"\\\\SERVER\\S\\f"), 0u);
    // POSIX paths have no drive, even with a colon in a name.
    EXPECT_EQ(drive_offset(PathSyntax::posix(), u"/a:b/f"), 0u);
}

TEST(AttributeLetters, OneLetterPerBitInOrder) {
    namespace a = platform::attr;
    EXPECT_EQ(attribute_letters(0), "......");
    EXPECT_EQ(attribute_letters(a::archive), "A.....");
    EXPECT_EQ(attribute_letters(a::archive | a::hidden | a::readonly | a::system | a::directory |
                                a::encrypted),
              "AHRSDE");
    EXPECT_EQ(attribute_letters(a::directory | a::reparse_point), "....D.");
}
