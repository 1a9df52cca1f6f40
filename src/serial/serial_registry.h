// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace quillmote {

// One serial port as the device registry describes it.
struct SerialPortEntry {
  std::string ttyDevice;      // kernel name, "ttyUSB0"
  std::string dialinDevice;   // the path the program stores and opens
  std::string calloutDevice;  // the same node on Linux, which has one node per line
  std::string model;          // for people; empty when unknown
};

// Which step of a registry query failed, if any.
enum class RegistryFailure {
  kNone,
  kRegistry,          // the registry could not be reached
  kMatching,          // the query could not be made
  kMatchingServices,  // the query could not be run
};

struct RegistryQuery {
  RegistryFailure failure = RegistryFailure::kNone;
  int status = 0;  // 0 on success; the failing step's result otherwise
  std::vector<SerialPortEntry> ports;
};

// The machine's device registry: every serial port of the RS-232 kind, one entry per
// device, in a stable order.
class SerialRegistry {
 public:
  virtual ~SerialRegistry() = default;
  virtual RegistryQuery querySerialPorts() = 0;
};

// udev: tty devices that have a parent device (USB serial, ACM, on-board UARTs,
// Bluetooth), in udev's order (sorted by device path).
class UdevSerialRegistry final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override;
};

}  // namespace quillmote
