// parse_whole_decimal and parse_whole_decimal64 against a reference reading
// written from the rule itself: C-locale white space, an optional sign, at
// least one digit, nothing after; values beyond the type saturate.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "common/decimal.h"

namespace {

bool c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

template <typename Number>
std::optional<Number> reference(const char* text, Number low, Number high) {
    while (c_space(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (*text < '0' || *text > '9') return std::nullopt;
    __int128 value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > (__int128)high + 1) value = (__int128)high + 1;  // saturated either way
    }
    if (*text != '\0') return std::nullopt;
    if (negative) value = -value;
    if (value < low) return low;
    if (value > high) return high;
    return static_cast<Number>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The argument vector's strings end at their first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (parse_whole_decimal(text.c_str()) != reference<long>(text.c_str(), LONG_MIN, LONG_MAX)) __builtin_trap();
    if (parse_whole_decimal64(text.c_str()) != reference<long long>(text.c_str(), LLONG_MIN, LLONG_MAX))
        __builtin_trap();
    return 0;
}
