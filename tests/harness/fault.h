// Rows whose Fault names a call: the app runs under strace, which fails that
// call, or with a preloaded library that fails a C library function.
#pragma once

#include "table.h"

namespace devroot {

// A fault's run is killed after this long, and what it leaves is waited for
// this long more; the run ends as soon as every process of it has.
constexpr int FAULT_TIMEOUT_SECONDS = 60;
constexpr int FAULT_LINGER_SECONDS = 30;

// Runs the row's app with its fault in `root`. A fault `at` a later call of
// its kind first counts the calls in a dry run, in a root of its own made
// as `table` makes one.
RunResult run_with_fault(const DeviceRoot& root, const Row& row, const Table& table);

// "" where this run can inject faults, else why not.
std::string faults_possible();

}  // namespace devroot
