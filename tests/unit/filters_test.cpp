// The selection filters over whole runs on the memory platform: each row
// sets a filter the way its option would and names exactly the files the
// listing must hold. The clock stands at 2024-01-14 10:42:16 EST.
#include "record/filters.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/day_count.hpp"
#include "memory_platform.hpp"
#include "options/date_arguments.hpp"
#include "run_helper.hpp"

using namespace filarix;

using namespace testing_support;

namespace {

// Noon EST of a date, far from any day boundary.
constexpr FileTicks on(int year, int month, int day) {
    return ticks_from_utc(year, month, day, 17, 0, 0);
}

// The names listed by a run over C:\d, sorted, relative to C:\d.
std::vector<std::string> listed(MemoryPlatform& mp,
                                const std::function<void(filarix::Run&)>& adjust,
                                const std::vector<std::u16string>& options = {}) {
    std::vector<std::u16string> args{u"filarix64", u"C:\\d"};
    args.insert(args.end(), options.begin(), options.end());
    const auto result = run_in_memory(mp, args, adjust);
    EXPECT_TRUE(result.code == 0 || result.code == 1) << result.code << result.out;
    std::vector<std::string> names;
    for (const auto& line : listing_lines(result.err)) {
        std::string path = line.substr(0, line.find(' '));
        if (path.rfind("C:\\d\\", 0) == 0) path.erase(0, 5);
        names.push_back(path);
    }
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

struct Bound {
    std::u16string value;
    AgeSide side;
};

struct AgeRow {
    const char* what;
    std::vector<Bound> bounds;  // read in this order
    Names expected;
};

class AgeFilter : public ::testing::Test {
protected:
    void SetUp() override {
        const FileTicks today = on(2024, 1, 14);
        const FileTicks long_ago = on(2004, 6, 1);
        add(u"old", long_ago, long_ago, long_ago);
        add(u"w30", today, today, on(2023, 12, 15));
        add(u"w29", today, today, on(2023, 12, 16));
        add(u"c30", on(2023, 12, 15), today, today);
        add(u"a30", today, on(2023, 12, 15), today);
        add(u"w4", long_ago, long_ago, on(2024, 1, 10));
        add(u"w5", long_ago, long_ago, on(2024, 1, 9));
        add(u"jan31", long_ago, long_ago, on(2023, 1, 31));
        add(u"feb1", long_ago, long_ago, on(2023, 2, 1));
    }
    void add(std::u16string_view name, FileTicks creation, FileTicks access, FileTicks write) {
        mp.add_file(u"C:\\d\\" + std::u16string(name), "x",
                    {.creation = creation, .access = access, .write = write});
    }
    MemoryPlatform mp;
};

TEST_F(AgeFilter, DaysAndDatesOnEitherSide) {
    using S = AgeSide;
    const AgeRow rows[] = {
        {"no bound", {}, {"a30", "c30", "feb1", "jan31", "old", "w29", "w30", "w4", "w5"}},
        // Day counts: older passes at an age of at least the bound.
        {"older 30, write", {{u"30", S::older}}, {"feb1", "jan31", "old", "w30"}},
        {"older 29", {{u"29", S::older}}, {"feb1", "jan31", "old", "w29", "w30"}},
        {"older 30c", {{u"30c", S::older}}, {"c30", "feb1", "jan31", "old", "w4", "w5"}},
        {"older 30a", {{u"30a", S::older}}, {"a30", "feb1", "jan31", "old", "w4", "w5"}},
        {"older 30m", {{u"30m", S::older}}, {"feb1", "jan31", "old", "w30"}},
        // Newer passes below the bound.
        {"newer 5", {{u"5", S::newer}}, {"a30", "c30", "w4"}},
        {"newer 5c", {{u"5c", S::newer}}, {"a30", "w29", "w30"}},
        {"newer 5a", {{u"5a", S::newer}}, {"c30", "w29", "w30"}},
        {"between 5 and 31", {{u"5", S::older}, {u"31", S::newer}}, {"w29", "w30", "w5"}},
        // The shared letter: c then w keeps creation for older, write for newer ...
        {"older 30c, newer 400w",
         {{u"30c", S::older}, {u"400w", S::newer}},
         {"c30", "feb1", "jan31", "w4", "w5"}},
        // ... w then c makes both sides test the creation date.
        {"older 30w, newer 400c", {{u"30w", S::older}, {u"400c", S::newer}}, {"c30"}},
        {"newer 400c, older 30w", {{u"400c", S::newer}, {u"30w", S::older}}, {"w30"}},
        // Dates: the bound date itself is inside on both sides.
        {"newer than 2024-01-10", {{u"2024-01-10", S::newer}}, {"a30", "c30", "w4"}},
        {"older than 2023-12-15", {{u"2023-12-15", S::older}}, {"feb1", "jan31", "old", "w30"}},
        {"older than 2023-12-15c",
         {{u"2023-12-15c", S::older}},
         {"c30", "feb1", "jan31", "old", "w4", "w5"}},
        {"older than 12/15/2023a",
         {{u"12/15/2023a", S::older}},
         {"a30", "feb1", "jan31", "old", "w4", "w5"}},
        {"newer than 2024-01-10a", {{u"2024-01-10a", S::newer}}, {"c30", "w29", "w30"}},
        {"newer than 2024-01-10c", {{u"2024-01-10c", S::newer}}, {"a30", "w29", "w30"}},
        {"across a month end",
         {{u"2023-01-31", S::newer}, {u"2023-02-01", S::older}},
         {"feb1", "jan31"}},
        {"equal bound dates", {{u"2023-02-01", S::newer}, {u"02-01-2023", S::older}}, {"feb1"}},
        {"bounds the wrong way round", {{u"2023-02-01", S::older}, {u"2023-03-01", S::newer}}, {}},
        // A date on one side silences a day count on the other.
        {"date newer, days older",
         {{u"2024-01-10", S::newer}, {u"30", S::older}},
         {"a30", "c30", "w4"}},
        {"days newer, date older",
         {{u"5", S::newer}, {u"2023-12-15", S::older}},
         {"feb1", "jan31", "old", "w30"}},
        // Two-digit years 00-09 are this century in the stored date too.
        {"older than 01-01-05", {{u"01-01-05", S::older}}, {"old"}},
        {"newer than 01-01-05",
         {{u"01-01-05", S::newer}},
         {"a30", "c30", "feb1", "jan31", "w29", "w30", "w4", "w5"}},
        {"newer than 06-02-04",
         {{u"06-02-04", S::newer}},
         {"a30", "c30", "feb1", "jan31", "w29", "w30", "w4", "w5"}},
        {"newer than 06-01-04",
         {{u"06-01-04", S::newer}},
         {"a30", "c30", "feb1", "jan31", "old", "w29", "w30", "w4", "w5"}},
    };
    // Each bound as the command line gives it: -g older, -l newer.
    for (const auto& row : rows) {
        std::vector<std::u16string> options;
        for (const auto& b : row.bounds) {
            options.push_back(b.side == S::older ? u"-g" : u"-l");
            options.push_back(b.value);
        }
        EXPECT_EQ(listed(mp, {}, options), row.expected) << row.what;
    }
}

TEST_F(AgeFilter, ExactlyThirtyDaysAtTheDayBoundary) {
    // Just after local midnight and just before it: whole days count, not
    // hours, so both are 30 days old on the morning of 14 January.
    mp.add_file(u"C:\\d\\early", "x", {.write = ticks_from_utc(2023, 12, 15, 5, 0, 1)});
    mp.add_file(u"C:\\d\\late", "x", {.write = ticks_from_utc(2023, 12, 16, 4, 59, 59)});
    mp.add_file(u"C:\\d\\next", "x", {.write = ticks_from_utc(2023, 12, 16, 5, 0, 0)});
    const auto names = listed(mp, [](filarix::Run& run) {
        read_age_value(run, u"30", AgeSide::older, AgeSource::command_line);
        read_age_value(run, u"31", AgeSide::newer, AgeSource::command_line);
    });
    EXPECT_EQ(names, (Names{"early", "late", "w30"}));
}

TEST_F(AgeFilter, UtcTimesAreTestedWhenTheListingIsInUtc) {
    // 02:00 UTC on 16 December is still 15 December in EST.
    mp.add_file(u"C:\\d\\edge", "x", {.write = ticks_from_utc(2023, 12, 16, 2, 0, 0)});
    const auto local = listed(mp, [](filarix::Run& run) {
        read_age_value(run, u"2023-12-15", AgeSide::older, AgeSource::command_line);
    });
    EXPECT_NE(std::find(local.begin(), local.end(), "edge"), local.end());
    const auto utc = listed(mp, [](filarix::Run& run) {
        run.s.ZULU = 1;
        read_age_value(run, u"2023-12-15", AgeSide::older, AgeSource::command_line);
    });
    EXPECT_EQ(std::find(utc.begin(), utc.end(), "edge"), utc.end());
}

TEST(AgePredicate, AgreesWithTheCoreDayCount) {
    // A day-count bound tests one of the three times, chosen by its letter;
    // the other two would give the opposite verdict.
    struct Row {
        const char* what;
        std::u16string bound;
        AgeSide side;
        int days;          // the bound's number
        char letter;       // the time it tests
        DateValue tested;  // that time's date
        bool kept;
    };
    using S = AgeSide;
    const DateValue today{1, 14, 2024};
    const DateValue long_ago{1, 1, 1700};
    const Row rows[] = {
        {"older 30, 30 days", u"30", S::older, 30, 'w', {12, 15, 2023}, true},
        {"older 30, 29 days", u"30", S::older, 30, 'w', {12, 16, 2023}, false},
        {"older 30m is the write time", u"30m", S::older, 30, 'w', {12, 15, 2023}, true},
        {"older 30c", u"30c", S::older, 30, 'c', {12, 15, 2023}, true},
        {"older 30a", u"30a", S::older, 30, 'a', {12, 15, 2023}, true},
        {"older 30c, 29 days", u"30c", S::older, 30, 'c', {12, 16, 2023}, false},
        {"newer 1, today", u"1", S::newer, 1, 'w', {1, 14, 2024}, true},
        {"newer 1, yesterday", u"1", S::newer, 1, 'w', {1, 13, 2024}, false},
        {"newer 1c, today", u"1c", S::newer, 1, 'c', {1, 14, 2024}, true},
        {"newer 1a, yesterday", u"1a", S::newer, 1, 'a', {1, 13, 2024}, false},
        {"newer 1w, today", u"1w", S::newer, 1, 'w', {1, 14, 2024}, true},
        // Across the day boundary ahead: tomorrow is 0 days old, the day
        // after -1.
        {"older 0, tomorrow", u"0", S::older, 0, 'w', {1, 15, 2024}, true},
        {"older 0, the day after", u"0", S::older, 0, 'w', {1, 16, 2024}, false},
        {"newer 1, tomorrow", u"1", S::newer, 1, 'w', {1, 15, 2024}, true},
        // A zero file time stands for 30 November 1979.
        {"older 16116, zero time", u"16116", S::older, 16116, 'w', {0, 0, 1980}, true},
        {"older 16117, zero time", u"16117", S::older, 16117, 'w', {0, 0, 1980}, false},
        // Far years: the first the clock places, its last, and one past it
        // (no midnight: 0 days).
        {"older 154510c, 1601", u"154510c", S::older, 154510, 'c', {1, 1, 1601}, true},
        {"older 154511c, 1601", u"154511c", S::older, 154511, 'c', {1, 1, 1601}, false},
        {"newer 1a, 30827", u"1a", S::newer, 1, 'a', {12, 31, 30827}, true},
        {"older 1, 30827", u"1", S::older, 1, 'w', {12, 31, 30827}, false},
        {"older 0, 30828", u"0", S::older, 0, 'w', {1, 1, 30828}, true},
        {"newer 1, 30828", u"1", S::newer, 1, 'w', {1, 1, 30828}, true},
    };
    const auto fields = [](const DateValue& d) { return CalendarFields{d.month, d.day, d.year}; };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        MemoryPlatform mp;
        filarix::Run run(mp);
        read_age_value(run, row.bound, row.side, AgeSource::command_line);
        const DateValue other = row.side == S::older ? today : long_ago;
        TimesRecord t;
        t.creation = fields(row.letter == 'c' ? row.tested : other);
        t.access = fields(row.letter == 'a' ? row.tested : other);
        t.write = fields(row.letter == 'w' ? row.tested : other);
        EXPECT_EQ(age_filter(run.sys, run.s, t), row.kept);
        // The verdict is the core's day count against the bound.
        const int age = days_since(mp, row.tested);
        EXPECT_EQ(row.side == S::older ? age >= row.days : age < row.days, row.kept) << age;
    }
}

TEST(AgeFilterZeroTime, AFileWithoutTimesIsFrom1979) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\never", "x", {.creation = 0, .access = 0, .write = 0});
    mp.add_file(u"C:\\d\\now", "x");
    EXPECT_EQ(listed(mp,
                     [](filarix::Run& run) {
                         read_age_value(run, u"1980-01-01", AgeSide::older,
                                        AgeSource::command_line);
                     }),
              Names{"never"});
    EXPECT_EQ(listed(mp,
                     [](filarix::Run& run) {
                         read_age_value(run, u"10000", AgeSide::older, AgeSource::command_line);
                     }),
              Names{"never"});
}

