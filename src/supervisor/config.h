// The supervisor's configuration file: one program per line,
//   NAME EXECUTABLE [ARGUMENT...]
// split on spaces and tabs; a first token starting with "#" makes a comment.
#pragma once

#include <cstdio>
#include <vector>

#include "supervisor/program.h"

// Appends one record per program line of `stream` to `list`, in file order.
// Malformed lines are skipped silently; reading stops at end of file or a
// read error. Running out of memory ends the process.
void parse_watchdog_config(FILE* stream, std::vector<SupervisedProgram>& list);

// Reads "/app/share/tavix/watchdog.conf"; a missing or unreadable file adds nothing.
void load_watchdog_config(std::vector<SupervisedProgram>& list);
