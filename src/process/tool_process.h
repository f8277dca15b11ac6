// A tool the caller waits for (an init script, hwclock) runs in a process of
// its own, so that it can leave the caller's session; ours passes its end on.
#pragma once

// Forks the process that becomes the tool; only it returns. This process
// waits for it and then ends as it ended: with its exit status, or killed by
// the same signal (so that a shell reports 128+N as for any process). A
// failed fork ends it with status 2.
void fork_tool_process();