struct OptionRow {
    const char* what;
    std::vector<std::u16string> options;
    Names expected;
};

TEST(AttributeFilter, LettersCombineWithAnd) {
    namespace a = platform::attr;
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\plain", "x");
    mp.add_file(u"C:\\d\\ro", "x", {.attributes = a::readonly});
    mp.add_file(u"C:\\d\\rh", "x", {.attributes = a::readonly | a::hidden});
    mp.add_file(u"C:\\d\\hid", "x", {.attributes = a::hidden | a::archive});
    mp.add_file(u"C:\\d\\sys", "x", {.attributes = a::system});
    mp.add_file(u"C:\\d\\enc", "x", {.attributes = a::archive | a::encrypted});
    mp.add_file(u"C:\\d\\sub\\inner", "x");
    mp.add_dir(u"C:\\d\\hdir", {.attributes = a::directory | a::hidden});
    const OptionRow rows[] = {
        {"-Az: no known letter",
         {u"-Az"},
         {"enc", "hid", "plain", "rh", "ro", "sub\\inner", "sys"}},
        {"-Ar", {u"-Ar"}, {"rh", "ro"}},
        {"-Arh", {u"-Arh"}, {"rh"}},
        {"-Ah", {u"-Ah"}, {"hid", "rh"}},
        {"-As", {u"-As"}, {"sys"}},
        {"-Ae", {u"-Ae"}, {"enc"}},
        {"-Am", {u"-Am"}, {"enc", "hid", "plain", "sub\\inner"}},
        {"-Amh", {u"-Amh"}, {"hid"}},
        {"-Ars", {u"-Ars"}, {}},
        {"-AD", {u"-AD"}, {"hdir", "sub"}},
        {"-ADh", {u"-ADh"}, {"hdir"}},
        {"-Add: directories only", {u"-Add"}, {"hdir", "sub"}},
        {"-Ad", {u"-Ad"}, {"enc", "hdir", "hid", "plain", "rh", "ro", "sub", "sub\\inner", "sys"}},
        {"-Adh", {u"-Adh"}, {"hdir", "hid", "rh"}},
    };
    for (const auto& row : rows) EXPECT_EQ(listed(mp, {}, row.options), row.expected) << row.what;
}

