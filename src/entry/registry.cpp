#include "entry/registry.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "applets/applets.h"
#include "supervisor/supervisor.h"

namespace {

// Sorted by name: lookups are binary searches, and the usage lists it in order.
// Programs call led many times a second: it is not audited.
constexpr std::array<RegistryEntry, 7> AppletRegistry{{
    {"doom", applet_doom, true},
    {"led", applet_led, false},
    {"poweroff", applet_poweroff, true},
    {"reboot", applet_reboot, true},
    {"service", applet_service, true},
    {"time", applet_time, true},
    {"watchdog", run_supervisor, true},
}};
static_assert(strictly_sorted(AppletRegistry));
constexpr auto APPLET_LIST = indented_names<AppletRegistry>();

}  // namespace

const RegistryEntry* find_applet(const char* name) { return find_by_name(AppletRegistry, name_key(name)); }

void print_applet_usage(const char* program) {
    std::fprintf(stderr, "usage: %s <applet> [<options>]\napplets:%s\n", program,
                 APPLET_LIST.data());
    std::exit(1);
}
