// SPDX-License-Identifier: MIT
#include "tools/ports_command.h"

#include <ostream>

#include "serial/serial.h"

namespace quillmote {

int runPorts(SerialRegistry& registry, std::ostream& out, std::ostream& err) {
  SerialIterator iterator;
  if (createSerialIterator(registry, iterator) != kSerialSuccess) {
    err << "quillmote-cli ports: the device registry (udev) could not be read\n";
    return 1;
  }
  if (iterator.entries.empty()) out << "No serial ports found.\n";
  // The by-id link beside the tty: the name to give `run --port`, which stays the same
  // whichever tty number the kernel gives the device.
  for (const SerialPortEntry& entry : iterator.entries) {
    out << Serial::friendlySerialPath(entry.calloutDevice) << '\t' << entry.calloutDevice;
    if (entry.dialinDevice != entry.calloutDevice) out << '\t' << entry.dialinDevice;
    if (!entry.model.empty()) out << '\t' << entry.model;
    if (!entry.serialNumber.empty()) out << "\tserial " << entry.serialNumber;
    out << '\n';
  }
  return 0;
}

}  // namespace quillmote
