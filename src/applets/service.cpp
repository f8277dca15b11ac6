// service: start, stop or restart one of the device's fixed services by
// running its init script as root, in a session of its own, and passing on
// how it ended.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "applets/applets.h"
#include "applets/root_tool.h"
#include "audit/tool_lines.h"
#include "common/name_key.h"
#include "process/tool_process.h"
#include "root/root_context.h"

namespace {

struct ServiceEntry {
    NameKey name;
    const char* script;
};

// Sorted by name: lookups are binary searches, and the usage lists it in order.
constexpr std::array<ServiceEntry, 4> ServiceTable{{
    {"gen-certs", "/app/etc/init.d/S49gen-certs"},
    {"modem", "/etc/init.d/S38modem"},
    {"nginx", "/etc/init.d/S50nginx"},
    {"ofono", "/etc/init.d/S46ofono"},
}};
static_assert(strictly_sorted(ServiceTable));
constexpr auto SERVICE_LIST = indented_names<ServiceTable>();

[[noreturn]] void usage(const AppletArgs& args) {
    std::fprintf(stderr, "usage: %s %s {start|stop|restart} <service>\nservices:%s\n", args.program,
                 args.args[0], SERVICE_LIST.data());
    std::exit(1);
}

bool is_action(const char* text) {
    for (const char* action : {"start", "stop", "restart"})
        if (std::strcmp(text, action) == 0) return true;
    return false;
}

}  // namespace

int applet_service(const AppletArgs& args) {
    if (args.count != 3 || !is_action(args.args[1])) usage(args);
    const ServiceEntry* service = find_by_name(ServiceTable, name_key(args.args[2]));
    if (!service) usage(args);
    require_root();

    // We may lead the caller's process group: only a child can leave the
    // session. That child, root's, waits for the script and logs its end.
    name_tool("%s %s", service->script, args.args[1]);
    fork_tool_process();
    enter_root_context();
    char* const argv[] = {const_cast<char*>(service->script), args.args[1], nullptr};
    run_root_tool(argv, "execl");
}
