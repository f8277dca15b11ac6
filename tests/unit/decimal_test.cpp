#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "common/decimal.h"

namespace {

// A value past 32 bits as long holds it: saturated on the device, whole on
// the host.
constexpr long past_32_bits(long long value) {
    if (sizeof(long) == 4) return value > 0 ? LONG_MAX : LONG_MIN;
    return static_cast<long>(value);
}

struct Case {
    const char* text;
    std::optional<long> expected;
};

// As long as the largest argument a caller can pass.
const std::string ZEROS(131072, '0'), NINES(131072, '9'), MINUS_NINES = "-" + NINES;

// strtol semantics, but the whole string must be the number; out of range
// saturates at long's limits, whose width the device (32 bits) and the host
// (64) do not share.
const Case CASES[] = {
    {"0", 0L},          {"3600", 3600L},    {"-1", -1L},         {"+5", 5L},
    {" 5", 5L},         {"\t\n 7", 7L},     {"007", 7L},         {"-0", 0L},
    {"", std::nullopt}, {" ", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt},
    {"5s", std::nullopt}, {"5 ", std::nullopt}, {"0x10", std::nullopt}, {"1e3", std::nullopt},
    {"1.5", std::nullopt}, {"--1", std::nullopt}, {"abc", std::nullopt}, {"5\n", std::nullopt},
    {"1.0", std::nullopt}, {"0005", 5L},
    {"99999999999999999999", LONG_MAX}, {"-99999999999999999999", LONG_MIN},
    {"2147483647", 2147483647L}, {"-2147483648", -2147483647L - 1},
    // Past 32 bits the device saturates instead of wrapping: 2^31 and 2^32 stay large.
    {"2147483648", past_32_bits(2147483648LL)}, {"-2147483649", past_32_bits(-2147483649LL)},
    {"4294967296", past_32_bits(4294967296LL)}, {"4294967297", past_32_bits(4294967297LL)},
    {"4294967295", past_32_bits(4294967295LL)}, {"3000000000", past_32_bits(3000000000LL)},
    // Cut to 32 bits these would be 5 and 5 again, and a positive wait.
    {"4294967301", past_32_bits(4294967301LL)}, {"-4294967291", past_32_bits(-4294967291LL)},
    {"-3000000000", past_32_bits(-3000000000LL)}, {"-4294967200", past_32_bits(-4294967200LL)},
    {"9223372036854775807", LONG_MAX}, {"-9223372036854775808", LONG_MIN},
    {ZEROS.c_str(), 0L}, {NINES.c_str(), LONG_MAX}, {MINUS_NINES.c_str(), LONG_MIN},
    // Digits and blanks of other scripts, and bytes no text has, are none.
    {"\xff", std::nullopt}, {"5\xff", std::nullopt}, {"\xc2\xa0" "5", std::nullopt},
    {"\xef\xbc\x95", std::nullopt}, {"\t", std::nullopt},
};

TEST(ParseWholeDecimal, FollowsStrtolButRejectsTrailingText) {
    for (const Case& c : CASES) EXPECT_EQ(parse_whole_decimal(c.text), c.expected) << '"' << c.text << '"';
}

struct Case64 {
    const char* text;
    std::optional<long long> expected;
};

// The same reading, 64 bits wide on every target.
const Case64 CASES64[] = {
    {"4294967296", 4294967296LL},           {"-4294967296", -4294967296LL},
    {"9223372036854775807", LLONG_MAX},      {"-9223372036854775808", LLONG_MIN},
    {"99999999999999999999", LLONG_MAX},     {"-99999999999999999999", LLONG_MIN},
    {"12x", std::nullopt},                   {"", std::nullopt},
    {"1.5", std::nullopt},                   {"0x10", std::nullopt},
    {"5 ", std::nullopt},                    {"\xff", std::nullopt},
};

TEST(ParseWholeDecimal64, IsSixtyFourBitsWideEverywhere) {
    for (const Case64& c : CASES64) EXPECT_EQ(parse_whole_decimal64(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
