// Small process helpers shared by the applets and the supervisor.
#pragma once

#include <sys/types.h>

#include <ctime>

// Sleeps the whole time even when signals interrupt it; other failures end it.
void sleep_whole_seconds(time_t seconds);

// In a child: asks for SIGTERM when `parent` dies. A parent that is already
// gone sends nothing, so the child then ends at once, as that signal would.
void tie_to_parent(pid_t parent);

// Empties the blocked-signal mask.
void unblock_signals();

// Every signal back to its default action, none blocked.
void reset_signals();

// Forks. Only the child returns; this process waits for it and then ends as
// it ended: with its exit status, or killed by the same signal (so that a
// shell reports 128+N as for any process). A failed fork ends it with status 2.
void continue_in_waited_child();

// Ends the process as an uncaught std::bad_alloc would, "app: out of memory"
// then SIGABRT: the program is built without exception support, so every
// allocation that fails, in the library or in our own code, ends here.
[[noreturn]] void out_of_memory();
