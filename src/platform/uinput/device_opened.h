// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quillmote {

// Waits until another process this user may look into holds every one of `nodes` open (a
// desktop taking on a new input device opens its event node and keeps it), or `patience`
// has passed. Whether all were held in time. Events written from then on wait in the
// holder's queue, so none is lost to a desktop still setting the device up. Processes of
// other users do not count: logind opens every keyboard for a moment to look for a power
// key, long before the desktop has the device.
bool waitUntilOpened(const std::vector<std::string>& nodes, std::chrono::milliseconds patience);

// Whether a process other than this one, among those whose descriptors this process may
// read, holds `node` open.
bool heldByAnotherProcess(const std::string& node);

}  // namespace quillmote
