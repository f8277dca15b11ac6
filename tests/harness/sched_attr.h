/* The kernel's struct sched_attr, declared here: not every C library has it. */
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
