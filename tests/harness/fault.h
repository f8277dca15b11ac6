// Rows whose Fault names a call: the app runs under strace, which fails that
// call, or with a preloaded library that fails a C library function.
#pragma once

#include "table.h"

namespace devroot {

// Runs the row's app with its fault in `root`. A fault `at` a later call of
// its kind first counts the calls in a dry run, in a root of its own made
// as `table` makes one.
RunResult run_with_fault(const DeviceRoot& root, const Row& row, const Table& table);

// "" where this run can inject faults, else why not.
std::string faults_possible();

}  // namespace devroot
