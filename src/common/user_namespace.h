// Which user namespace the process is in.
#pragma once

// Whether it is the initial one, the only one where the set-user-ID bit
// makes a process root: the kernel names it by a fixed inode
// (PROC_USER_INIT_INO), and a kernel without user namespaces has no such
// link and no other namespace.
bool in_initial_user_namespace();
