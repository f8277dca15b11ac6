// The configuration parser against a reference split written from the rule:
// lines end at newline, a zero byte ends a line's text, tokens are runs of
// anything but space and tab, a first token starting with "#" is a comment,
// and a line needs a name and an executable. Also the records' invariants on
// their own: args never empty, no token empty or holding a separator, no
// name starting with "#".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "supervisor/config.h"

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : line.substr(0, line.find('\0'))) {
        if (c != ' ' && c != '\t') {
            token += c;
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

std::vector<std::vector<std::string>> reference(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> tokens = split(text.substr(start, end - start));
        if (tokens.size() >= 2 && tokens[0][0] != '#') records.push_back(tokens);
        start = end + 1;
    }
    return records;
}

bool clean_token(const std::string& token) {
    return !token.empty() && token.find_first_of(std::string(" \t\n\0", 4)) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<SupervisedProgram> list;
    if (size > 0) {
        FILE* stream = fmemopen(const_cast<char*>(text.data()), size, "r");
        if (!stream) return 0;
        parse_watchdog_config(stream, list);
        std::fclose(stream);
    }

    const auto expected = reference(text);
    if (list.size() != expected.size()) __builtin_trap();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const SupervisedProgram& p = list[i];
        if (p.args.empty() || !clean_token(p.name) || p.name[0] == '#') __builtin_trap();
        if (p.pid || p.disabled) __builtin_trap();
        std::vector<std::string> tokens{p.name};
        for (const std::string& arg : p.args) {
            if (!clean_token(arg)) __builtin_trap();
            tokens.push_back(arg);
        }
        if (tokens != expected[i]) __builtin_trap();
    }
    return 0;
}
