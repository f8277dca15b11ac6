// The entry: usage, applet lookup and the choice of the supervisor.
#include "expected.h"
#include "table.h"

namespace {

using namespace devroot;
using namespace expected;

TABLE(Entry, UnknownOrMissingAppletPrintsTheTopLevelUsage) {
    std::vector<Row> rows;
    for (const Strings& args : std::vector<Strings>{
             {}, {""}, {"LED"}, {"le"}, {"leds"}, {"reboot "}, {"Reboot", "1"}, {"help"}, {"--help"}, {"\xff"}})
        rows.push_back({.args = args, .status = 1, .err = top_usage("app")});
    return {.rows = rows};
}

TABLE(Entry, UsageShowsArgv0AsGiven) {
    std::vector<Row> rows;
    for (const auto& [label, argv0] : std::vector<std::pair<std::string, std::string>>{
             {"relative path", "./app"},
             {"bare name", "app"},
             {"path through dot-dot", "/app/bin/../bin/app"},
             {"trailing slash", "/app/bin/app/"},
             {"with a space", "x y"}})
        rows.push_back({.label = label, .args = {"nosuch"}, .caller = {.argv0 = argv0, .cwd = "/app/bin"},
                        .status = 1, .err = top_usage(argv0)});
    return {.rows = rows};
}

TABLE(Entry, EmptyArgumentVectorGetsUsageWithEmptyProgramName) {
    return {.rows = {{.label = "argc 0", .caller = {.no_argv = true, .user = "user"}, .status = 1,
                      .err = top_usage("")}},
            .setuid = true,
            .needs = not_emulated("the emulator cannot start a program with an empty argument vector")};
}

// Only argv[0] exactly "/app/bin/app" is the supervisor, whatever follows it:
// it prepares the data area and, with nothing configured, ends.
TABLE(Entry, SupervisorOnlyForTheExactInstalledPath) {
    std::vector<Row> rows;
    for (const Strings& args : std::vector<Strings>{{}, {"reboot", "0"}, {"nosuch"}})
        rows.push_back({.args = args, .caller = {.argv0 = "/app/bin/app", .linger = 2}, .err = NO_CHILDREN,
                        .tools = {"unlock-datafs"}});
    return {.rows = rows};
}

}  // namespace
