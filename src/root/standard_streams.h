// The standard streams a tool run as root gets from its caller.
#pragma once

// Keeps descriptors 0-2 only where the caller opened them in the direction
// they are used (0 for reading, 1 and 2 for writing), /dev/null elsewhere. A
// failure ends the process with status 2.
void keep_safe_standard_streams();
