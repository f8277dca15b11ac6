// led: set an LED's trigger and further attributes through sysfs.

#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"

int applet_led(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s {backlight|beeper|lightpipe} <trigger> [<param1> <value1> [...]]\n",
                 args.program, args.args[0]);
    std::exit(1);
}
