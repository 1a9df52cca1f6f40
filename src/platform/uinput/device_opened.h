// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quillmote {

// Waits until something has opened every one of `nodes` (a desktop taking on a new input
// device opens its event node), or `patience` has passed. Whether all were opened in time.
// The nodes must be watched before anyone could open them: call right after creating them.
bool waitUntilOpened(const std::vector<std::string>& nodes, std::chrono::milliseconds patience);

}  // namespace quillmote
