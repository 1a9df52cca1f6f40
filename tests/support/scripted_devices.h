// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <vector>

#include "serial/device_monitor.h"
#include "serial/serial_registry.h"

namespace quillmote::test {

// The registry's port list and udev's announcements, as the test sets them.
struct ScriptedDevices : SerialRegistry, DeviceMonitor {
  RegistryQuery querySerialPorts() override { return {RegistryFailure::kNone, 0, ports}; }
  int descriptor() const override { return -1; }
  std::optional<DeviceEvent> nextEvent() override {
    return read < events.size() ? std::optional(events[read++]) : std::nullopt;
  }
  std::vector<SerialPortEntry> ports;
  std::vector<DeviceEvent> events;
  std::size_t read = 0;
};

}  // namespace quillmote::test
