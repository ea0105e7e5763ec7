// What a hostile name, a stray value or an interrupt must never do to a
// listing: cut a record, forge a line, write NUL bytes, destroy a file that
// was named as the log, delete outside the tree, or silently list nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "faulty_platform.hpp"
#include "memory_platform.hpp"
#include "options/disk_label.hpp"
#include "parse_helper.hpp"
#include "platform/console_lines.hpp"
#include "platform/forwarding_system.hpp"
#include "run_helper.hpp"

using namespace testing_support;

namespace {

using Args = std::vector<std::u16string>;

Args with_program(const Args& rest) {
    Args args{u"filarix64"};
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

// Raises the interrupt as the named file is opened, as Ctrl+C in its digest.
class InterruptOnOpen : public platform::ForwardingSystem {
public:
    InterruptOnOpen(MemoryPlatform& mp, std::u16string name)
        : ForwardingSystem(mp), mp_(mp), name_(std::move(name)) {}
    std::unique_ptr<platform::InputFile> open_entry(std::u16string_view path,
                                                    bool fallback) override {
        if (path.ends_with(name_)) mp_.interrupt_requested = true;
        return ForwardingSystem::open_entry(path, fallback);
    }

private:
    MemoryPlatform& mp_;
    std::u16string name_;
};

std::size_t characters(const std::string& utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

TEST(WholeRecords, AnInterruptedDigestLeavesNoPartOfItsRecord) {
    for (const bool to_file : {false, true}) {
        SCOPED_TRACE(to_file);
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\f1.bin", "one");
        mp.add_file(u"C:\\d\\f2.bin", std::uint64_t(1) << 20);
        InterruptOnOpen through(mp, u"f2.bin");
        Args args{u"C:\\d", u"-c"};
        if (to_file) args.insert(args.end(), {u"-o", u"C:\\work\\list.txt"});
        const RunResult r = run_in_memory(mp, through, with_program(args));
        EXPECT_EQ(r.code, 2);
        const std::string listing = to_file ? *mp.contents(u"C:\\work\\list.txt") : r.err;
        EXPECT_NE(listing.find("f1.bin"), std::string::npos);
        EXPECT_EQ(listing.find("f2.bin"), std::string::npos) << listing;
        // Only the finished entry is counted.
        EXPECT_NE((r.out + r.err).find("1 file"), std::string::npos) << r.out << r.err;
    }
}

TEST(HostileNames, ControlCharactersArePrintedAsQuestionMarks) {
    const std::u16string name = u"a\nb\x1b[31m\r\x07\x7f.txt";
    const struct {
        Args options;
        std::string shown;
    } cases[] = {
        {{}, "C:\\d\\a?b?[31m???.txt"},
        {{u"--UTF8"}, "C:\\d\\a?b?[31m???.txt"},
        {{u"-n"}, "a?b?[31m???.txt"},
        {{u"-V"}, "C:\\d\\a?b?[31m???.txt"},
        {{u"--NAMEAFTER=0"}, "C:\\d\\a?b?[31m???.txt"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\" + name, "x");
        Args args{u"C:\\d"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = run_in_memory(mp, with_program(args));
        const auto lines = listing_lines(r.err);
        ASSERT_EQ(lines.size(), 1u) << c.shown;
        EXPECT_NE(lines[0].find(c.shown), std::string::npos) << lines[0];
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    }
    // The progress line and the log name it too.
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\" + name + u"\\inner.txt", "x");
    const RunResult r = run_in_memory(
        mp, with_program({u"C:\\d", u"-o", u"C:\\work\\l.txt", u"-1", u"C:\\work\\x.log"}));
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(mp.contents(u"C:\\work\\l.txt")->find('\x1b'), std::string::npos);
}

TEST(StrayValues, ANulDelimiterIsRefused) {
    for (const Args& options : {Args{u"-d", u"ab"}, Args{u"-d", u"00"}, Args{u"--DEL=xy"}}) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\a.txt", "x");
        Args args{u"C:\\d"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run_in_memory(mp, with_program(args));
        EXPECT_EQ(r.code, 6) << text_of(options.back());
        EXPECT_EQ((r.out + r.err).find('\0'), std::string::npos);
        EXPECT_EQ(r.err.find("a.txt"), std::string::npos);
    }
}

// Every way a delimiter reaches the run: a value whose low byte is zero is
// refused or ignored, never written.
TEST(StrayValues, NoSourceGivesANulDelimiter) {
    MemoryPlatform env_mp;
    env_mp.add_file(u"C:\\d\\a.txt", "x");
    env_mp.env[u"DELIMETER"] = std::u16string(1, u'\x0100');
    const RunResult from_env = run_in_memory(env_mp, with_program({u"C:\\d", u"-V"}));
    EXPECT_EQ((from_env.out + from_env.err).find('\0'), std::string::npos);
    EXPECT_NE(from_env.err.find("a.txt"), std::string::npos);

    MemoryPlatform ini_mp;
    ini_mp.add_file(u"C:\\d\\a.txt", "x");
    ini_mp.add_file(u"C:\\work\\FILARIX64.ini", std::string("DELIM=\0;\n", 9));
    const RunResult from_ini = run_in_memory(ini_mp, with_program({u"C:\\d"}));
    EXPECT_EQ((from_ini.out + from_ini.err).find('\0'), std::string::npos);
    EXPECT_NE(from_ini.out.find("Missing ini file directive"), std::string::npos) << from_ini.out;
}

// Texts the user gives for every record can no more split a record than a
// name can.
TEST(HostileNames, CommentAndLabelTextsAreMasked) {
    for (const Args& options : {Args{u"-C", u"x\ny\x1b"}, Args{u"-I", u"x\ny\x1b"}}) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\a.txt", "x");
        mp.add_file(u"C:\\d\\b.txt", "x");
        Args args{u"C:\\d", u"-o", u"C:\\work\\l.txt"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run_in_memory(mp, with_program(args));
        const std::string listing = *mp.contents(u"C:\\work\\l.txt");
        EXPECT_EQ(listing.find('\x1b'), std::string::npos) << listing;
        int records = 0;
        for (const auto& line : file_records(listing))
            if (line.find("C:\\d\\") != std::string::npos) {
                ++records;
                EXPECT_NE(line.find("x?y?"), std::string::npos) << line;
            }
        EXPECT_EQ(records, 2) << listing;
    }
}

// A file full of bad lines (a program taken for the INI file) pauses once,
// and an interrupt during that pause ends the run at once.
TEST(StrayValues, AnIniFileOfBadLinesPausesOnceAndCanBeInterrupted) {
    for (const bool interrupt : {false, true}) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\a.txt", "x");
        mp.add_file(u"C:\\work\\FILARIX64.ini", "DELIM\nDELIM\nDELIM\nDELIM\n");
        mp.interrupt_requested = interrupt;
        const RunResult r = run_in_memory(mp, with_program({u"C:\\d"}));
        EXPECT_EQ(mp.slept_ms, 2000u);
        EXPECT_EQ(r.code, interrupt ? filarix::exit_code::user_aborted : 1) << r.out << r.err;
    }
}

// An input with no line end comes in bounded pieces.
TEST(StrayValues, AnEndlessLineIsReadInPieces) {
    std::size_t served = 0;
    std::string line;
    ASSERT_TRUE(platform::read_line_with([&] { return ++served > 1000000 ? -1 : 'a'; }, line));
    EXPECT_EQ(line.size(), platform::line_limit);
}

TEST(NoChild, OnlyThePartBelowTheStartPathCounts) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\my_childobjects_backup\\keep.txt", "x");
    mp.add_file(u"C:\\my_childobjects_backup\\_childobjects\\drop.txt", "x");
    mp.add_file(u"C:\\my_childobjects_backup\\_childobjects\\held.txt", "x", {.protect = true});
    const RunResult r =
        run_in_memory(mp, with_program({u"C:\\my_childobjects_backup", u"--NOCHILD"}));
    EXPECT_NE(mp.node(u"C:\\my_childobjects_backup\\keep.txt"), nullptr);
    EXPECT_EQ(mp.node(u"C:\\my_childobjects_backup\\_childobjects\\drop.txt"), nullptr);
    EXPECT_NE(r.err.find("\nC:\\my_childobjects_backup\\keep.txt "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Can't delete C:\\my_childobjects_backup\\_childobjects\\held.txt"),
              std::string::npos);
}

TEST(StartPaths, FilesMissingPathsAndFullLists) {
    const struct {
        Args args;
        int code;
        std::vector<std::string> listed;
        std::string message;
    } cases[] = {
        {{u"C:\\d\\a.txt"}, 0, {"a.txt"}, ""},
        {{u"C:\\d\\a.txt", u"C:\\d\\c.txt"}, 0, {"a.txt", "c.txt"}, ""},
        {{u"C:\\nothere"}, 3, {}, "Cannot find/open C:\\nothere"},
        {{u"C:\\nothere", u"C:\\d\\b.txt"}, 0, {"b.txt"}, "Cannot find/open C:\\nothere"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        for (const auto* n : {u"C:\\d\\a.txt", u"C:\\d\\b.txt", u"C:\\d\\c.txt"})
            mp.add_file(n, "x");
        const RunResult r = run_in_memory(mp, with_program(c.args));
        SCOPED_TRACE(text_of(c.args.front()));
        EXPECT_EQ(r.code == 3, c.code == 3);
        const auto lines = listing_lines(r.err);
        std::vector<std::string> listed;
        for (const auto& line : lines)
            if (line.rfind("C:\\d\\", 0) == 0) listed.push_back(line.substr(5, 5));
        EXPECT_EQ(listed, c.listed);
        if (!c.message.empty()) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
    }
    // The lists hold 79 entries; the 80th is named, not lost in silence.
    MemoryPlatform mp;
    Args args;
    for (int i = 0; i < 80; ++i) {
        const std::u16string name = u"C:\\d\\f" + std::u16string(1, char16_t(u'A' + i / 26)) +
                                    std::u16string(1, char16_t(u'a' + i % 26)) + u".txt";
        mp.add_file(name, "x");
        args.push_back(name);
    }
    const RunResult r = run_in_memory(mp, with_program(args));
    EXPECT_NE(r.err.find("Too many file masks: fDb.txt"), std::string::npos);
}

TEST(PathColumn, NoWidthPutsTheWholeNameAtTheEnd) {
    const struct {
        Args options;
        std::u16string env_width;
    } cases[] = {{{u"-w0"}, u""}, {{u"-w-1"}, u""}, {{}, u"abc"}, {{}, u"-1"}};
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\report.txt", "x");
        if (!c.env_width.empty()) mp.env[u"WIDTH"] = c.env_width;
        Args args{u"C:\\d"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto lines = listing_lines(run_in_memory(mp, with_program(args)).err);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(lines[0].ends_with("C:\\d\\report.txt ")) << lines[0];
    }
}

TEST(PathColumn, FixedFieldsCountCharacters) {
    const std::u16string accents =
        u"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.txt";
    const std::u16string emoji = u"\U0001F600.txt";
    const struct {
        std::u16string name;
        Args options;
        std::string field;  // the record's start
        std::size_t field_characters;
    } cases[] = {
        {accents, {u"-n"}, "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.txt", 54},
        {accents, {u"-n", u"-w", u"5"}, "\u00e9\u00e9\u00e9\u00e9\u00e9 ", 5},
        {emoji, {u"--UTF8", u"-V"}, "C:\\d\\\U0001F600.txt|", 0},
        {emoji, {u"-V"}, "C:\\d\\\xf0.txt|", 0},
        {emoji, {u"--UTF8"}, "C:\\d\\\U0001F600.txt ", 54},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\" + c.name, "x");
        Args args{u"C:\\d"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto lines = listing_lines(run_in_memory(mp, with_program(args)).err);
        ASSERT_EQ(lines.size(), 1u);
        SCOPED_TRACE(lines[0]);
        EXPECT_EQ(lines[0].substr(0, c.field.size()), c.field);
        if (c.field_characters > 0) {
            const std::size_t blank_run = lines[0].find_last_not_of(' ', lines[0].find("  "));
            EXPECT_GE(characters(lines[0].substr(0, blank_run + 1)), 1u);
            // Under -n the record is the field and its delimiter.
            if (c.options.front() == u"-n") {
                EXPECT_EQ(characters(lines[0]), c.field_characters + 1);
            }
        }
    }
    // The name-after and extension columns never cut a character in half.
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\" + accents, "x");
    const auto lines =
        listing_lines(run_in_memory(mp, with_program({u"C:\\d", u"-8e", u"-n"})).err);
    ASSERT_EQ(lines.size(), 1u);
    for (std::size_t i = 0; i + 1 < lines[0].size(); ++i)
        if (static_cast<unsigned char>(lines[0][i]) == 0xC3) {
            EXPECT_EQ(static_cast<unsigned char>(lines[0][i + 1]), 0xA9);
        }
    MemoryPlatform ext;
    ext.add_file(u"C:\\d\\" + accents + u"x\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", "x");
    const auto ext_lines = listing_lines(run_in_memory(ext, with_program({u"C:\\d", u"-8e"})).err);
    ASSERT_EQ(ext_lines.size(), 1u);
    const std::string& line = ext_lines[0];
    EXPECT_EQ(line.back(), ' ');
    // The long name's first 13 characters, whole.
    EXPECT_TRUE(
        line.ends_with("  \u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9.tx "))
        << line;
}

TEST(Numbers, SequenceStartsWhereToldAndNothingWraps) {
    const struct {
        Args options;
        int code;
        std::string first;  // the first record's start
    } cases[] = {
        {{u"--sequence=0"}, 0, "000000 "},
        {{u"--SEQ=4294967297"}, 0, "2147483647 "},
        {{u"-G18446744073709551617"}, 6, ""},
        {{u"--greater=18446744073709551617"}, 6, ""},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\d\\a.txt", "x");
        Args args{u"C:\\d"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = run_in_memory(mp, with_program(args));
        SCOPED_TRACE(text_of(c.options.front()));
        if (c.code == 6) {
            EXPECT_EQ(r.code, 6);
            continue;
        }
        const auto lines = listing_lines(r.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].substr(0, c.first.size()), c.first);
    }
}

TEST(Numbers, LevelsSaturate) {
    Parse p;
    p.go({u"--LEV=4294967296"});
    EXPECT_EQ(p.run->s.levels, std::numeric_limits<std::int32_t>::max());
}

TEST(DiskLabelCounter, RecordsCarryTheStoredLabelWhichNeverRepeats) {
    struct Row {
        std::string stored;
        std::vector<std::string> labels;  // of three runs in a row
    };
    const Row rows[] = {
        {"A0000000009", {"A0000000010", "A0000000011", "A0000000012"}},
        {"CASE0000099", {"CASE0000100", "CASE0000101", "CASE0000102"}},
        {"A98", {"A99", "A100", "A101"}},
        // Longer than the column, as an earlier version stored it.
        {"A00000000012", {"A0000000013", "A0000000014", "A0000000015"}},
    };
    for (const Row& row : rows) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\work\\DISKLABL", row.stored);
        mp.add_file(u"C:\\d\\a.txt", "x");
        for (const std::string& label : row.labels) {
            const RunResult r =
                run_in_memory(mp, with_program({u"C:\\d", u"-i", u"-o", u"C:\\work\\list.txt"}));
            EXPECT_EQ(r.code, 1) << r.err;
            EXPECT_EQ(mp.contents(u"C:\\work\\DISKLABL"), label);
            const auto records = file_records(*mp.contents(u"C:\\work\\list.txt"));
            ASSERT_EQ(records.size(), 1u) << row.stored;
            // The label column leads the record; the volume column shows it too.
            EXPECT_EQ(records[0].substr(0, label.size() + 1), label + " ");
            EXPECT_NE(records[0].find(" " + label + " ", label.size()), std::string::npos)
                << records[0];
        }
    }
    // A label that cannot keep to the column is refused, and the file kept.
    MemoryPlatform mp;
    mp.add_file(u"C:\\work\\DISKLABL", "CASE9999999");
    mp.add_file(u"C:\\d\\a.txt", "x");
    const RunResult r = run_in_memory(mp, with_program({u"C:\\d", u"-i"}));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(mp.contents(u"C:\\work\\DISKLABL"), "CASE9999999");
    EXPECT_NE(r.err.find("CASE10000000"), std::string::npos);
}

TEST(IniKeys, AValueHoldingAKeyWordIsNotThatKey) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\a.txt", "x");
    mp.add_dir(u"C:\\data\\folder");
    mp.add_file(u"C:\\work\\FILARIX64.ini", "OUTPUT=C:\\data\\folder\\list.txt\n");
    run_in_memory(mp, with_program({u"C:\\d"}));
    const auto listing = mp.contents(u"C:\\data\\folder\\list.txt");
    ASSERT_TRUE(listing.has_value());
    EXPECT_NE(listing->find("C:\\d\\a.txt"), std::string::npos);
}

TEST(AutomaticLog, AConsoleRunNamesItsLogAfterTheProgram) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\a.txt", "x");
    run_in_memory(mp, with_program({u"C:\\d", u"-v"}));
    EXPECT_EQ(mp.node(u"C:\\work\\.log"), nullptr);
    EXPECT_NE(mp.node(u"C:\\work\\filarix64.log"), nullptr);
}

TEST(NameOnly, DirectoryRecordsShowTheirOwnName) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\sub\\a.txt", "x");
    const auto lines =
        listing_lines(run_in_memory(mp, with_program({u"C:\\d", u"-n", u"-Ad"})).err);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), std::string("sub") + std::string(51, ' ') + " "),
        lines.end());
    for (const auto& line : lines) EXPECT_NE(line.find_first_not_of(' '), std::string::npos);
}

}  // namespace
