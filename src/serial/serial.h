// SPDX-License-Identifier: MIT
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/alerts.h"
#include "serial/serial_registry.h"
#include "serial/serial_thread_control.h"

namespace quillmote {

class Interpreter;

// Status of a registry query: 0 success, anything else failure.
inline constexpr int kSerialSuccess = 0;
// getSerialPathWithIterator found no call-out path that fits.
inline constexpr int kSerialNoPath = 5;

// The enumeration of RS-232-kind ports: yields entries one at a time, then none.
class SerialIterator {
 public:
  const SerialPortEntry* next() { return next_ < entries.size() ? &entries[next_++] : nullptr; }
  std::vector<SerialPortEntry> entries;

 private:
  std::size_t next_ = 0;
};

// The program's only owner of serial-line settings: finds ports, opens one for
// exclusive raw use, and later drains, restores and closes it. Every failure is shown
// through `alerts` at once; callers see only the results described below. One port is
// open at a time, since one saved settings record serves the close.
class Serial {
 public:
  Serial(Alerts& alerts, Interpreter& interpreter, SerialRegistry& registry)
      : alerts_(alerts), interpreter_(interpreter), registry_(registry) {}

  // The registry query; failures shown as "Internal Error" alerts. Returns the status.
  int getSerialIterator(SerialIterator& iterator);
  // 0 with the first call-out path that fits in `size` bytes (NUL included) copied to
  // `path`; 5 when no entry yields one.
  int getSerialPathWithIterator(SerialIterator& iterator, char* path, long size);

  // The open, configured, non-blocking descriptor, or -1 after a failure already shown.
  int openSerialPortWithPath(const char* path, int baud);
  // Drains, restores the saved settings and closes; every step runs even if one fails.
  // After the device was unplugged the drain and restore can only fail, and whoever
  // stops already says the device is gone: `deviceGone` keeps those failures unshown.
  void closeSerialPortWithDescriptor(int fileDescriptor, bool deviceGone = false);

  // The reader thread's body: runs the interpreter on the descriptor held by `control`
  // until a stop is requested, then reports done. Touches nothing after allDone.
  void quillmoteWithThreadControl(SerialThreadControl& control);

  // Writes one diagnostic line per port to the system log; 1, or 0 when the query failed.
  int listSerialPorts();
  // Dial-in paths of every port, in registry order; empty after a failed query.
  std::vector<std::string> getArrayOfSerialPorts();
  // The path without its device-directory prefixes, for menus.
  static std::string friendlySerialPath(const std::string& path);

  // Every port with its model name, for listings; empty after a failed query.
  std::vector<SerialPortEntry> getSerialPortEntries();

 private:
  Alerts& alerts_;
  Interpreter& interpreter_;
  SerialRegistry& registry_;
  termios gOriginalTTYAttrs{};
  // The driver's serial flags before the low-latency request, put back at close;
  // nothing when the driver has no such flags.
  std::optional<int> originalSerialFlags_;
};

// The registry query with failures written to standard output (no alert).
int createSerialIterator(SerialRegistry& registry, SerialIterator& iterator);

}  // namespace quillmote
