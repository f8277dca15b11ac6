// The audit lines of a tool run as root: that it runs, that it did not,
// how it ended. Each names the tool as name_tool() was told.
#pragma once

// The tool this process starts, as its lines name it: its path, then its
// arguments where a caller chose them ("/etc/init.d/S38modem start").
void name_tool(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "running TOOL", right before its exec.
void audit_running();

// "cannot run TOOL: DIAGNOSTIC": it did not start, with the line err(3)
// printed (without "app: ").
void audit_not_run(const char* diagnostic);

// "TOOL exited with status N", or "TOOL killed by signal N", from its wait
// status.
void audit_end(int status);
