// How every tool that runs as root is started, whoever called us.
#pragma once

// Gives this process what init gives every service it starts: real,
// effective and saved user and group id 0 and no supplementary groups; init's
// resource limits and CPU affinity; SCHED_OTHER at nice 0 and the default I/O
// priority; file mode mask 022; working directory "/"; every signal at its
// default and none blocked. Standard streams, process group and session stay:
// callers read the tools' output and wait for them. Each step that fails ends
// the process with status 2. Call it right before the exec of the tool.
void enter_root_context();
