#include "applets/root_tool.h"

#include "audit/tool_lines.h"
#include "common/failure.h"
#include "process/tool_process.h"
#include "root/root_context.h"

namespace {

void not_run(const char* diagnostic) {
    audit_not_run(diagnostic);
    tool_not_started();
}

}  // namespace

void run_root_tool(char* const argv[], const char* failure) {
    // The lines of a start that goes well are all this process's: one wait
    // for a full logger, whatever the tool does.
    audit_running();
    note_failures(audit_not_run);
    fork_tool_process(audit_end);
    note_failures(not_run);
    // A session of its own, and all else a service manager gives: the same
    // steps as for every tool, taken again in the tool's own process.
    enter_root_context();
    exec_tool(argv, failure);
}
