// The record every applet handler receives, and the handler type.
#pragma once

struct AppletArgs {
    const char* program;      // argv[0] unchanged
    int count;                // argc - 1
    char* const* args;        // argv + 1: args[0] is the applet name
};

using AppletHandler = int (*)(const AppletArgs&);
