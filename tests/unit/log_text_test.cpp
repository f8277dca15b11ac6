// The audit line's text: bounded, and escaped where a caller's bytes go in.
#include <gtest/gtest.h>

#include <string>

#include "audit/log_text.h"

namespace {

// A line holding `before`, that may grow to `end` bytes.
LogText line_of(const std::string& before, std::size_t end) {
    LogText text{};
    clear(text, end);
    append(text, before);
    return text;
}

std::string shown(const LogText& text) {
    EXPECT_EQ(text.data[text.used], '\0');
    return {text.data, text.used};
}

struct EscapeCase {
    const char* what;
    std::string before;
    std::size_t end;
    std::string piece;
    std::size_t limit;
    std::string expected;
};

const std::size_t WHOLE_LINE = LOG_LINE_MAX_BYTES - 1;

const EscapeCase ESCAPES[] = {
    {"printable ASCII as it is", "", WHOLE_LINE, "!az~09", 64, "!az~09"},
    {"the backslash doubled", "", WHOLE_LINE, "a\\x41", 64, "a\\\\x41"},
    {"space, controls, DEL", "", WHOLE_LINE, " \t\n\x1b\x7f", 64, "\\x20\\x09\\x0a\\x1b\\x7f"},
    {"bytes outside ASCII", "", WHOLE_LINE, "\xc3\xa9\x80\xff", 64, "\\xc3\\xa9\\x80\\xff"},
    {"nothing", "x", WHOLE_LINE, "", 64, "x"},
    {"exactly the limit", "", WHOLE_LINE, "abcdefgh", 8, "abcdefgh"},
    {"one past the limit", "", WHOLE_LINE, "abcdefghi", 8, "abcde..."},
    {"the limit counts from the line's end", "12", WHOLE_LINE, "abcdefghi", 8, "12abcde..."},
    {"an escape fits exactly", "", WHOLE_LINE, "ab\x01" "cd", 8, "ab\\x01cd"},
    {"an escape is never split", "", WHOLE_LINE, "abcde\x01", 8, "abcde..."},
    {"the cut goes before an escape", "", WHOLE_LINE, "ab\x01" "cde", 8, "ab..."},
    {"a doubled backslash is never split", "", WHOLE_LINE, "\\\\\\\\\\", 8, "\\\\\\\\..."},
    {"the line's end cuts first", "x", 6, "abcdefgh", 64, "xab..."},
    {"no room even for the mark", "xxxxxx", 8, "a", 64, "xxxxxx"},
    {"the whole line", "", WHOLE_LINE, std::string(2000, 'a'), 5000, std::string(988, 'a') + "..."},
};

TEST(AppendEscaped, ShowsEachByteOnOneLineAndMarksTheCut) {
    for (const EscapeCase& c : ESCAPES) {
        LogText text = line_of(c.before, c.end);
        append_escaped(text, c.piece.c_str(), c.limit);
        EXPECT_EQ(shown(text), c.expected) << c.what;
    }
}

struct AppendCase {
    std::string before;
    std::size_t end;
    std::string piece;
    std::string expected;
};

// Plain text, cut at the line's end without a mark: the program's own.
const AppendCase APPENDS[] = {
    {"abc", 8, "def", "abcdef"},
    {"abc", 5, "defg", "abcde"},
    {"abcde", 5, "f", "abcde"},
    {"", WHOLE_LINE, std::string(1000, 'x'), std::string(991, 'x')},
};

TEST(Append, StopsAtTheLinesEnd) {
    for (const AppendCase& c : APPENDS) {
        LogText text = line_of(c.before, c.end);
        append(text, c.piece);
        EXPECT_EQ(shown(text), c.expected) << c.before << "+" << c.piece;
    }
}

struct NumberCase {
    unsigned long value;
    const char* expected;
};

const NumberCase NUMBERS[] = {{0, "0"}, {7, "7"}, {1001, "1001"}, {4294967295UL, "4294967295"}};

TEST(AppendNumber, WritesDecimalDigits) {
    for (const NumberCase& c : NUMBERS) {
        LogText text = line_of("pid=", WHOLE_LINE);
        append_number(text, c.value);
        EXPECT_EQ(shown(text), std::string("pid=") + c.expected);
    }
}

}  // namespace
