// How service and time run their tool: as root, in a process of its own
// that a root process of its own session waits for, with the lines of the
// tool's start and end.
#pragma once

// In a process that entered the root context, after name_tool(): sends
// "running TOOL", then forks the tool's process, which enters the root
// context itself and becomes argv[0] with `argv` (`failure` names the exec's
// step, "execl"). This process waits for it, sends the line of its end (none
// where it never ran: a line said why), and ends as it ended.
[[noreturn]] void run_root_tool(char* const argv[], const char* failure);
