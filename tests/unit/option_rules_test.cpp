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

}  // namespace
}  // namespace filarix
