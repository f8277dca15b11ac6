#include "supervisor/config.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char CONFIG_PATH[] = "/app/share/tavix/watchdog.conf";
constexpr char BLANKS[] = " \t";

// The tokens of one line. A zero byte ends the line's text, as in any C string.
std::vector<std::string> split(const char* line) {
    std::vector<std::string> tokens;
    for (const char* p = line + std::strspn(line, BLANKS); *p; p += std::strspn(p, BLANKS)) {
        const std::size_t length = std::strcspn(p, BLANKS);
        tokens.emplace_back(p, length);
        p += length;
    }
    return tokens;
}

void add_program(const char* line, std::vector<SupervisedProgram>& list) {
    std::vector<std::string> tokens = split(line);
    if (tokens.empty() || tokens[0][0] == '#') return;
    if (tokens.size() < 2) return;  // a name without an executable
    SupervisedProgram program;
    program.name = std::move(tokens[0]);
    program.args.assign(std::make_move_iterator(tokens.begin() + 1), std::make_move_iterator(tokens.end()));
    list.push_back(std::move(program));
}

}  // namespace

void parse_watchdog_config(FILE* stream, std::vector<SupervisedProgram>& list) {
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, stream)) != -1) {
        if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
        add_program(line, list);
    }
    std::free(line);
}

void load_watchdog_config(std::vector<SupervisedProgram>& list) {
    // Close-on-exec, and closed before any program starts: children get 0-2 only.
    FILE* stream = std::fopen(CONFIG_PATH, "re");
    if (!stream) return;
    parse_watchdog_config(stream, list);
    std::fclose(stream);
}
