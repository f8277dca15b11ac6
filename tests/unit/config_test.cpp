// The configuration parser, fed from memory, and the record lookup of the reaping loop.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "supervisor/config.h"
#include "supervisor/program.h"

namespace {

using Lines = std::vector<std::vector<std::string>>;  // per record: name, then args

Lines parse(const std::string& text) {
    std::vector<SupervisedProgram> list;
    std::string buffer = text;
    // fmemopen refuses a zero-length buffer: an empty file is an empty tmpfile.
    FILE* stream = text.empty() ? std::tmpfile() : fmemopen(buffer.data(), buffer.size(), "r");
    if (!stream) ADD_FAILURE() << "cannot open a stream";
    if (!stream) return {};
    parse_watchdog_config(stream, list);
    std::fclose(stream);
    Lines out;
    for (const SupervisedProgram& p : list) {
        EXPECT_FALSE(p.pid.has_value());
        EXPECT_FALSE(p.disabled);
        std::vector<std::string> line{p.name};
        line.insert(line.end(), p.args.begin(), p.args.end());
        out.push_back(line);
    }
    return out;
}

struct Case {
    const char* what;
    std::string text;
    Lines expected;
};

const std::string LONG_ARG(100000, 'x');

const Case CASES[] = {
    {"empty file", "", {}},
    {"blank lines", "\n \n\t\n  \t \n", {}},
    {"one program", "web /usr/bin/web\n", {{"web", "/usr/bin/web"}}},
    {"arguments in order", "web /usr/bin/web -p 80 -v\n", {{"web", "/usr/bin/web", "-p", "80", "-v"}}},
    {"tab, then two spaces", "web\t/usr/bin/web  -v\n", {{"web", "/usr/bin/web", "-v"}}},
    {"leading and trailing blanks", " \t web \t /w \t \n", {{"web", "/w"}}},
    {"comment", "# web /w\n", {}},
    {"indented comment", "  \t#web /w\n", {}},
    {"hash glued to a name is a comment", "#web /w\n", {}},
    {"lone hash inside a line", "web # /w\n", {{"web", "#", "/w"}}},
    {"hash inside a token", "web /w a#b #c\n", {{"web", "/w", "a#b", "#c"}}},
    {"name only", "web\n", {}},
    {"name only with trailing blanks", "web  \t\n", {}},
    {"file order, duplicates kept",
     "b /b\na /a\nb /b2\n",
     {{"b", "/b"}, {"a", "/a"}, {"b", "/b2"}}},
    {"relative path kept verbatim", "w ./bin/w ../x\n", {{"w", "./bin/w", "../x"}}},
    {"final line without newline", "a /a\nb /b", {{"a", "/a"}, {"b", "/b"}}},
    {"CRLF: the carriage return stays in the last token",
     "a /a\r\nb /b -v\r\nc\r\n",
     {{"a", "/a\r"}, {"b", "/b", "-v\r"}}},
    {"carriage return alone is not white space", "a /a \r\n", {{"a", "/a", "\r"}}},
    {"zero byte ends the line's tokens",
     std::string("a /a x\0y z\nb /b\n", 16),
     {{"a", "/a", "x"}, {"b", "/b"}}},
    {"zero byte before the path", std::string("a \0/a\nb /b\n", 11), {{"b", "/b"}}},
    {"other bytes are ordinary", "\xff \x01/p\v \f\n", {{"\xff", "\x01/p\v", "\f"}}},
    {"very long argument", "a /a " + LONG_ARG + "\nb /b\n", {{"a", "/a", LONG_ARG}, {"b", "/b"}}},
};

TEST(WatchdogConfig, ParsesOneRecordPerProgramLine) {
    for (const Case& c : CASES) EXPECT_EQ(parse(c.text), c.expected) << c.what;
}

TEST(WatchdogConfig, ReadsManyLines) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text.append("p").append(std::to_string(i)).append(" /bin/p\n");
    Lines lines = parse(text);
    ASSERT_EQ(lines.size(), 20000u);
    EXPECT_EQ(lines.back(), (std::vector<std::string>{"p19999", "/bin/p"}));
}

// A disabled record keeps the pid of a child already reaped; the kernel may
// reuse that number for another program's child, which must still be found.
TEST(FindByPid, PassesOverDisabledRecordsAndMissingPids) {
    std::vector<SupervisedProgram> list(4);
    list[0].pid = 42;
    list[0].disabled = true;
    list[2].pid = 42;
    list[3].pid = 7;
    EXPECT_EQ(find_by_pid(list, 42), &list[2]);
    EXPECT_EQ(find_by_pid(list, 7), &list[3]);
    EXPECT_EQ(find_by_pid(list, 8), nullptr);
}

}  // namespace
