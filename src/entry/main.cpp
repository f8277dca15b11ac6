// Process entry: make the inherited process state safe, then run the
// supervisor or the applet named by the first argument, each audited one
// with its caller identified first.

#include <cstring>

#include "audit/audit.h"
#include "common/applet.h"
#include "entry/clean_start.h"
#include "entry/registry.h"
#include "supervisor/supervisor.h"

namespace {

constexpr char SUPERVISOR_PATH[] = "/app/bin/app";

}  // namespace

int main(int argc, char* argv[]) {
    make_inherited_state_safe();

    // An empty argument vector has no argv[0] to show and nothing after it.
    if (argc < 1) print_applet_usage("");

    const AppletArgs args{argv[0], argc - 1, argv + 1};
    if (std::strcmp(argv[0], SUPERVISOR_PATH) == 0) {
        identify_caller(args);
        run_supervisor(args);
    }
    if (argc < 2) print_applet_usage(argv[0]);

    const RegistryEntry* applet = find_applet(argv[1]);
    if (!applet) print_applet_usage(argv[0]);
    if (applet->audited) identify_caller(args);
    return applet->handler(args);
}
