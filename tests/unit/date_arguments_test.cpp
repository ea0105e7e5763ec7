// The age arguments: date shapes, ages in days, compact dates, and what one
// -g/-l style value leaves for the age filter. The memory clock stands at
// 2024-01-14 10:42:16 local time (EST).
#include "options/date_arguments.hpp"

#include <gtest/gtest.h>

#include "core/day_count.hpp"
#include "driver/parse_action_performer.hpp"
#include "memory_platform.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

std::string kinds_of(const filarix::Run& run) {
    return std::string(run.s.date_kinds.begin(), run.s.date_kinds.end());
}

struct DateCase {
    const char* text;
    DateValue expected;
};

TEST(ReadDate, EveryShape) {
    const DateCase cases[] = {
        // 0: MMDDYY; two-digit years 00-09 are the 2000s, 10-99 the 1900s.
        {"010105", {1, 1, 2005}},
        {"123199", {12, 31, 1999}},
        {"010110", {1, 1, 1910}},
        // 2: YYMMDD, six digits beginning at 13 or more, or eight above 20.
        {"240114", {1, 14, 1924}},
        {"24011412", {1, 14, 1924}},
        // 4: MMDDYYYY; 6: YYYYMMDD.
        {"12312023", {12, 31, 2023}},
        {"13012023", {13, 1, 2023}},  // out of range, read all the same
        {"20230102", {1, 2, 2023}},
        {"19991231", {12, 31, 1999}},
        // 8: MMsDDsYY; 10: YYsMMsDD.
        {"01-02-23", {1, 2, 1923}},
        {"01/02/05", {1, 2, 2005}},
        {"23-01-02", {1, 2, 1923}},
        // 12: MMsDDsYYYY; 14: YYYYsMMsDD.
        {"12-01-2005", {12, 1, 2005}},
        {"12\\01\\2005", {12, 1, 2005}},
        {"2023-01-31", {1, 31, 2023}},
        {"2023-01-01C", {1, 1, 2023}},  // anything past the fixed fields is ignored
        // A blank before the run of digits reaches eight: a six-digit shape.
        {"0101202 ", {1, 1, 1920}},
        {"01012 ", {1, 1, 2002}},
        // Any other unseparated shape is read as MMDDYY all the same.
        {"12345", {12, 34, 2005}},
    };
    for (const auto& c : cases) {
        const DateValue d = read_date(c.text);
        EXPECT_EQ(d.month, c.expected.month) << c.text;
        EXPECT_EQ(d.day, c.expected.day) << c.text;
        EXPECT_EQ(d.year, c.expected.year) << c.text;
    }
}

TEST(AgeInDays, WholeDaysFromLocalMidnightTruncatedTowardZero) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    const std::pair<const char*, int> cases[] = {
        {"2023-01-01", 378},   {"1-1-2023", 378},   {"2024-01-14", 0},  {"1-13-2024", 1},
        {"2024-01-15", 0},                         // 13 hours ahead: still day 0
        {"2024-01-16", -1},    {"13-1-2023", 13},  // month 13 carries into the next year
        {"12-01-2005", 6618},  {"01-01-05", 6952},  {"01-01-09", 5491}, {"01-01-10", 41651},
        {"01/01/2005c", 6952}, {"0-0-1980", 16116},  // a zero file time: 30 November 1979
        {"00012-1-2023", 44},                        // only four digits make a leading year
    };
    for (const auto& [text, days] : cases)
        EXPECT_EQ(days_since(run.sys, age_date(text)), days) << text;
}

TEST(AgeInDays, FollowsTheLocalZone) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    // 15:42 UTC is already the next day at UTC+10.
    mp.zone_info.offset_seconds = -36000;
    EXPECT_EQ(days_since(run.sys, age_date("2024-01-14")), 1);
}

TEST(CompactDate, EightDigitDatesGetSeparators) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"20230101", u"2023-01-01"},   {u"20230101c", u"2023-01-01c"},
        {u"01012023w", u"2023-01-01w"},  // 0101 is below 1301: month, day, year
        {u"12312023", u"2023-12-31"},   {u"13012023", u"1301-20-23"},
        {u"2023-01-01", u"2023-01-01"}, {u"12/01/2005", u"12/01/2005"},
        {u"2023", u"2023-12-30"},  // the fields not there keep 12-30
        {u"abcdefgh", u"2000-12-30h"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(compact_date(in), out) << std::string(in.begin(), in.end());
}

struct AgeCase {
    std::u16string value;
    AgeSide side;
    AgeSource source;
    int days;
    DateValue date;  // of the side; all zero for a day count
    char older_kind;
    const char* kinds;
};

