// What a start inherits from its caller: any program may call us, with any
// descriptors, signal state, mask and environment.
#pragma once

// Fills closed descriptors 0-2 with /dev/null and closes all others; default
// SIGTERM and SIGCHLD, none blocked; 022 added to the file mode mask;
// standard error line-buffered; the environment only PATH=/usr/bin:/usr/sbin.
void make_inherited_state_safe();
