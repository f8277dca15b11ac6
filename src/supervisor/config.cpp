#include "supervisor/config.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char CONFIG_PATH[] = "/app/share/tavix/watchdog.conf";
constexpr char BLANKS[] = " \t";

// One record per line: the first token names it, the rest are its argument
// vector. Tokens go straight into the record: a configuration may hold many
// thousands of lines. A zero byte ends the line's text, as in any C string.
void add_program(const char* line, std::vector<SupervisedProgram>& list) {
    const char* p = line + std::strspn(line, BLANKS);
    if (*p == '\0' || *p == '#') return;  // a blank line or a comment
    SupervisedProgram program;
    std::size_t length = std::strcspn(p, BLANKS);
    program.name.assign(p, length);
    for (p += length; *(p += std::strspn(p, BLANKS)); p += length) {
        length = std::strcspn(p, BLANKS);
        program.args.emplace_back(p, length);
    }
    if (program.args.empty()) return;  // a name without an executable
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
