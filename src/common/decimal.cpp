#include "common/decimal.h"

#include <cstdlib>

namespace {

template <typename Number, Number (*parse)(const char*, char**, int)>
std::optional<Number> parse_whole(const char* text) {
    char* end = nullptr;
    Number value = parse(text, &end, 10);  // ERANGE saturates; that is wanted
    if (end == text || *end != '\0') return std::nullopt;
    return value;
}

}  // namespace

std::optional<long> parse_whole_decimal(const char* text) {
    return parse_whole<long, std::strtol>(text);
}

std::optional<long long> parse_whole_decimal64(const char* text) {
    return parse_whole<long long, std::strtoll>(text);
}
