// Lines for the platform's system logger, which keeps them apart from what a
// caller sees: nothing here changes a diagnostic or an exit status.
#pragma once

// Sends "<priority>app[pid]: text" to /dev/log as one datagram, with the
// kernel's record of the sender (our pid, effective user and group id), so
// that a logger that reads it can tell our lines from any caller's. A full
// logger is waited for, up to a second for all lines of the process together;
// a line that still cannot go (no logger, a full or failing one) goes to the
// kernel log instead. Never reports a failure, keeps errno.
void system_log(int priority, const char* text);
