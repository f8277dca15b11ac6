// The share of the machine a tool run as root gets: init's, not its caller's.
#pragma once

// Process 1's resource limits, soft and hard. A failure ends the process
// with status 2.
void take_init_limits();

// SCHED_OTHER at nice 0 with the default time slice, utilization clamps and
// I/O priority, and process 1's CPUs. A failure ends the process with status 2.
void take_init_scheduling();
