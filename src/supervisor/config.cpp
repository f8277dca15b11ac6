#include "supervisor/config.h"

#include <string>

#include "common/files.h"
#include "common/out_of_memory.h"

namespace {

constexpr char CONFIG_PATH[] = "/app/share/tavix/watchdog.conf";
// Tokens are separated by runs of spaces and tabs. A zero byte ends the
// line's text, as in any C string.
bool is_blank(char c) { return c == ' ' || c == '\t'; }
const char* skip_blanks(const char* p) {
    while (is_blank(*p)) ++p;
    return p;
}
const char* token_end(const char* p) {
    while (*p != '\0' && !is_blank(*p)) ++p;
    return p;
}

// One record per line: the first token names it, the rest are its argument
// vector. Tokens go straight into the record: a configuration may hold many
// thousands of lines.
void add_program(const char* line, std::vector<SupervisedProgram>& list) {
    const char* p = skip_blanks(line);
    if (*p == '\0' || *p == '#') return;  // a blank line or a comment
    SupervisedProgram program;
    const char* end = token_end(p);
    // Constructed, not assign()ed: assigning a range may take the library's
    // out-of-line replace path, which brings the exception machinery with it.
    program.name = std::string(p, end);
    for (p = skip_blanks(end); *p != '\0'; p = skip_blanks(end)) {
        end = token_end(p);
        program.args.emplace_back(p, end);
    }
    if (program.args.empty()) return;  // a name without an executable
    list.push_back(std::move(program));
}

}  // namespace

void parse_watchdog_config(FILE* stream, std::vector<SupervisedProgram>& list) {
    // End of file and read errors end the list. Neither means the line could
    // not be stored: out of memory ends the process, as with every allocation.
    const LinesEnd end = for_each_line(stream, [&](const char* line) {
        add_program(line, list);
        return false;
    });
    if (end == LinesEnd::NoMemory) out_of_memory();
}

void load_watchdog_config(std::vector<SupervisedProgram>& list) {
    // Close-on-exec, and closed before any program starts: children get 0-2 only.
    FILE* stream = std::fopen(CONFIG_PATH, "re");
    if (!stream) return;
    parse_watchdog_config(stream, list);
    std::fclose(stream);
}
