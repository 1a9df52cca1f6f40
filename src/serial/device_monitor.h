// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmote {

// A serial device that appeared or went away, as the device manager announces it.
struct DeviceEvent {
  enum class Kind { kAdded, kRemoved };
  Kind kind = Kind::kAdded;
  std::string devnode;             // "/dev/ttyUSB0"
  std::vector<std::string> links;  // "/dev/serial/by-id/…" and the like
};

// True when `event` is about the device that `portPath` names, directly or by a link.
bool eventNamesPort(const DeviceEvent& event, const std::string& portPath);

// Announcements of serial devices coming and going. Never blocks.
class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;
  // Readable when announcements wait; -1 when there is nothing to watch.
  virtual int descriptor() const = 0;
  // The next waiting announcement, or none.
  virtual std::optional<DeviceEvent> nextEvent() = 0;
};

// udev's announcements of tty devices, sent once udev has set the device up (its
// permissions and links are in place). Null when udev cannot be listened to (no
// netlink in a container, say): a returning device is then seen by its path alone.
std::unique_ptr<DeviceMonitor> openUdevDeviceMonitor();

}  // namespace quillmote
