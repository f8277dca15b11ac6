#include "common/root_context.h"

#include <grp.h>
#include <linux/ioprio.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <err.h>

#include "common/process.h"

namespace {

constexpr pid_t INIT = 1;

// setuid(0) without CAP_SETUID (dropped from a caller's bounding set) changes
// only the effective id and still succeeds: check what we got.
void become_root() {
    if (setuid(0) != 0) err(2, "setuid");
    uid_t real = 1, effective = 1, saved = 1;
    if (getresuid(&real, &effective, &saved) != 0 || real != 0 || effective != 0 || saved != 0) {
        errno = EPERM;
        err(2, "setuid");
    }
}

// A caller's `ulimit -f 1` would cut a root tool's files short, and its
// other limits would follow every daemon a script starts for its whole life.
void take_init_limits() {
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        const auto which = static_cast<__rlimit_resource>(resource);
        struct rlimit limit{};
        if (prlimit(INIT, which, nullptr, &limit) != 0) err(2, "prlimit");
        if (setrlimit(which, &limit) != 0) err(2, "setrlimit");
    }
}

// An idle or low priority would let any caller starve the tool.
void take_init_scheduling() {
    const sched_param normal{};
    if (sched_setscheduler(0, SCHED_OTHER, &normal) != 0) err(2, "sched_setscheduler");
    if (setpriority(PRIO_PROCESS, 0, 0) != 0) err(2, "setpriority");
    if (syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_NONE, 0)) != 0)
        err(2, "ioprio_set");
    cpu_set_t cpus;
    if (sched_getaffinity(INIT, sizeof cpus, &cpus) != 0) err(2, "sched_getaffinity");
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0) err(2, "sched_setaffinity");
}

}  // namespace

void enter_root_context() {
    become_root();
    if (setgroups(0, nullptr) != 0) err(2, "setgroups");
    if (setgid(0) != 0) err(2, "setgid");
    take_init_limits();
    take_init_scheduling();
    umask(022);
    if (chdir("/") != 0) err(2, "chdir");
    reset_signals();
}
