// Black-box tables: one row is one invocation of the installed app (or of a
// caller program in the device root), with what it must end in. Rows name
// only the fields they need (designated initialisers); run_table checks every
// row the same way.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device_root.h"

// A row leaves the fields it does not name at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace devroot {

using Strings = std::vector<std::string>;
using Setup = std::function<void(const DeviceRoot&)>;
// What must (or must not) have happened beyond what every row checks.
using Check = std::function<void(const DeviceRoot&, const RunResult&)>;

// The unprivileged caller (uid 1001), as most rows have it.
inline const RunOptions AS_USER{.user = "user"};

// Standard error not compared: the dynamic loader's own text.
extern const std::string ANY;

// A failure no caller can provoke from outside, made to happen in the app: a
// system call failed by strace's fault injection, or a C library call by a
// preloaded library (fault_preload.c).
struct Fault {
    std::string call;   // the system call, or C library function, to fail
    std::string how;    // strace's "error=EIO" or "retval=0"; "preload N": the Nth call fails
    std::string at;     // fail the first call whose trace begins so; "": the first of all
    std::string path;   // count only calls on this path (strace -P)
    std::string also;   // another call failed from the first, strace's "CALL:error=E"
    Strings strace;     // further strace options
    std::string beside; // shell text run as root, untraced, while the app runs
    Strings before;     // the caller: a program that ends by exec of the rest (strace, then the app)
};

struct Row {
    std::string label;        // "": the arguments
    Strings args;             // after argv[0]
    RunOptions caller;        // who calls, with what set up
    Strings command;          // instead: this program of the root runs (argv[0] its path)
    int status = 0;
    std::string err;          // exact standard error, or ANY
    std::string out;          // exact standard output
    Strings tools;            // the stand-ins that start, in order
    // The app's calls to set the clock, as the device root's clock keeper
    // answered them: "set SECONDS NANOSECONDS", or the refusal's errno in
    // place of "set"; "; " between calls, "" for none.
    std::string clock;
    std::map<std::string, std::string> leds;  // LED file -> its bytes; every other one stays empty
    Setup setup;
    Check check;
    Fault fault;
};

struct Table {
    bool setuid = false;       // the app installed set-user-ID root
    bool root_per_row = false; // a new device root for every row (else one for all, records cleared)
    bool unchanged = false;    // no file but the LED files may change (size, time, mode, owner)
    Setup prepare;             // each new root, before any row
    std::function<void(const DeviceRoot&, const Row&, const RunResult&)> each;  // after every row
};

// Runs every row and checks its status, standard error and output, the
// stand-ins that started, the clock calls, every LED file, then its own check.
void run_table(const std::vector<Row>& rows, const Table& table = {});

// The first record of `tool` for `event`; the test fails unless there is one
// made `from` ms or more, and less than `to`, after the app's start
// (RunResult::since_start). Empty when there is none.
Record record_within(const DeviceRoot& root, const RunResult& r, const std::string& tool, long from, long to,
                     std::string_view event = "start");

// The row's label, or its arguments: printable, and short enough for a
// failure message.
std::string label_of(const Row& row);

// The LED files of the root ("/sys/class/leds/NAME/ATTRIBUTE") and their
// bytes; a link shows as "(link)" (it may lead to /dev/full).
std::map<std::string, std::string> led_files(const DeviceRoot& root);

}  // namespace devroot
