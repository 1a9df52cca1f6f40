// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "serial/device_monitor.h"

namespace quillmote {

// Decides, one look at a time, when translation must stop because its device went
// away and when it may start again because the same device path is back. The caller
// does the stopping and starting, through its normal stop and start, and looks again
// a few times a second and whenever the monitor has announcements.
class UnplugWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // A path that comes back with no announcement (no udev to listen to) may still lack
  // its permissions for a moment: the start waits this long after it reappears.
  static constexpr std::chrono::milliseconds kSettleTime{1000};

  enum class Step { kNothing, kStopUnplugged, kStartAgain };

  // `monitor` may be null; it must outlive the watch.
  explicit UnplugWatch(DeviceMonitor* monitor) : monitor_(monitor) {}

  // One look at the announcements about `portPath`, at whether the running line hung
  // up, and at whether the path is there. kStopUnplugged comes only while `running`;
  // the watch then waits for the device, and kStartAgain comes only while it waits.
  Step look(const std::string& portPath, bool running, bool lineHungUp, Clock::time_point now);

  bool waiting() const { return waiting_; }
  // The port is not there yet at the start: wait for it as for an unplugged device.
  void waitForAbsentPort();
  // The start after a return worked, or the user stopped: no more waiting.
  void stopWaiting();

 private:
  Step cameBack(std::optional<dev_t> device);

  DeviceMonitor* monitor_;
  bool waiting_ = false;
  bool seenAbsent_ = false;
  bool announcedBack_ = false;
  std::optional<Clock::time_point> presentSince_;
  std::optional<dev_t> goneDevice_;
};

}  // namespace quillmote
