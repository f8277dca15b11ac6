#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "common/decimal.h"

namespace {

struct Case {
    const char* text;
    std::optional<long> expected;
};

// strtol semantics, but the whole string must be the number.
const Case CASES[] = {
    {"0", 0L},          {"3600", 3600L},    {"-1", -1L},         {"+5", 5L},
    {" 5", 5L},         {"\t\n 7", 7L},     {"007", 7L},         {"-0", 0L},
    {"", std::nullopt}, {" ", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt},
    {"5s", std::nullopt}, {"5 ", std::nullopt}, {"0x10", std::nullopt}, {"1e3", std::nullopt},
    {"1.5", std::nullopt}, {"--1", std::nullopt}, {"abc", std::nullopt}, {"5\n", std::nullopt},
    {"99999999999999999999", LONG_MAX}, {"-99999999999999999999", LONG_MIN},
};

TEST(ParseWholeDecimal, FollowsStrtolButRejectsTrailingText) {
    for (const Case& c : CASES) EXPECT_EQ(parse_whole_decimal(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseWholeDecimal, SaturatesAtTheLongLimitsOfThePlatform) {
    EXPECT_EQ(parse_whole_decimal(std::to_string(LONG_MAX).c_str()), LONG_MAX);
    EXPECT_EQ(parse_whole_decimal(std::to_string(LONG_MIN).c_str()), LONG_MIN);
    // One past the limit saturates instead of wrapping: on 32-bit, 2^31 and 2^32 stay large.
    EXPECT_EQ(parse_whole_decimal("2147483648"), sizeof(long) == 4 ? LONG_MAX : 2147483648L);
    EXPECT_EQ(parse_whole_decimal("4294967296"), sizeof(long) == 4 ? LONG_MAX : 4294967296L);
}

TEST(ParseWholeDecimal64, IsSixtyFourBitsWideEverywhere) {
    EXPECT_EQ(parse_whole_decimal64("4294967296"), 4294967296LL);
    EXPECT_EQ(parse_whole_decimal64("-4294967296"), -4294967296LL);
    EXPECT_EQ(parse_whole_decimal64("99999999999999999999"), LLONG_MAX);
    EXPECT_EQ(parse_whole_decimal64("12x"), std::nullopt);
    EXPECT_EQ(parse_whole_decimal64(""), std::nullopt);
}

}  // namespace
