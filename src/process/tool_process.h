// A tool the caller waits for (an init script, hwclock) runs in a process of
// its own, so that it can leave the caller's session; ours passes its end on.
#pragma once

// Told the wait status of a tool's process that reached its exec.
using EndNote = void (*)(int status);

// Forks the process that becomes the tool; only it returns. This process
// waits for it, hands its wait status to `note` (where given, and unless
// tool_not_started() said the tool never ran), then ends as it ended: with
// its exit status, or killed by the same signal (so that a shell reports
// 128+N as for any process). A failed fork is a failed step
// (common/failure.h).
void fork_tool_process(EndNote note = nullptr);

// In the process fork_tool_process returned in, where it ends without the
// exec of its tool: the waiting process will not take its end for the tool's.
void tool_not_started();
