// Whole-string decimal parsing: strtol semantics (leading white space and a
// sign allowed, out-of-range values saturate), but nothing may follow.
#pragma once

#include <optional>

std::optional<long> parse_whole_decimal(const char* text);
std::optional<long long> parse_whole_decimal64(const char* text);
