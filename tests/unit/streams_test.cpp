// Named streams as lines of their own, and access times put back after
// reading, on the in-memory Windows platform.
#include <gtest/gtest.h>

#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace testing_support;

namespace {

namespace attr = platform::attr;

constexpr const char* when = "01/01/2024 22:04";  // default_ticks in EST

std::string stream_line(const std::string& path, long long size) {
    return default_record(path, size, ".adata", when);
}

std::string directory_stream_line(const std::string& path, long long size) {
    char text[256];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld Dadata ", path.c_str(), size);
    return text;
}

// The records and stream lines of a console listing, without the messages
// written between them.
std::vector<std::string> without_messages(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const auto& line : lines)
        if (line.rfind("C:\\", 0) == 0) kept.push_back(line);
    return kept;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class Streams : public ::testing::Test {
protected:
    Streams() { mp.env[u"OS"] = u"Windows_NT"; }
    std::vector<std::string> lines(std::vector<std::u16string> args,
                                   const std::function<void(filarix::Run&)>& adjust = {}) {
        args.insert(args.begin(), u"filarix64");
        last = run_in_memory(mp, args, adjust);
        return listing_lines(last.err);
    }
    MemoryPlatform mp;
    RunResult last;
};

TEST_F(Streams, FileStreamsFollowTheirRecordInTableOrder) {
    mp.add_file(u"C:\\d\\f.txt", "main", {.streams = {{u"s", "abc"}, {u"empty", ""}}});
    mp.add_file(u"C:\\d\\plain.txt", "x");
    const auto got = lines({u"C:\\d"});
    const std::vector<std::string> expected = {
        default_record("C:\\d\\f.txt", 4, "A.....", when),
        stream_line("C:\\d\\f.txt:s", 3),
        stream_line("C:\\d\\f.txt:empty", 0),
        default_record("C:\\d\\plain.txt", 1, "A.....", when),
    };
    EXPECT_EQ(got, expected);
    // Two streams count as files beside the two files, and as bytes.
    EXPECT_NE(last.err.find("4 files, 8 bytes"), std::string::npos) << last.err;
    EXPECT_NE(last.err.find("(Includes 2 Alternate Data Streams )"), std::string::npos);
    EXPECT_EQ(last.code, 1);
}

TEST_F(Streams, EveryStreamIsListedWithItsWholeName) {
    std::vector<std::pair<std::u16string, std::string>> many;
    for (int i = 0; i < 12; ++i) many.push_back({u"s" + std::u16string(1, char16_t(u'a' + i)), ""});
    const std::u16string long_name(300, u'n');
    many.push_back({long_name, "v"});
    many.push_back({u"bell\u0007tab\tend", "x"});
    mp.add_file(u"C:\\d\\f", "", {.streams = many});
    const auto got = lines({u"C:\\d"}, [](filarix::Run& run) { run.s.VAR = 1; });
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got[1].rfind("C:\\d\\f:sa ", 0), 0u) << got[1];
    EXPECT_EQ(got[12].rfind("C:\\d\\f:sl ", 0), 0u) << got[12];
    EXPECT_EQ(got[13].rfind("C:\\d\\f:" + std::string(300, 'n') + " ", 0), 0u);
    // A control character cannot break the line; it shows as '?'.
    EXPECT_EQ(got[14].rfind("C:\\d\\f:bell?tab?end ", 0), 0u) << got[14];
}

TEST_F(Streams, DirectoryStreamsButNeverAtAVolumeRoot) {
    mp.add_dir(u"C:\\d\\sub", {.streams = {{u"tag", "12345"}}});
    mp.add_file(u"C:\\d\\sub\\in.txt", "1");
    mp.add_stream(u"C:\\", u"rootstream", "r");
    const auto got = lines({u"C:\\"});
    std::vector<std::string> streamed;
    for (const auto& line : got)
        if (line.find("data") != std::string::npos) streamed.push_back(line);
    ASSERT_EQ(streamed.size(), 1u) << last.err;
    EXPECT_EQ(streamed[0], directory_stream_line("C:\\d\\sub:tag", 5));
    EXPECT_NE(last.err.find("(Includes 1 Alternate Data Streams And 1 directories holding 1 data "
                            "stream files)"),
              std::string::npos)
        << last.err;
}

TEST_F(Streams, TimeColumnsOfStreamLines) {
    mp.add_file(u"C:\\d\\f.txt", "m", {.streams = {{u"s", "x"}}});
    mp.add_dir(u"C:\\d\\sub", {.streams = {{u"t", "y"}}});
    struct Case {
        std::vector<std::u16string> args;
        std::string file_stream_tail;  // after the marker
        std::string directory_stream_tail;
    };
    const std::vector<Case> cases = {
        // Year first for the stream's own time.
        {{u"C:\\d", u"--REVERSE"}, "2024/01/01 22:04w EST ", ""},
        // No time columns, but the zone stays on a file stream line.
        {{u"C:\\d", u"-t0"}, "EST ", ""},
        // Seconds: milliseconds on a file stream, blanks on a directory's.
        {{u"C:\\d", u"-t3"},
         "01/01/2024 22:04:05:000c 01/01/2024 22:04:05:000w 01/01/2024 22:04:05:000a EST ",
         "01/01/2024 22:04:05:   c 01/01/2024 22:04:05:   w 01/01/2024 22:04:05:   a EST "},
    };
    for (const auto& c : cases) {
        const auto got = lines(c.args);
        std::string file_tail = "missing", directory_tail = "missing";
        for (const auto& line : got) {
            if (const auto at = line.find(".adata. "); at != std::string::npos)
                file_tail = line.substr(at + 8);
            if (const auto at = line.find("Dadata "); at != std::string::npos)
                directory_tail = line.substr(at + 7);
        }
        EXPECT_EQ(file_tail, c.file_stream_tail) << last.err;
        EXPECT_EQ(directory_tail, c.directory_stream_tail) << last.err;
    }
}

