// doom: run the game on the framebuffer for a time or until a key.

#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"

int applet_doom(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s [seconds]\n", args.program, args.args[0]);
    std::exit(1);
}
