#include "platform/path_syntax.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using platform::PathSyntax;

struct MaskCase {
    std::u16string_view mask;
    std::u16string_view name;
    bool matches;
};

TEST(PathSyntax, MaskMatches) {
    const MaskCase cases[] = {
        {u"*.*", u"a.txt", true},
        {u"*.*", u"noext", true},
        {u"*.*", u".", true},
        {u"*.*", u"..", true},
        {u"*", u"a.txt", true},
        {u"*", u"noext", true},
        {u"*", u"", true},
        {u"a?c", u"abc", true},
        {u"a?c", u"aXc", true},
        {u"a?c", u"ac", false},
        {u"a?c", u"abbc", false},
        {u"*.c", u"main.c", true},
        {u"*.c", u"MAIN.C", true},
        {u"*.c", u"main.cpp", false},
        {u"*.c", u"c", false},
        {u"*.c", u".c", true},
        {u"*.c", u"x.y.c", true},
        {u"name.*", u"name", true},
        {u"name.*", u"NAME", true},
        {u"name.*", u"name.txt", true},
        {u"name.*", u"name.", true},
        {u"name.*", u"names", false},
        {u"name.*", u"other.txt", false},
        {u"README", u"readme", true},
        {u"ReadMe.Txt", u"README.TXT", true},
        {u"abc", u"abcd", false},
        {u"*a*b*", u"xxaYYbzz", true},
        {u"*a*b*", u"xxbYYazz", false},
        {u"?", u"", false},
        {u"??", u"ab", true},
        {u"*.txt", u"", false},
        {u"\u00e9*", u"\u00c9t\u00e9", false},  // only ASCII letters fold
        {u"\u00e9*", u"\u00e9t\u00e9", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::mask_matches(c.mask, c.name), c.matches)
            << platform::utf16_to_utf8_lossless(c.mask) << " vs "
            << platform::utf16_to_utf8_lossless(c.name);
    }
}

TEST(PathSyntax, HasWildcards) {
    EXPECT_TRUE(platform::has_wildcards(u"*.c"));
    EXPECT_TRUE(platform::has_wildcards(u"a?c"));
    EXPECT_FALSE(platform::has_wildcards(u"abc.c"));
    EXPECT_FALSE(platform::has_wildcards(u""));
}

struct OrderCase {
    std::u16string_view a;
    std::u16string_view b;
    bool less;
};

TEST(PathSyntax, NameLess) {
    const OrderCase cases[] = {
        {u"a", u"b", true},      {u"B", u"a", false},
        {u"a", u"B", true},  // case folded before comparing
        {u"abc", u"abcd", true}, {u"abcd", u"abc", false},
        {u"ABC", u"abc", true},  // equal folded: exact code units decide
        {u"abc", u"ABC", false}, {u"abc", u"abc", false},
        {u"", u"a", true},       {u"_", u"a", false},  // '_' sorts after the upper-case letters
        {u"Z", u"_", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::name_less(c.a, c.b), c.less)
            << platform::utf16_to_utf8_lossless(c.a) << " < "
            << platform::utf16_to_utf8_lossless(c.b);
    }
}

TEST(PathSyntax, CaseFolding) {
    EXPECT_EQ(platform::ascii_upper(u"abc-XYZ-\u00e9"), u"ABC-XYZ-\u00e9");
    EXPECT_TRUE(platform::equal_ignoring_case(u"C:\\Work", u"c:\\WORK"));
    EXPECT_FALSE(platform::equal_ignoring_case(u"abc", u"abcd"));
}

struct Utf8Case {
    std::string_view bytes;
    std::u16string_view text;
};

