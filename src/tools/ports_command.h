// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>

namespace quillmote {

// Lists the machine's serial ports: display name, path and model. Returns 0, or 1
// when the device registry could not be asked.
int runPorts(std::ostream& out, std::ostream& err);

}  // namespace quillmote
