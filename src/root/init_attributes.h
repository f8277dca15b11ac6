// Process attributes a caller can set on itself that survive exec and would
// follow a tool run as root, and every daemon it starts, for their whole life.
#pragma once

// Sets them as init or the kernel gives them: execution domain PER_LINUX;
// timer slack 50 us; on x86, reading the time stamp counter allowed;
// transparent huge pages allowed; the default reaction to memory errors; no
// KSM merging of all its memory; init's oom_score_adj and coredump_filter; a
// new, empty session keyring and the default keyring for requested keys; the
// default memory policy; init's cgroup where /sys/fs/cgroup is a cgroup v2
// hierarchy; no interval timer armed. Needs root; each step that fails ends
// the process with status 2.
void take_init_attributes();
