// Output-name masks and the automatic log name. The memory zone is EST
// (UTC-5, no daylight time); each case sets the clock it needs.
#include "options/output_names.hpp"

#include <gtest/gtest.h>

#include "driver/parse_action_performer.hpp"
#include "memory_platform.hpp"
#include "options/settings_parser.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

struct MaskCase {
    const char* what;
    std::u16string name;
    std::int64_t now;
    std::u16string expected;
};

std::string narrow(const std::u16string& text) {
    return platform::utf16_to_utf8_lossless(text);
}

std::u16string expanded(MemoryPlatform& mp, const std::u16string& name) {
    filarix::Run run(mp);
    give_sources_lookups(run);
    // As the driver fills the name in when the option asks it to.
    return expanded_output_name(run.syntax, name, name_stamp(run));
}

TEST(OutputMask, TokensAndTriggers) {
    const std::int64_t at_1042 = 1705246936;                               // 10:42 EST, 14 Jan 2024
    const std::int64_t at_0905 = seconds_from_utc(2024, 1, 14, 14, 5, 0);  // 09:05 EST
    const std::int64_t at_1542 = seconds_from_utc(2024, 1, 14, 20, 42, 0);  // 15:42 EST
    const std::int64_t late = seconds_from_utc(2024, 1, 15, 2, 7, 0);       // 21:07 EST on the 14th
    const MaskCase cases[] = {
        {"YYMMDD from the current directory", u"C:\\work\\YYMMDD", at_1042, u"C:\\work\\240114"},
        {"mask not after a separator", u"C:\\work\\out_YYYYMMDD.txt", at_1042,
         u"C:\\work\\out_YYYYMMDD.txt"},
        {"computer name", u"C:\\x\\COMPUTERNAME_YYYY.lst", at_1042, u"C:\\x\\PC72024.lst"},
        {"hh is the hour", u"C:\\x\\MMDDhh.txt", at_0905, u"C:\\x\\0114_09.txt"},
        {"hour in any case", u"C:\\x\\YYYYhH.txt", at_0905, u"C:\\x\\2024_09.txt"},
        {"date, hour and minute", u"D:\\logs\\YYYYMMDDHHmm.txt", at_1542,
         u"D:\\logs\\20240114_1542.txt"},
        {"MM month, mm minute", u"C:\\x\\MMDDmm.txt", at_1542, u"C:\\x\\011442.txt"},
        {"YYYY before YY", u"C:\\x\\YYYYY.txt", at_1042, u"C:\\x\\2024.txt"},
        {"YYMM trigger", u"C:\\x\\YYMM.csv", at_1042, u"C:\\x\\2401.csv"},
        {"local date late in the evening", u"D:\\logs\\YYYYMMDD.txt", late,
         u"D:\\logs\\20240114.txt"},
        {"G asks for UTC", u"D:\\logs\\YYYYMMDDG.txt", late, u"D:\\logs\\20240115.txt"},
        {"G and the hour", u"D:\\logs\\YYYYMMDDHHG.txt", late, u"D:\\logs\\20240115_02.txt"},
        {"other characters are dropped", u"C:\\x\\YYYYMMDD-=run.txt", at_1042,
         u"C:\\x\\20240114.txt"},
        {"no seconds token", u"C:\\x\\MMDDss.txt", at_1042, u"C:\\x\\0114.txt"},
        {"no extension", u"C:\\x\\MMDD", at_1042, u"C:\\x\\0114"},
        {"a dotted directory keeps its name", u"C:\\my.dir\\YYYY.txt", at_1042,
         u"C:\\my.dir\\2024.txt"},
        {"a dotted directory, no extension", u"C:\\my.dir\\YYYY", at_1042, u"C:\\my.dir\\2024"},
        {"two dots in the file name", u"C:\\x\\YYYY.tar.gz", at_1042, u"C:\\x\\2024.tar.gz"},
        {"mask in a directory", u"C:\\x\\YYYY\\out.txt", at_1042, u"C:\\x\\2024.txt"},
        {"long-path prefix", u"\\\\?\\C:\\x\\MMDD.txt", at_1042, u"\\\\?\\C:\\x\\0114.txt"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.computer = u"PC7";
        mp.now = c.now;
        EXPECT_EQ(narrow(expanded(mp, c.name)), narrow(c.expected)) << c.what;
    }
}

TEST(OutputMask, ComputerName) {
    MemoryPlatform mp;
    mp.computer = std::nullopt;
    EXPECT_EQ(narrow(expanded(mp, u"C:\\x\\COMPUTERNAME.lst")), "C:\\x\\.lst");
    mp.computer = std::u16string(300, u'P');
    EXPECT_EQ(narrow(expanded(mp, u"C:\\x\\COMPUTERNAME.lst")),
              "C:\\x\\" + std::string(260, 'P') + ".lst");
    // Only the exact word counts.
    mp.computer = u"PC7";
    EXPECT_EQ(narrow(expanded(mp, u"C:\\x\\ComputerName.lst")), "C:\\x\\ComputerName.lst");
}

// The memory platform with the POSIX path rules.
class PosixMemoryPlatform : public MemoryPlatform {
public:
    const platform::PathSyntax& syntax() const override { return platform::PathSyntax::posix(); }
};

TEST(OutputMask, PosixSeparator) {
    PosixMemoryPlatform mp;
    EXPECT_EQ(narrow(expanded(mp, u"/var/log.d/YYYYMMDD.txt")), "/var/log.d/20240114.txt");
    EXPECT_EQ(narrow(expanded(mp, u"/var/x/MMDD")), "/var/x/0114");
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(narrow(expanded(mp, u"/var/x\\YYYY.txt")), "/var/x\\YYYY.txt");
}

TEST(AutomaticLogName, ExtensionReplacedInTheSameDirectory) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\data\\run.txt", u"C:\\data\\run.log"},
        {u"C:\\data\\run", u"C:\\data\\run.log"},
        {u"C:\\my.dir\\run", u"C:\\my.dir\\run.log"},
        {u"C:\\data\\archive.tar.gz", u"C:\\data\\archive.tar.log"},
        {u"out.txt", u"C:\\work\\out.log"},
        {u"C:\\data\\..\\run.txt", u"C:\\run.log"},
    };
    for (const auto& [output, log] : cases) {
        MemoryPlatform mp;
        filarix::Run run(mp);
        give_sources_lookups(run);
        run.s.output_name = output;
        EXPECT_EQ(narrow(automatic_log_name(run)), narrow(log)) << narrow(output);
    }
}

}  // namespace

