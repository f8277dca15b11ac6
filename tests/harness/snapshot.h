// What a row may not change: every file of the device root but the records,
// the harness's own and the LED files, as size, time, mode and owner.
#pragma once

#include <map>
#include <string>

#include "device_root.h"

namespace devroot {

using Snapshot = std::map<std::string, std::string>;  // path inside the root -> its state

Snapshot snapshot(const DeviceRoot& root);

// Fails the test for each file of `after` that is new or changed since
// `before`, and each one removed, naming the row by `label`.
void expect_unchanged(const Snapshot& before, const Snapshot& after, const std::string& label);

}  // namespace devroot