TEST_F(Streams, OptionsAndTheVolumeDecideWhetherStreamsAreListed) {
    mp.add_file(u"C:\\d\\with.txt", "a", {.streams = {{u"s", "xy"}}});
    mp.add_file(u"C:\\d\\without.txt", "b");
    mp.add_volume(u"F:", {.file_system = u"FAT32"});
    mp.add_file(u"F:\\d\\with.txt", "a", {.streams = {{u"s", "xy"}}});
    struct Case {
        std::vector<std::u16string> args;
        std::size_t records;
        std::size_t stream_lines;
    };
    const std::vector<Case> cases = {
        {{u"C:\\d"}, 2, 1},
        {{u"C:\\d", u"-S"}, 2, 0},
        {{u"C:\\d", u"-S", u"+S"}, 2, 1},
        {{u"C:\\d", u"--NO_ADS"}, 2, 0},
        {{u"C:\\d", u"--ADS"}, 2, 0},
        {{u"C:\\d", u"--ADSONLY"}, 1, 1},
        {{u"F:\\d"}, 1, 0},
        {{u"F:\\d", u"--ADSONLY"}, 0, 0},
    };
    for (const auto& c : cases) {
        const auto got = lines(c.args);
        const std::size_t streams =
            std::size_t(std::count_if(got.begin(), got.end(), [](const std::string& l) {
                return l.find(".adata.") != std::string::npos;
            }));
        EXPECT_EQ(got.size() - streams, c.records) << last.err;
        EXPECT_EQ(streams, c.stream_lines) << last.err;
    }
}

TEST_F(Streams, StreamDigestsReadTheStreamItself) {
    mp.add_file(u"C:\\d\\f", "main", {.streams = {{u"s", "abc"}}});
    const auto got = lines({u"C:\\d", u"-c"});
    ASSERT_EQ(got.size(), 2u);
    // CRC-32 of "abc".
    EXPECT_NE(got[1].find(".adata.    352441C2 "), std::string::npos) << got[1];
}

TEST_F(Streams, FailuresAreToldOnceAndTheRunGoesOn) {
    mp.add_file(u"C:\\d\\a", "1", {.streams = {{u"s", "x"}}, .streams_unreadable = true});
    mp.add_file(u"C:\\d\\b", "2", {.streams = {{u"s", "x"}}, .streams_unreadable = true});
    auto got = without_messages(lines({u"C:\\d"}));
    EXPECT_EQ(got.size(), 2u);
    EXPECT_EQ(occurrences(last.err, "Alt Data Read error"), 1u);
    EXPECT_EQ(last.code, 1);

    // Without the backup privileges the streams the platform still gives
    // are listed; the refusal is told once.
    mp.backup_privileges = false;
    mp.add_file(u"C:\\e\\a", "1", {.streams = {{u"s", "x"}}});
    mp.add_file(u"C:\\e\\b", "1", {.streams = {{u"s", "x"}}});
    got = without_messages(lines({u"C:\\e"}));
    EXPECT_EQ(got.size(), 4u);
    EXPECT_EQ(occurrences(last.err, "Privilege error"), 1u);
    EXPECT_EQ(last.code, 1);
}

TEST_F(Streams, AccessTimesArePutBackAndAttributesKept) {
    mp.reads_touch_access = true;
    constexpr FileTicks found = ticks_from_utc(2020, 5, 6, 7, 8, 9, 123);
    struct Case {
        std::u16string name;
        std::uint32_t attributes;
    };
    const std::vector<Case> cases = {
        {u"plain", attr::archive},
        {u"readonly", attr::archive | attr::readonly},
        {u"system", attr::system | attr::hidden},
    };
    for (const auto& c : cases)
        mp.add_file(u"C:\\d\\" + c.name, "data", {.attributes = c.attributes, .access = found});
    lines({u"C:\\d", u"-c", u"-R"});
    EXPECT_EQ(last.code, 1) << last.err;
    for (const auto& c : cases) {
        const Node* node = mp.node(u"C:\\d\\" + c.name);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->access, found);
        EXPECT_EQ(node->attributes, c.attributes);
    }
    // Without -R the read leaves its mark.
    lines({u"C:\\d", u"-c"});
    EXPECT_NE(mp.node(u"C:\\d\\plain")->access, found);
}

TEST_F(Streams, AFailedRestoreIsCountedNamedOnceAndNoNormalEnd) {
    mp.reads_touch_access = true;
    mp.add_file(u"C:\\d\\a", "1", {.protect = true});
    mp.add_file(u"C:\\d\\b", "2", {.protect = true});
    mp.add_file(u"C:\\d\\c", "3");
    const auto got = without_messages(lines({u"C:\\d", u"-c", u"-R"}));
    EXPECT_EQ(got.size(), 3u);
    EXPECT_EQ(occurrences(last.err, "Can't reset filetime for C:\\d\\a"), 1u) << last.err;
    EXPECT_EQ(occurrences(last.err, "Can't reset filetime"), 1u);
    EXPECT_NE(last.err.find("Access times not restored: 2 files"), std::string::npos);
    EXPECT_EQ(last.code, filarix::exit_code::other_exit);
    EXPECT_EQ(mp.node(u"C:\\d\\c")->access, default_ticks);
}

}  // namespace
