// The Windows backend's pure rules, checked on any host.
#include "platform/win32/win32_rules.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using platform::CivilTime;
using namespace platform::win32;

namespace {

// The runtime's reading of one argument from a command line, for round
// trips: quotes toggle, 2n backslashes before a quote are n and the quote
// is special, 2n+1 are n and a literal quote.
std::vector<std::u16string> parse_command_line(std::u16string_view line) {
    std::vector<std::u16string> args;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
        if (i == line.size()) break;
        std::u16string arg;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            std::size_t slashes = 0;
            while (i < line.size() && line[i] == u'\\') ++slashes, ++i;
            if (i < line.size() && line[i] == u'"') {
                arg.append(slashes / 2, u'\\');
                if (slashes % 2) {
                    arg += u'"';
                    continue;
                }
                quoted = !quoted;
                continue;
            }
            arg.append(slashes, u'\\');
            if (i == line.size()) break;
            if (!quoted && (line[i] == u' ' || line[i] == u'\t')) break;
            arg += line[i];
        }
        args.push_back(arg);
    }
    return args;
}

TEST(Win32Rules, CommandArgumentsSurviveTheRuntimeParser) {
    struct Case {
        std::u16string arg;
        std::u16string written;
    };
    const Case cases[] = {
        {u"plain", u"plain"},
        {u"C:\\dir\\f.txt", u"C:\\dir\\f.txt"},
        {u"", u"\"\""},
        {u"with space", u"\"with space\""},
        {u"C:\\my dir\\", u"\"C:\\my dir\\\\\""},  // trailing backslash doubled
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"a\\\"b", u"\"a\\\\\\\"b\""},
        {u"tab\there", u"\"tab\there\""},
        {u"a&b|c^d", u"\"a&b|c^d\""},  // cmd may read it again: quoted
    };
    for (const auto& c : cases) {
        std::u16string line;
        append_command_argument(line, c.arg);
        EXPECT_EQ(line, c.written);
        std::u16string whole = u"prog.exe";
        whole += u' ';
        append_command_argument(whole, c.arg);
        const auto back = parse_command_line(whole);
        ASSERT_EQ(back.size(), 2u);
        EXPECT_EQ(back[1], c.arg);
    }
}

TEST(Win32Rules, StreamHeaderFieldsAreLittleEndian) {
    const unsigned char raw[stream_header_size] = {0x04, 0,    0,    0,  // alternate data
                                                   0x08, 0,    0,    0,  // attributes
                                                   0x10, 0x32, 0x54, 0x76,
                                                   0x01, 0,    0,    0,   // size above 4 GiB
                                                   0x1C, 0,    0,    0};  // name bytes
    const StreamHeader h = parse_stream_header(raw);
    EXPECT_EQ(h.id, 4u);
    EXPECT_EQ(h.attributes, 8u);
    EXPECT_EQ(h.size, 0x176543210LL);
    EXPECT_EQ(h.name_bytes, 28u);
}

// Reparse data as the file system hands it out: the tag, the places of
// the two names, then the names (a symbolic link's after its flags).
std::vector<unsigned char> reparse_data(std::uint32_t tag, std::u16string_view substitute,
                                        std::u16string_view print) {
    std::vector<unsigned char> d;
    const auto put16 = [&](std::size_t v) {
        d.push_back(static_cast<unsigned char>(v & 0xFF));
        d.push_back(static_cast<unsigned char>(v >> 8 & 0xFF));
    };
    put16(tag & 0xFFFF);
    put16(tag >> 16);
    put16(0);  // data length and reserved: not read
    put16(0);
    put16(0);
    put16(substitute.size() * 2);
    put16(substitute.size() * 2);
    put16(print.size() * 2);
    if (tag == reparse_tag_symlink) put16(1), put16(0);  // flags: relative
    for (const char16_t c : substitute) put16(c);
    for (const char16_t c : print) put16(c);
    return d;
}

TEST(Win32Rules, ALinksTargetComesFromItsReparseData) {
    std::vector<unsigned char> cut = reparse_data(reparse_tag_symlink, u"\\??\\C:\\x", u"C:\\x");
    cut.resize(24);
    const struct {
        const char* what;
        std::vector<unsigned char> data;
        std::optional<std::u16string> target;
    } cases[] = {
        {"symbolic link",
         reparse_data(reparse_tag_symlink, u"\\??\\C:\\data\\f.txt", u"C:\\data\\f.txt"),
         u"C:\\data\\f.txt"},
        {"relative link", reparse_data(reparse_tag_symlink, u"..\\f.txt", u"..\\f.txt"),
         u"..\\f.txt"},
        {"junction without a print name",
         reparse_data(reparse_tag_mount_point, u"\\??\\D:\\mnt", u""), u"D:\\mnt"},
        {"deduplicated file", reparse_data(0x80000013u, u"x", u"x"), std::nullopt},
        {"names past the data", cut, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reparse_link_target(c.data.data(), c.data.size()), c.target) << c.what;
}

TEST(Win32Rules, CivilSecondsCarryOutOfRangeFields) {
    struct Case {
        CivilTime when;
        std::int64_t seconds;
    };
    auto civil = [](int y, int mo, int d, int h, int mi, int s) {
        CivilTime c;
        c.year = y;
        c.month = mo;
        c.day = d;
        c.hour = h;
        c.minute = mi;
        c.second = s;
        return c;
    };
    const Case cases[] = {
        {civil(1970, 1, 1, 0, 0, 0), 0},
        {civil(2024, 1, 14, 15, 42, 16), 1705246936},
        {civil(2023, 14, 0, 0, 0, 0), 1706659200},  // 2024-01-31
        {civil(2024, 3, 1, -1, 0, 0), 1709247600},  // 2024-02-29 23:00
        {civil(1601, 1, 1, 0, 0, 0), -11644473600},
    };
    for (const auto& c : cases) EXPECT_EQ(civil_seconds(c.when), c.seconds);
}

}  // namespace
