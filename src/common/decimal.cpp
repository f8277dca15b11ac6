#include "common/decimal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

std::optional<long long> parse_whole_decimal64(const char* text) {
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);  // out of range saturates; that is wanted
    if (end == text || *end != '\0') return std::nullopt;
    return value;
}

// strtol's reading is strtoll's saturated at long's limits: one parser serves
// both widths (on 64-bit targets the two are the same).
std::optional<long> parse_whole_decimal(const char* text) {
    std::optional<long long> value = parse_whole_decimal64(text);
    if (!value) return std::nullopt;
    return static_cast<long>(std::clamp<long long>(*value, LONG_MIN, LONG_MAX));
}
