#include "process/tied_child.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <err.h>

void tie_to_parent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) warn("prctl");
    if (getppid() == parent) return;
    // The entry (and the root context) gave SIGTERM its default action and unblocked it.
    raise(SIGTERM);
    _exit(128 + SIGTERM);
}
