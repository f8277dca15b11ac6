#include "common/root_context.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <err.h>

#include "common/init_attributes.h"
#include "common/kernel.h"
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

bool open_for(int fd, int direction) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || (flags & O_PATH) != 0) return false;
    const int mode = flags & O_ACCMODE;
    return mode == O_RDWR || mode == direction;
}

// A tool that re-opens a stream by name (">/dev/stderr", "/proc/self/fd/0")
// opens its file anew, as root: it may reach only what the caller could, so a
// stream counts only when the caller opened it in the direction it is used.
void keep_safe_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        const int direction = fd == 0 ? O_RDONLY : O_WRONLY;
        if (open_for(fd, direction)) continue;
        // 0 to fd - 1 are open: the lowest free number is fd again.
        close(fd);
        const int null_fd = fd == 0 ? open("/dev/null", O_RDONLY) : open("/dev/null", O_WRONLY);
        if (null_fd != fd) err(2, "/dev/null");
    }
}

// A caller's `ulimit -f 1` would cut a root tool's files short, and its
// other limits would follow every daemon a script starts for its whole life.
// All are read before any is set.
void take_init_limits() {
    struct rlimit limits[RLIM_NLIMITS]{};
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource)
        if (prlimit(INIT, static_cast<__rlimit_resource>(resource), nullptr, &limits[resource]) != 0)
            err(2, "prlimit");
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource)
        if (setrlimit(static_cast<__rlimit_resource>(resource), &limits[resource]) != 0) err(2, "setrlimit");
}

// SCHED_OTHER at nice 0, no reset-on-fork, (runtime 0) the default time
// slice and the default utilization clamps: sched_setscheduler would keep a
// slice the caller chose, and a sched_setattr without clamps its clamps. A
// kernel without clamps refuses them (EOPNOTSUPP, or EINVAL and E2BIG before
// it knew them): it has none to keep.
void take_normal_policy() {
    if (kernel_normal_sched_attr(true) == 0) return;
    if (errno == EOPNOTSUPP || errno == EINVAL || errno == E2BIG) {
        if (kernel_normal_sched_attr(false) == 0) return;
    }
    if (errno != ENOSYS) err(2, "sched_setattr");
    if (kernel_normal_policy() != 0) err(2, "sched_setscheduler");
    if (kernel_nice_zero() != 0) err(2, "setpriority");
}

// An idle or low priority would let any caller starve the tool.
void take_init_scheduling() {
    take_normal_policy();
    if (kernel_io_priority_of_nice() != 0) err(2, "ioprio_set");
    cpu_set_t cpus;
    if (kernel_get_cpus(INIT, cpus) != 0) err(2, "sched_getaffinity");
    if (kernel_set_cpus(cpus) != 0) err(2, "sched_setaffinity");
}

}  // namespace

void enter_root_context(Session session) {
    become_root();
    if (setgroups(0, nullptr) != 0) err(2, "setgroups");
    if (setgid(0) != 0) err(2, "setgid");
    // Out of reach of the caller's terminal: no ^C, ^Z or hang-up, and an
    // autogroup (the caller's may be at nice 19) of its own.
    if (session == Session::Own && kernel_setsid() == -1) err(2, "setsid");
    keep_safe_standard_streams();
    take_init_limits();
    take_init_scheduling();
    take_init_attributes();
    umask(022);
    if (chdir("/") != 0) err(2, "chdir");
    reset_signals();
}
