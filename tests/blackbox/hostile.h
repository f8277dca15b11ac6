// The hostile-caller harness: one table row is one invocation of the
// installed app by a caller who may set anything; after every row the same
// checks hold (see run_table). Tables: hostile_test.cpp.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "device_root.h"

namespace hostile {

extern const std::string ANY;          // stderr not compared: the dynamic loader's text
extern const std::string HOSTILE_DIR;  // the caller's own directory in the root

struct Case {
    std::string label;
    std::vector<std::string> args;  // after argv[0]
    devroot::RunOptions options;
    int status;
    std::string err;                           // exact stderr, or ANY
    std::vector<std::string> tools;            // stand-ins that must start, in order
    std::map<std::string, std::string> leds;   // LED file (inside the root) -> content
};

// The top-level usage for argv[0] `program`.
std::string top_usage(const std::string& program);

// Run options of a caller: "user" (unprivileged) or "" (root), descriptors it
// closes, its environment and its resource limits ("nofile=3").
devroot::RunOptions opts(std::string user, std::vector<int> closed = {}, std::vector<std::string> env = {},
                         std::vector<std::string> rlimits = {});

// Every loader, C library and shell variable that could steer a privileged
// program, pointing into HOSTILE_DIR.
std::vector<std::string> hazard_environment();

// Runs every case in one set-user-ID device root holding the caller's
// look-alike tools and libraries, and checks each: status and stderr; no
// crash; the tools that ran saw only the fixed environment, were the real
// files, had /dev/null or the caller's pipes on 0-2 and nothing else, and
// every signal at its default and unblocked;
// no file changed but the LED files named; no preloaded library loaded into
// a set-user-ID start or a tool. Prints the number of invocations.
void run_table(const std::vector<Case>& cases);

}  // namespace hostile
