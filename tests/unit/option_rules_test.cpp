// The rules the settings sources share, checked as values: no platform.
#include "options/option_rules.hpp"

#include <gtest/gtest.h>

#include "core/run_settings.hpp"

namespace filarix {
namespace {

TEST(OptionRules, OneCharacterIsTheDelimiterItself) {
    EXPECT_EQ(delimiter_from_text(u";"), ';');
    EXPECT_EQ(delimiter_from_text(u"9"), '9');
}

TEST(OptionRules, LongerTextIsTheDelimiterCode) {
    EXPECT_EQ(delimiter_from_text(u"59"), ';');
    EXPECT_EQ(delimiter_from_text(u"300"), static_cast<char>(300 & 0xFF));
    EXPECT_EQ(delimiter_from_text(u"tab"), '\0');
}

TEST(OptionRules, DelimiterIsTheLowByte) {
    EXPECT_EQ(delimiter_byte(u'\u013B'), ';');
    EXPECT_EQ(delimiter_byte(u'\u0100'), '\0');
}

TEST(OptionRules, NulIsNoDelimiter) {
    EXPECT_FALSE(delimiter_allowed('\0'));
    EXPECT_TRUE(delimiter_allowed('|'));
    EXPECT_TRUE(delimiter_allowed('\t'));
}

TEST(OptionRules, WidthIsHeldToTheLongestPath) {
    EXPECT_EQ(column_width(u"40"), 40);
    EXPECT_EQ(column_width(u"-5"), 0);
    EXPECT_EQ(column_width(u"99999"), column_limit);
    EXPECT_EQ(column_width(u"x"), 0);
    EXPECT_EQ(column_width(std::string_view(" 12abc")), 12);
    EXPECT_EQ(column_width(std::string_view("99999999999999999999999")), column_limit);
}

TEST(OptionRules, TheExcludeListHoldsItsCapacity) {
    EXPECT_FALSE(exclude_list_full(exclude_capacity - 1));
    EXPECT_TRUE(exclude_list_full(exclude_capacity));
}

TEST(OptionRules, CommentWidthsAreHeld) {
    EXPECT_EQ(comment_width(u"12"), 12u);
    EXPECT_EQ(comment_width(u"-5"), 0u);
    EXPECT_EQ(comment_width(u"99999999"), 1000000u);
    EXPECT_EQ(comment_width(u"x"), 0u);
}

// A PostgreSQL server is named by a URL or a libpq connection string;
// anything else, an equals sign in a file name included, is a file.
TEST(OptionRules, DatabaseValuesTellAServerFromAFile) {
    const struct {
        std::u16string_view value;
        DatabaseKind kind;
    } cases[] = {
        {u"catalogue.sqlite", DatabaseKind::sqlite_file},
        {u"/data/run.db", DatabaseKind::sqlite_file},
        {u"postgresql://user@host/db", DatabaseKind::postgresql},
        {u"POSTGRES://host/db", DatabaseKind::postgresql},
        {u"host=/tmp dbname=cat", DatabaseKind::postgresql},
        {u"  dbname = cat", DatabaseKind::postgresql},
        {u"a=b.db", DatabaseKind::sqlite_file},
        {u"./host=x.db", DatabaseKind::sqlite_file},
        {u"hosts=x.db", DatabaseKind::sqlite_file},
        {u"postgresql.db", DatabaseKind::sqlite_file},
    };
    for (const auto& c : cases)
        EXPECT_EQ(database_kind_of(c.value), c.kind) << std::string(c.value.begin(), c.value.end());
}

}  // namespace
}  // namespace filarix