// The name is filled in from the stamp alone: no clock and no platform.
TEST(OutputMask, FilledFromTheStampAlone) {
    NameStamp stamp;
    stamp.local = {2024, 3, 5, 7, 9, 0, 0, 2};
    stamp.utc = {2024, 3, 5, 12, 9, 0, 0, 2};
    stamp.computer = u"HOST";
    const auto& windows = platform::PathSyntax::windows();
    EXPECT_EQ(expanded_output_name(windows, u"C:\\x\\YYYYMMDDhhmm.txt", stamp),
              u"C:\\x\\20240305_0709.txt");
    EXPECT_EQ(expanded_output_name(windows, u"C:\\x\\MMDDhhG.txt", stamp), u"C:\\x\\0305_12.txt");
    EXPECT_EQ(expanded_output_name(windows, u"C:\\x\\COMPUTERNAME.lst", stamp), u"C:\\x\\HOST.lst");
    EXPECT_EQ(expanded_output_name(windows, u"C:\\x\\plain.txt", stamp), u"C:\\x\\plain.txt");
}

// -o with a mask asks for the name to be filled in; the source takes no time.
TEST(OutputMask, TheCommandLineOnlyAsksForTheDate) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    run.args = {u"C:\\TOOLS\\FILARIX64.EXE", u"-o", u"YYMMDD.txt"};
    apply_start_up_defaults(run.s);
    parse_settings(run);
    EXPECT_EQ(narrow(run.s.output_name), "C:\\work\\YYMMDD.txt");
    bool asked = false;
    for (const auto& action : run.parse_actions.list)
        asked = asked || std::holds_alternative<DateOutputNameAction>(action);
    EXPECT_TRUE(asked);
}
