// The application supervisor.
#pragma once

#include "common/applet.h"

// Never returns: exits 0 once no supervised child is left; 2 on failure, and
// at once when the real user is not root.
[[noreturn]] int run_supervisor(const AppletArgs& args);
