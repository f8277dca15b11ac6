// A child that must not outlive its parent: the game, a supervised program.
#pragma once

#include <sys/types.h>

// In a child: asks for SIGTERM when `parent` dies. A parent that is already
// gone sends nothing, so the child then ends at once, as that signal would.
void tie_to_parent(pid_t parent);
