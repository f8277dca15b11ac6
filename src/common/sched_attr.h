/* The kernel's struct sched_attr with the utilization clamps (Linux 5.3 on),
 * declared here as not every C library has it. Plain C: the device root's
 * helpers (tests/harness) set and read it too. */
#pragma once

#include <stdint.h>

struct kernel_sched_attr {
    uint32_t size, policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime, deadline, period;
    uint32_t util_min, util_max;
};
