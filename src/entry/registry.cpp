#include "entry/registry.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"
#include "supervisor/supervisor.h"

namespace {

// Sorted by name: lookups are binary searches, and the usage lists it in order.
constexpr std::array<RegistryEntry, 7> AppletRegistry{{
    {"doom", applet_doom},
    {"led", applet_led},
    {"poweroff", applet_poweroff},
    {"reboot", applet_reboot},
    {"service", applet_service},
    {"time", applet_time},
    {"watchdog", run_supervisor},
}};
static_assert(strictly_sorted(AppletRegistry));
constexpr auto APPLET_LIST = indented_names<AppletRegistry>();

}  // namespace

AppletHandler find_applet(const char* name) {
    const RegistryEntry* entry = find_by_name(AppletRegistry, name_key(name));
    return entry ? entry->handler : nullptr;
}

void print_applet_usage(const char* program) {
    std::fprintf(stderr, "usage: %s <applet> [<options>]\napplets:%s\n", program,
                 APPLET_LIST.data());
    std::exit(1);
}
