// Lines for the platform's system logger, which keeps them apart from what a
// caller sees: nothing here changes a diagnostic, an exit status or a wait.
#pragma once

#include "common/applet.h"

// Sends "<priority>app[pid]: text" to /dev/log as one datagram, if a logger
// listens there. Never waits (a full queue drops the line), never reports a
// failure, keeps errno.
void system_log(int priority, const char* text);

// Reads who asked for a privileged action: the caller's real uid and user
// name, the applet's pid, the program that ran the applet (our parent) and the
// arguments. Call it in the applet's own process, before any fork; every
// later audit line, in this process or a child, names that caller.
void identify_caller(const AppletArgs& args);

// The audit line of a privileged action, at authpriv.notice: what happens
// (printf-style), then who asked for it, e.g.
//   running /etc/init.d/S38modem start: uid=1001 user=user pid=4242 parent=/usr/bin/bash args=service start modem
void audit(const char* format, ...) __attribute__((format(printf, 1, 2)));
