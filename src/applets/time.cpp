// time: set the system clock, then copy it to the hardware clock.

#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"

int applet_time(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s <seconds> <nanoseconds>\n", args.program, args.args[0]);
    std::exit(1);
}
