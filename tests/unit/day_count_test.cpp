// Whole days between dates and from a date to now. The memory clock
// stands at 2024-01-14 10:42:16 EST and places years 1601 to 30827.
#include "core/day_count.hpp"

#include <gtest/gtest.h>

#include "memory_platform.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

TEST(DayDifference, WholeCalendarDays) {
    struct Row {
        DateValue file, bound;
        int days;
    };
    const Row rows[] = {
        {{2, 1, 2023}, {1, 31, 2023}, 1},
        {{1, 31, 2023}, {2, 1, 2023}, -1},
        {{1, 1, 2024}, {12, 31, 2023}, 1},
        {{12, 31, 2023}, {1, 1, 2024}, -1},
        {{3, 1, 2024}, {2, 28, 2024}, 2},
        {{2, 29, 2024}, {2, 28, 2024}, 1},
        {{3, 1, 2023}, {2, 28, 2023}, 1},
        {{3, 1, 2000}, {2, 28, 2000}, 2},
        {{3, 1, 1900}, {2, 28, 1900}, 1},
        {{1, 1, 2025}, {1, 1, 2024}, 366},
        {{1, 1, 2024}, {1, 1, 2023}, 365},
        {{3, 11, 2024}, {3, 10, 2024}, 1},  // a daylight-saving change is still one day
        {{11, 4, 2024}, {11, 3, 2024}, 1},
        {{5, 5, 2020}, {5, 5, 2020}, 0},
        {{0, 0, 1980}, {11, 30, 1979}, 0},  // a zero file time carries back
        {{13, 1, 2023}, {1, 1, 2024}, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(day_difference(r.file, r.bound), r.days)
            << r.file.month << "/" << r.file.day << "/" << r.file.year << " - " << r.bound.month
            << "/" << r.bound.day << "/" << r.bound.year;
}

TEST(DaysSince, WholeDaysFromLocalMidnightTruncatedTowardZero) {
    struct Row {
        DateValue date;
        int days;
    };
    const Row rows[] = {
        {{1, 14, 2024}, 0},  // today, ten hours in
        {{1, 13, 2024}, 1},
        {{12, 15, 2023}, 30},
        {{1, 15, 2024}, 0},     // tomorrow: less than a day ahead truncates to 0
        {{1, 16, 2024}, -1},    // a day and a bit ahead
        {{0, 0, 1980}, 16116},  // a zero file time: 30 November 1979
        {{2, 29, 2020}, 1415},
        {{1, 1, 1601}, 154510},        // the clock's first year
        {{12, 31, 30827}, -10520430},  // its last
        {{1, 1, 1600}, 0},             // no midnight the clock can place
        {{1, 1, 30828}, 0},
    };
    MemoryPlatform mp;
    for (const auto& r : rows)
        EXPECT_EQ(days_since(mp, r.date), r.days)
            << r.date.month << "/" << r.date.day << "/" << r.date.year;
}

TEST(DaysSince, TheDayTurnsAtLocalMidnight) {
    MemoryPlatform mp;
    // 2024-01-15 00:00 EST is 05:00 UTC.
    mp.now = seconds_from_utc(2024, 1, 15, 4, 59, 59);
    EXPECT_EQ(days_since(mp, {1, 14, 2024}), 0);
    EXPECT_EQ(days_since(mp, {12, 15, 2023}), 30);
    mp.now = seconds_from_utc(2024, 1, 15, 5, 0, 0);
    EXPECT_EQ(days_since(mp, {1, 14, 2024}), 1);
    EXPECT_EQ(days_since(mp, {12, 15, 2023}), 31);
    EXPECT_EQ(days_since(mp, {1, 15, 2024}), 0);
}

}  // namespace
