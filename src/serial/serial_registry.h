// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace quillmote {

// One serial port as the device registry describes it.
struct SerialPortEntry {
  std::string ttyDevice;  // kernel name, "ttyUSB0"
  // The path the program stores and opens: the device's /dev/serial/by-id/ link where
  // udev made one, since that names the device whatever tty number the kernel gives
  // it; else the device node.
  std::string dialinDevice;
  std::string calloutDevice;   // the device node, "/dev/ttyUSB0" (Linux has one per line)
  std::string model;           // for people, "FT232R USB UART"; empty when unknown
  std::string serialNumber{};  // the device's own, "A9KZ3L2H"; empty when unknown
};

// The port as people see it in a list: "FT232R USB UART (ttyUSB0)", or the display
// name of its path when the registry knows no model.
std::string portTitle(const SerialPortEntry& entry);

// True when `path`, as stored, names `entry`: its stored path, or its device node as
// settings written before by-id paths hold it.
bool pathNamesPort(const std::string& path, const SerialPortEntry& entry);

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