TEST(SizeFilter, BothBoundsAreInclusive) {
    MemoryPlatform mp;
    for (const int size : {0, 99, 100, 101, 200})
        mp.add_file(u"C:\\d\\s" + platform::widen(std::to_string(size)), std::uint64_t(size));
    mp.add_file(u"C:\\d\\huge", std::uint64_t(5'000'000'000));
    const OptionRow rows[] = {
        {"at least 100", {u"-G", u"100"}, {"huge", "s100", "s101", "s200"}},
        {"at most 100", {u"-L100"}, {"s0", "s100", "s99"}},
        {"exactly 100", {u"-G100", u"-L", u"100"}, {"s100"}},
        {"99 to 101, plus form", {u"+G99", u"-L101"}, {"s100", "s101", "s99"}},
        {"at most 0", {u"-L", u"0"}, {"s0"}},
        {"above 4 GiB", {u"-G4294967296"}, {"huge"}},
        {"crossed bounds", {u"-G200", u"-L100"}, {}},
    };
    for (const auto& row : rows) EXPECT_EQ(listed(mp, {}, row.options), row.expected) << row.what;
}

TEST(LongPathFilter, ComparesTheCompletePath) {
    MemoryPlatform mp;
    // "\\?\C:\d\" is 9 characters: complete paths of 259 and 260.
    mp.add_file(u"C:\\d\\" + std::u16string(250, u'a'), "x");
    mp.add_file(u"C:\\d\\" + std::u16string(251, u'b'), "x");
    mp.add_file(u"C:\\d\\short", "x");
    auto showlong = [](int min, int width) {
        return [=](filarix::Run& run) {
            run.s.SHOWLONG = 1;
            run.s.showlong_min = min;
            if (width) {
                run.s.WIDTH = width;
                run.s.width_set = 1;
            }
        };
    };
    auto first_letters = [&](const std::function<void(filarix::Run&)>& set) {
        const auto result = run_in_memory(mp, {u"filarix64", u"C:\\d"}, set);
        std::string letters;
        for (const auto& line : listing_lines(result.err)) {
            const std::size_t at = line.find("C:\\d\\");
            if (at != std::string::npos) letters += line[at + 5];
        }
        std::sort(letters.begin(), letters.end());
        return letters;
    };
    EXPECT_EQ(first_letters(showlong(260, 0)), "b");
    EXPECT_EQ(first_letters(showlong(259, 0)), "ab");
    EXPECT_EQ(first_letters(showlong(261, 0)), "");
    EXPECT_EQ(first_letters(showlong(14, 0)), "abs");
    EXPECT_EQ(first_letters(showlong(15, 0)), "ab");
    // The same through the long option, which also makes the record
    // delimited and recurses.
    auto by_option = [&](const std::u16string& option) {
        const auto result = run_in_memory(mp, {u"filarix64", u"C:\\d", u"-r", option});
        std::string letters;
        for (const auto& line : listing_lines(result.err)) {
            const std::size_t at = line.find("C:\\d\\");
            if (at != std::string::npos) letters += line[at + 5];
            EXPECT_NE(line.find('|'), std::string::npos) << line;
        }
        std::sort(letters.begin(), letters.end());
        return letters;
    };
    EXPECT_EQ(by_option(u"--showlong"), "b");
    EXPECT_EQ(by_option(u"--SHOWLONG=259"), "ab");
    EXPECT_EQ(by_option(u"--ShowLong=14"), "abs");
    // A shortened path column does not change what is selected.
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\d"}, showlong(260, 40));
    const auto lines = listing_lines(result.err);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("bbbb"), std::string::npos);
    EXPECT_NE(lines[0].find("Len=256"), std::string::npos);
}

TEST(OwnerFilter, TheFilterTextMustBeginWithTheOwnerName) {
    MemoryPlatform mp;
    mp.add_file(u"C:\\d\\admin", "x", {.owner = std::string("Administrators")});
    mp.add_file(u"C:\\d\\alice", "x", {.owner = std::string("alice")});
    mp.add_file(u"C:\\d\\nobody", "x", {.owner = std::string("")});
    // An entry whose owner name is empty passes every owner filter.
    const OptionRow rows[] = {
        {"ALICE", {u"-U", u"ALICE"}, {"alice", "nobody"}},
        {"administrators", {u"-Uadministrators"}, {"admin", "nobody"}},
        {"Administrators and more", {u"-U", u"Administrators\\x"}, {"admin", "nobody"}},
        {"Admin", {u"-U", u"Admin"}, {"nobody"}},
        {"no name: owner column only", {u"-U"}, {"admin", "alice", "nobody"}},
    };
    for (const auto& row : rows) EXPECT_EQ(listed(mp, {}, row.options), row.expected) << row.what;
}

TEST(Selection, RunsInItsFixedOrder) {
    // The order decides which messages and counters an entry touches: the
    // path is judged before NOCHILD deletes, the signature and the known set
    // (which read the file) come last.
    std::vector<std::string> names;
    for (const auto& p : path_predicates()) names.push_back(p.name);
    EXPECT_EQ(names, (Names{"streams only", "path length"}));
    names.clear();
    for (const auto& p : entry_predicates()) names.push_back(p.name);
    EXPECT_EQ(names,
              (Names{"owner", "found", "attributes", "age", "size", "signature", "known set"}));
}

TEST(Selection, NoChildDeletesAfterThePathIsJudgedAndBeforeTheOwner) {
    MemoryPlatform mp;
    const std::u16string near = u"C:\\d\\x_childobjects";
    const std::u16string far = u"C:\\d\\" + std::u16string(60, u'a') + u"_childobjects";
    mp.add_file(near, "x", {.owner = std::string("alice")});
    mp.add_file(far, "x", {.owner = std::string("alice")});
    const auto result = run_in_memory(mp, {u"filarix64", u"C:\\d", u"--NOCHILD", u"-U", u"bob"},
                                      [](filarix::Run& run) {
                                          run.s.SHOWLONG = 1;
                                          run.s.showlong_min = 30;
                                      });
    // Too short for the path-length filter: NOCHILD never sees it.
    EXPECT_NE(mp.node(near), nullptr);
    // Deleted, though the owner filter after it would have dropped it.
    EXPECT_EQ(mp.node(far), nullptr);
    EXPECT_TRUE(listing_lines(result.err).empty()) << result.err;
}

}  // namespace