TEST(ReadAgeValue, FillsTheBoundsOfItsSide) {
    using S = AgeSide;
    using A = AgeSource;
    const AgeCase cases[] = {
        {u"30", S::older, A::command_line, 30, {}, 'w', "w000"},
        {u"30c", S::older, A::command_line, 30, {}, 'c', "c000"},
        {u"30a", S::older, A::command_line, 30, {}, 'a', "a000"},
        {u"5ca", S::newer, A::command_line, 5, {}, '0', "c00c"},
        {u"5", S::newer, A::long_option, 5, {}, '0', "w00w"},
        {u"190000", S::older, A::command_line, 190000, {}, 'w', "w000"},
        {u"20230101", S::older, A::ini_file, 20230101, {}, 'w', "w000"},
        {u"12-01-2005", S::newer, A::command_line, 6618, {12, 1, 2005}, '0', "ww0w"},
        {u"2023-01-01a", S::older, A::command_line, 378, {1, 1, 2023}, 'a', "a0a0"},
        {u"2023-01-01c", S::newer, A::command_line, 378, {1, 1, 2023}, '0', "cc0c"},
        {u"2023-01-01m", S::older, A::command_line, 378, {1, 1, 2023}, 'w', "w0w0"},
        {u"20230101", S::older, A::long_option, 378, {1, 1, 2023}, 'w', "w0w0"},
        {u"01012023w", S::newer, A::long_option, 378, {1, 1, 2023}, '0', "ww0w"},
        // The INI file upper-cases its lines: the letter only marks the
        // date side, and the older side writes 'm' for the write time.
        {u"2023-01-01C", S::older, A::ini_file, 378, {1, 1, 2023}, 'w', "w0c0"},
        {u"2023-01-01W", S::older, A::ini_file, 378, {1, 1, 2023}, 'w', "w0m0"},
        {u"2023-01-01A", S::newer, A::ini_file, 378, {1, 1, 2023}, '0', "wa0w"},
        // Two-digit years: the stored date and the age name the same day.
        {u"01-01-05", S::older, A::command_line, 6952, {1, 1, 2005}, 'w', "w0w0"},
        {u"01-01-10", S::newer, A::command_line, 41651, {1, 1, 1910}, '0', "ww0w"},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        filarix::Run run(mp);
        give_sources_lookups(run);
        // A date's day count is the driver's, done as the value asks.
        perform_parse_actions_as_asked(run);
        read_age_value(run, c.value, c.side, c.source);
        const std::string label(c.value.begin(), c.value.end());
        const bool older = c.side == AgeSide::older;
        EXPECT_EQ(run.s.aging, 1) << label;
        EXPECT_EQ(run.s.OLDER, older ? 1 : 0) << label;
        EXPECT_EQ(run.s.NEWER, older ? 0 : 1) << label;
        EXPECT_EQ(older ? run.s.older_days : run.s.newer_days, c.days) << label;
        EXPECT_EQ(older ? run.s.newer_days : run.s.older_days, older ? 8000 : 0) << label;
        const DateValue& d = older ? run.s.older_date : run.s.newer_date;
        EXPECT_EQ(d.month, c.date.month) << label;
        EXPECT_EQ(d.day, c.date.day) << label;
        EXPECT_EQ(d.year, c.date.year) << label;
        EXPECT_EQ(run.s.older_kind, c.older_kind) << label;
        EXPECT_EQ(kinds_of(run), c.kinds) << label;
    }
}

TEST(ReadAgeValue, LaterValuesShareSlotZero) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    give_sources_lookups(run);
    read_age_value(run, u"30c", AgeSide::older, AgeSource::command_line);
    read_age_value(run, u"5w", AgeSide::newer, AgeSource::command_line);
    EXPECT_EQ(run.s.older_kind, 'c');
    EXPECT_EQ(kinds_of(run), "w00w");
    EXPECT_EQ(run.s.older_days, 30);
    EXPECT_EQ(run.s.newer_days, 5);
}

constexpr const char* refusal_head =
    "\n It appears your syntact for aging is incorrect\n\a"
    " You probably forgot to include seperators 2023-01-01\n";
constexpr const char* younger_line =
    " For this syntax: --younger=20230101 you need dividers  --younger=2023-01-01\n";
constexpr const char* older_line =
    " For this syntax: --older=20230101 you need dividers  --older=2023-01-01\n";

TEST(ReadAgeValue, RefusesDayCountsAbove190000) {
    struct Refusal {
        std::u16string value;
        AgeSide side;
        AgeSource source;
        const char* last_line;
    };
    const Refusal cases[] = {
        {u"20230101", AgeSide::older, AgeSource::command_line, younger_line},
        {u"190001", AgeSide::newer, AgeSource::command_line, younger_line},
        {u"99999999999999999999", AgeSide::older, AgeSource::command_line, younger_line},
        {u"2023010101", AgeSide::older, AgeSource::long_option, older_line},
        {u"1900000", AgeSide::newer, AgeSource::long_option, younger_line},
    };
    for (const auto& c : cases) {
        MemoryPlatform mp;
        mp.add_file(u"C:\\work\\f.txt", "x");
        const auto result = run_in_memory(mp, {u"filarix64"}, [&](filarix::Run& run) {
            read_age_value(run, c.value, c.side, c.source);
        });
        const std::string label(c.value.begin(), c.value.end());
        EXPECT_EQ(result.code, 6) << label;
        EXPECT_EQ(result.out.find(std::string(refusal_head) + c.last_line), 0u) << label << "\n"
                                                                                << result.out;
        EXPECT_EQ(result.err.find("f.txt"), std::string::npos) << label;
    }
}

}  // namespace

// On its own the source records the date; the day count waits for the
// driver, which takes the time.
TEST(ReadAgeValue, ADateIsOnlyRecordedForTheDayCount) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    read_age_value(run, u"2023-01-01", AgeSide::older, AgeSource::command_line);
    ASSERT_EQ(run.parse_actions.list.size(), 1u);
    const auto* age = std::get_if<AgeFromDateAction>(&run.parse_actions.list[0]);
    ASSERT_TRUE(age);
    EXPECT_TRUE(age->older);
    EXPECT_EQ(age->date.year, 2023);
    EXPECT_EQ(age->date.month, 1);
    EXPECT_EQ(age->date.day, 1);
    EXPECT_EQ(run.s.older_date.year, 2023);
    // A count of days needs no time at all.
    read_age_value(run, u"30", AgeSide::newer, AgeSource::command_line);
    EXPECT_EQ(run.parse_actions.list.size(), 1u);
    EXPECT_EQ(run.s.newer_days, 30);
}
