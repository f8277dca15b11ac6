// The audit trail of privileged actions: one line each with the system
// logger, naming the action before it takes effect and who asked for it.
#pragma once

#include "common/applet.h"

// Reads who asked for a privileged action: the caller's user id and its user
// name (in a user namespace other than the initial one, as its parent sees
// them), its audit login user id and session, the applet's pid, the program
// that ran the applet (our parent) and the arguments. The entry calls it for every audited applet before the
// applet runs; every later audit line, in this process or a child, names that
// caller.
void identify_caller(const AppletArgs& args);

// The audit line of a privileged action, at authpriv.notice: what happens
// (printf-style), then who asked for it, e.g.
//   running /etc/init.d/S38modem start: uid=1001 user=user auid=1001 ses=3 pid=4242 parent=/usr/bin/bash args=service start modem
void audit(const char* format, ...) __attribute__((format(printf, 1, 2)));
