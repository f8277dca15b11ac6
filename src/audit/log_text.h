// A line for the system logger, built in place: bounded, and escaped where a
// caller's bytes go in, so that whatever the caller passed it stays one line.
#pragma once

#include <cstddef>
#include <string_view>

// Every logger takes this much whole, and so does the kernel log, whose
// oldest kernels refuse a record of more than 992 bytes.
constexpr std::size_t LOG_LINE_MAX_BYTES = 992;

// Text that stops at `end` (at most its size less the terminating zero) and
// stays terminated. Plain, so that one in static storage is all zero bytes,
// kept out of the executable.
struct LogText {
    char data[LOG_LINE_MAX_BYTES];
    std::size_t used;
    std::size_t end;
};

// Empties `text`, which may then grow to `end` bytes.
void clear(LogText& text, std::size_t end = LOG_LINE_MAX_BYTES - 1);

void append(LogText& text, std::string_view piece);

// Ids and pids: 32 bits are enough, and spare the device 64-bit division.
void append_number(LogText& text, unsigned long value);

// At most `limit` bytes of `piece`, with control characters, bytes outside
// printable ASCII, the space and the backslash written as \xHH or \\; "..."
// ends it where it was cut.
void append_escaped(LogText& text, const char* piece, std::size_t limit);