TEST(PathSyntax, Utf8ToUtf16) {
    const Utf8Case cases[] = {
        {"plain", u"plain"},
        {"", u""},
        {"caf\xC3\xA9", u"caf\u00e9"},
        {"\xE2\x82\xAC", u"\u20ac"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // 4 bytes: a surrogate pair
        {"a\xFF"
         "b",
         u"a\xDCFF"
         "b"},                                              // never valid
        {"\xC0\x80", u"\xDCC0\xDC80"},                      // overlong NUL
        {"\x80x", u"\xDC80x"},                              // lone continuation byte
        {"\xC3", u"\xDCC3"},                                // truncated sequence
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        const std::u16string text = platform::utf8_to_utf16_lossless(c.bytes);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(platform::utf16_to_utf8_lossless(text), c.bytes);
    }
}

TEST(PathSyntax, Utf16ToUtf8) {
    EXPECT_EQ(platform::utf16_to_utf8_lossless(u"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(platform::utf16_to_utf8_lossless(u"\u20ac"), "\xE2\x82\xAC");
    EXPECT_EQ(platform::utf16_to_utf8_lossless(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(platform::utf16_to_utf8_lossless(u"\u07FF\u0800"), "\xDF\xBF\xE0\xA0\x80");
}

TEST(PathSyntax, EveryByteSurvivesTheRoundTrip) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    bytes += "\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(platform::utf16_to_utf8_lossless(platform::utf8_to_utf16_lossless(bytes)), bytes);
}

TEST(PathSyntax, Widen) {
    EXPECT_EQ(platform::widen("C:\\work"), u"C:\\work");
    EXPECT_EQ(platform::widen(""), u"");
    EXPECT_EQ(platform::widen("\xE9"), u"\u00e9");  // one unit per byte
}

struct PrefixCase {
    const PathSyntax* syntax;
    std::u16string_view path;
    bool prefixed;
    std::u16string_view without;
};

TEST(PathSyntax, LongPrefix) {
    const PathSyntax* win = &PathSyntax::windows();
    const PathSyntax* posix = &PathSyntax::posix();
    const PrefixCase cases[] = {
        {win, u"\\\\?\\C:\\x", true, u"C:\\x"},
        {win, u"\\\\?\\UNC\\server\\share", true, u"UNC\\server\\share"},
        {win, u"C:\\x", false, u"C:\\x"},
        {win, u"\\\\server\\share", false, u"\\\\server\\share"},
        {win, u"\\\\?", false, u"\\\\?"},
        {win, u"//?/C:/x", false, u"//?/C:/x"},
        {posix, u"\\\\?\\C:\\x", false, u"\\\\?\\C:\\x"},
        {posix, u"/home/x", false, u"/home/x"},
        {posix, u"", false, u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.syntax->has_long_prefix(c.path), c.prefixed)
            << platform::utf16_to_utf8_lossless(c.path);
        EXPECT_EQ(c.syntax->without_long_prefix(c.path), c.without)
            << platform::utf16_to_utf8_lossless(c.path);
    }
}

TEST(PathSyntax, FamilyRules) {
    const PathSyntax& win = PathSyntax::windows();
    const PathSyntax& posix = PathSyntax::posix();
    EXPECT_EQ(win.separator, u'\\');
    EXPECT_TRUE(win.is_separator(u'/'));
    EXPECT_TRUE(win.same_path(u"C:\\Work", u"c:\\work"));
    EXPECT_EQ(posix.separator, u'/');
    EXPECT_FALSE(posix.same_path(u"/Work", u"/work"));
    EXPECT_TRUE(posix.same_path(u"/work", u"/work"));
}

struct GlobCase {
    const PathSyntax* syntax;
    std::u16string_view glob;
    std::u16string_view path;
    bool matches;
};

TEST(PathSyntax, GlobMatches) {
    const PathSyntax* posix = &PathSyntax::posix();
    const PathSyntax* win = &PathSyntax::windows();
    const GlobCase cases[] = {
        {posix, u"b", u"b", true},
        {posix, u"b", u"a/b", false},
        {posix, u"cache*", u"cache-2024", true},
        {posix, u"*", u"a/b", false},  // one name only
        {posix, u"a/*", u"a/b", true},
        {posix, u"a/*", u"a/b/c", false},
        {posix, u"a/?", u"a/b", true},
        {posix, u"a?b", u"a/b", false},  // "?" never stands for a separator
        {posix, u"**", u"a/b/c", true},
        {posix, u"**/b", u"b", true},  // "**/" may be no directory at all
        {posix, u"**/b", u"a/x/b", true},
        {posix, u"**/b", u"a/xb", false},
        {posix, u"a/**/c", u"a/c", true},
        {posix, u"a/**/c", u"a/b/d/c", true},
        {posix, u"a/**", u"a/b/c", true},
        {posix, u"a/**", u"ab", false},
        {posix, u"**b", u"a/b", true},
        {posix, u"**.git", u"x/y.git", true},
        {posix, u"***/b", u"a/b", true},                   // a run of stars is one "**"
        {posix, u"node_modules", u"Node_Modules", false},  // case counts here
        {posix, u"a\\b", u"a\\b", true},                   // a backslash is a name's character
        {posix, u"a\\b", u"a/b", false},
        {posix, u"", u"", true},
        {posix, u"", u"a", false},
        {posix, u"*", u"", true},
        {win, u"node_modules", u"NODE_MODULES", true},
        {win, u"a/*/c", u"A\\B\\C", true},  // either separator on either side
        {win, u"a\\**", u"a/b/c", true},
        {win, u"**\\build", u"src\\Build", true},
        {win, u"a?b", u"a\\b", false},
        {win, u"\u00e9*", u"\u00c9t\u00e9", false},  // only ASCII letters fold
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.syntax->glob_matches(c.glob, c.path), c.matches)
            << platform::utf16_to_utf8_lossless(c.glob) << " vs "
            << platform::utf16_to_utf8_lossless(c.path);
    }
}

}  // namespace
