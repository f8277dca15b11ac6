// The applet registry and the top-level usage.
#pragma once

#include "common/applet.h"
#include "common/name_key.h"

struct RegistryEntry {
    NameKey name;
    AppletHandler handler;
    bool audited;  // its caller is identified for the audit lines before it runs
};

// Null when `name` is not exactly an applet's name.
const RegistryEntry* find_applet(const char* name);

[[noreturn]] void print_applet_usage(const char* program);
