// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>

#include "serial/serial_registry.h"

namespace quillmote {

// Lists the machine's serial ports, one a line: display name, device node, the
// /dev/serial/by-id/ link where udev made one, model and serial number where known.
// Returns 0, or 1 when the device registry could not be asked.
int runPorts(SerialRegistry& registry, std::ostream& out, std::ostream& err);

}  // namespace quillmote
