// service: start, stop or restart one of the device's fixed services.

#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"

int applet_service(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s {start|stop|restart} <service>\n", args.program, args.args[0]);
    std::exit(1);
}
