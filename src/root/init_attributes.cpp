#include "root/init_attributes.h"

#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/failure.h"
#include "common/files.h"
#include "common/kernel.h"

namespace {

// What the kernel gives a task of a normal policy (init's children inherit it).
constexpr unsigned long KERNEL_TIMER_SLACK_NS = 50000;
// prctl's option for KSM merging of all the process's memory (Linux 6.4 on),
// which anyone may ask for and an exec keeps.
constexpr int SET_MEMORY_MERGE = 67;
constexpr char CGROUP_ROOT[] = "/sys/fs/cgroup";
constexpr char CGROUP_CONTROLLERS[] = "/sys/fs/cgroup/cgroup.controllers";

// The first line of a small /proc file (or the rest of the first that
// begins with `prefix`), cut to `size`; a failure to read ends the process.
void read_line(const char* path, const char* prefix, char* text, std::size_t size) {
    if (!copy_line(path, prefix, text, size)) step_failed("%s", path);
}

void write_text(const char* path, const char* text) {
    if (write_whole(path, text, std::strlen(text)) != WriteEnd::Done) step_failed("%s", path);
}

// Copies /proc/1/NAME (`from`) to /proc/self/NAME (`to`). `prefix` makes the kernel read the
// value in the base it shows it in (coredump_filter is hexadecimal).
void take_init_value(const char* from, const char* to, const char* prefix) {
    char text[40];
    const std::size_t prefix_length = std::strlen(prefix);
    std::memcpy(text, prefix, prefix_length + 1);
    read_line(from, "", text + prefix_length, sizeof text - prefix_length);
    write_text(to, text);
}

// A cgroup the caller was delegated lets it freeze or kill what runs there.
// Only the root of a cgroup v2 hierarchy has this file.
void take_init_cgroup() {
    struct stat unified{};
    if (stat(CGROUP_CONTROLLERS, &unified) != 0) return;
    char ours[PATH_MAX], inits[PATH_MAX], procs[PATH_MAX + 32];
    // The path after "0::", the cgroup v2 line; "" without one.
    read_line("/proc/self/cgroup", "0::", ours, sizeof ours);
    read_line("/proc/1/cgroup", "0::", inits, sizeof inits);
    if (inits[0] == '\0' || std::strcmp(ours, inits) == 0) return;
    std::snprintf(procs, sizeof procs, "%s%s/cgroup.procs", CGROUP_ROOT, inits);
    write_text(procs, "0");
}

// The caller's session keyring would hold the keys the tool adds, for the
// caller to read; its default keyring for requested keys would send them
// elsewhere. ENOSYS: a kernel without keys has no keyring to hand on.
void take_new_keyrings() {
    if (kernel_join_new_session_keyring() == -1 && errno != ENOSYS) step_failed("keyctl");
    if (kernel_default_requested_key_keyring() == -1 && errno != ENOSYS) step_failed("keyctl");
}

// The NUMA memory policy the caller chose; ENOSYS: a kernel without NUMA has none.
void take_default_memory_policy() {
    if (kernel_default_memory_policy() == -1 && errno != ENOSYS) step_failed("set_mempolicy");
}

// An armed timer would let the caller choose the moment a root tool dies.
void disarm_timers() {
    for (const int which : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF})
        if (kernel_disarm_timer(which) != 0) step_failed("setitimer");
}

}  // namespace

void take_init_attributes() {
    if (kernel_personality(PER_LINUX) == -1) step_failed("personality");
    if (prctl(PR_SET_TIMERSLACK, KERNEL_TIMER_SLACK_NS, 0, 0, 0) != 0) step_failed("prctl PR_SET_TIMERSLACK");
#if defined(__i386__) || defined(__x86_64__)
    // A caller's "reading the time stamp counter faults" would follow every daemon.
    if (prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0) != 0) step_failed("prctl PR_SET_TSC");
#endif
    // EINVAL: a kernel (or emulator) that knows no such setting cannot hold one.
    if (prctl(PR_SET_THP_DISABLE, 0, 0, 0, 0) != 0 && errno != EINVAL) step_failed("prctl PR_SET_THP_DISABLE");
    // CLEAR would keep an early kill the caller asked for: DEFAULT drops both.
    if (prctl(PR_MCE_KILL, PR_MCE_KILL_SET, PR_MCE_KILL_DEFAULT, 0, 0) != 0 && errno != EINVAL)
        step_failed("prctl PR_MCE_KILL");
    // Merged pages are shared with other processes: a root tool's would be,
    // and their timing tells others what it holds. EINVAL: a kernel without.
    if (prctl(SET_MEMORY_MERGE, 0, 0, 0, 0) != 0 && errno != EINVAL) step_failed("prctl PR_SET_MEMORY_MERGE");
    take_init_value("/proc/1/oom_score_adj", "/proc/self/oom_score_adj", "");
    take_init_value("/proc/1/coredump_filter", "/proc/self/coredump_filter", "0x");
    take_new_keyrings();
    take_default_memory_policy();
    take_init_cgroup();
    disarm_timers();
}
