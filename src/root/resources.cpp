#include "root/resources.h"

#include <sched.h>
#include <sys/resource.h>

#include <cerrno>

#include "common/failure.h"
#include "common/kernel.h"

namespace {

constexpr pid_t INIT = 1;

// SCHED_OTHER at nice 0, no reset-on-fork, (runtime 0) the default time
// slice and the default utilization clamps: sched_setscheduler would keep a
// slice the caller chose, and a sched_setattr without clamps its clamps.
// Kernels 5.3 to 5.10 refuse the "reset" value (EINVAL): they get the
// defaults by value. A kernel without clamps refuses them (EOPNOTSUPP, or
// E2BIG before it knew the longer struct): it has none to keep.
void take_normal_policy() {
    if (kernel_normal_sched_attr(UtilClamps::Reset) == 0) return;
    if (errno == EINVAL && kernel_normal_sched_attr(UtilClamps::Defaults) == 0) return;
    if ((errno == EOPNOTSUPP || errno == E2BIG) && kernel_normal_sched_attr(UtilClamps::None) == 0) return;
    if (errno != ENOSYS) step_failed("sched_setattr");
    if (kernel_normal_policy() != 0) step_failed("sched_setscheduler");
    if (kernel_reset_nice() != 0) step_failed("setpriority");
}

}  // namespace

// A caller's `ulimit -f 1` would cut a root tool's files short, and its
// other limits would follow every daemon a script starts for its whole life.
// All are read before any is set.
void take_init_limits() {
    struct rlimit limits[RLIM_NLIMITS]{};
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource)
        if (prlimit(INIT, static_cast<__rlimit_resource>(resource), nullptr, &limits[resource]) != 0)
            step_failed("prlimit");
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource)
        if (setrlimit(static_cast<__rlimit_resource>(resource), &limits[resource]) != 0) step_failed("setrlimit");
}

// An idle or low priority would let any caller starve the tool.
void take_init_scheduling() {
    take_normal_policy();
    if (kernel_reset_io_priority() != 0) step_failed("ioprio_set");
    cpu_set_t cpus;
    if (kernel_get_cpus(INIT, cpus) != 0) step_failed("sched_getaffinity");
    if (kernel_set_cpus(cpus) != 0) step_failed("sched_setaffinity");
}
