/* The clock interception of a device root (clock_keeper.c), for its process 1. */
#pragma once

#include <sys/types.h>

/* Puts the filter on this process, and so on all it starts, and starts the
 * keeper that answers its clock calls; process 1 kills the keeper as it
 * ends. Where the kernel can do neither, says so and exits 125: a device
 * root never runs without them. */
pid_t start_clock_keeper(void);
