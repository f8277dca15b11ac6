// Black-box tables: one row is one invocation of the installed app (or of a
// caller program in the device root), with what it must end in. Rows name
// only the fields they need (designated initialisers); every row is checked
// the same way, and each is a test case of its own ("Suite.Table/row_name"),
// run in a device root of its own, so that a failure names the row and
// `ctest -R` reruns it alone.
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
// What a row needs of this machine or this run: "" where it is there, else
// why the row cannot hold (the case then skips, saying so).
using Needs = std::function<std::string()>;

// The unprivileged caller (uid 1001), as most rows have it.
inline const RunOptions AS_USER{.user = "user"};

// Standard error not compared: the dynamic loader's own text.
inline const std::string ANY = "\x01(not compared)";

// A failure no caller can provoke from outside, made to happen in the app: a
// system call failed by strace's fault injection, or a C library call by a
// preloaded library (fault_preload.c). Of the row's caller it takes the user,
// the environment, the closed descriptors and, under strace, the logger.
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
    std::string label;        // "": the arguments; the case's name is made of it
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
    Needs needs;              // beside the table's
    int seconds = 0;          // the case's time limit, where the rule of bound() is too short
};

struct Table {
    std::vector<Row> rows;
    bool setuid = false;       // the app installed set-user-ID root
    bool unchanged = false;    // no file but the LED files may change (size, time, mode, owner)
    Setup prepare;             // each row's new root, before the row's own setup
    std::function<void(const DeviceRoot&, const Row&, const RunResult&)> each;  // after every row
    Needs needs;               // of every row
};

// Lists the table that `make` returns under `suite`.`name`; its rows become
// test cases when the test program starts (see register_tables).
bool list_table(const char* suite, const char* name, Table (*make)(), const char* file, int line);

// A table whose rows are test cases: the body returns the Table.
//   TABLE(Power, DelayIsChecked) { return {.rows = {...}, .setuid = true}; }
#define TABLE(suite, name)                                                                               \
    ::devroot::Table suite##_##name##_table();                                                         \
    [[maybe_unused]] const bool suite##_##name##_listed =                                               \
        ::devroot::list_table(#suite, #name, suite##_##name##_table, __FILE__, __LINE__);             \
    ::devroot::Table suite##_##name##_table()

// Registers every listed table's rows with GoogleTest; a table whose rows
// would share a name is an error, reported and counted. Returns the count.
int register_tables();
// Writes, for CTest, each row's time limit: set_tests_properties lines.
void write_time_limits(const std::string& path);

// Runs one row in a device root of its own and checks its status, standard
// error and output, the stand-ins that started, the clock calls, every LED
// file, then its own check and the table's.
void run_row(const Table& table, const Row& row);

// The row's time limit in seconds: its own, else what its device root, its
// caller's timeout and linger and a dry run under strace may take on a
// loaded machine.
int bound(const Row& row);

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

// What rows commonly need.
std::string native_only(const char* why);  // not under the user-mode emulator
inline Needs not_emulated(const char* why) { return [=] { return native_only(why); }; }
std::string busybox_needed();              // its syslogd, the device's logger
std::string screen_needed();               // the game's screen stand-in for this app's machine

}  // namespace devroot
