// A time as the time applet's audit lines show it.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <optional>

#include "audit/time_text.h"

namespace {

struct Case {
    std::optional<struct timespec> at;
    const char* expected;
};

const Case CASES[] = {
    {std::nullopt, "?"},  // the clock could not be read
    {timespec{0, 0}, "1970-01-01T00:00:00.000000000Z"},
    {timespec{1796601600, 0}, "2026-12-07T00:00:00.000000000Z"},
    {timespec{1796601600, 123456789}, "2026-12-07T00:00:00.123456789Z"},
    {timespec{1, 999999999}, "1970-01-01T00:00:01.999999999Z"},
    {timespec{0, 1}, "1970-01-01T00:00:00.000000001Z"},
    {timespec{-1, 0}, "1969-12-31T23:59:59.000000000Z"},
    {timespec{2147483648, 0}, "2038-01-19T03:14:08.000000000Z"},  // past a 32-bit time_t
    {timespec{-62167219200, 0}, "0000-01-01T00:00:00.000000000Z"},
    {timespec{-62167219201, 0}, "-001-12-31T23:59:59.000000000Z"},
    {timespec{253402300800, 0}, "10000-01-01T00:00:00.000000000Z"},
    // The calendar's last and first years are those whose number less 1900 fits an int.
    {timespec{67768036191676799, 0}, "2147485547-12-31T23:59:59.000000000Z"},
    {timespec{67768036191676800, 5}, "@67768036191676800.000000005"},
    {timespec{-67768040609740800, 0}, "-2147481748-01-01T00:00:00.000000000Z"},
    {timespec{-67768040609740801, 0}, "@-67768040609740801.000000000"},
    {timespec{LLONG_MAX, 999999999}, "@9223372036854775807.999999999"},
    {timespec{LLONG_MIN, 0}, "@-9223372036854775808.000000000"},
};

TEST(UtcText, ShowsTheCalendarOrTheSecondsPastIt) {
    for (const Case& c : CASES)
        EXPECT_STREQ(utc_text(c.at).text, c.expected) << (c.at ? static_cast<long long>(c.at->tv_sec) : 0);
}

}  // namespace
