// The application supervisor.
#pragma once

#include "common/applet.h"

// Never returns: exits 0 once no supervised child is left, 2 on failure.
[[noreturn]] int run_supervisor(const AppletArgs& args);
