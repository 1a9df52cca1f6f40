// SPDX-License-Identifier: MIT
#include "serial/unplug_watch.h"

#include <sys/stat.h>

namespace quillmote {
namespace {

// The device node the path names now, following links (a /dev/serial/by-id link is
// there only while its device is); none while the path is missing.
std::optional<dev_t> deviceAt(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return status.st_rdev;
}

}  // namespace

UnplugWatch::Step UnplugWatch::look(const std::string& portPath, bool running, bool lineHungUp,
                                    Clock::time_point now) {
  bool removed = false;
  if (monitor_ != nullptr) {
    // In order: a device pulled and plugged back between two looks ends as back.
    while (std::optional<DeviceEvent> event = monitor_->nextEvent()) {
      if (!eventNamesPort(*event, portPath)) continue;
      if (event->kind == DeviceEvent::Kind::kRemoved) {
        removed = true;
        seenAbsent_ = true;
        announcedBack_ = false;
      } else {
        announcedBack_ = true;
      }
    }
  }

  if (running) {
    if (!removed && !lineHungUp) {
      // Announcements about the running device itself (its own arrival) say nothing
      // about a later return.
      seenAbsent_ = false;
      announcedBack_ = false;
      return Step::kNothing;
    }
    waiting_ = true;
    presentSince_.reset();
    goneDevice_ = deviceAt(portPath);
    return Step::kStopUnplugged;
  }

  if (!waiting_) return Step::kNothing;
  std::optional<dev_t> device = deviceAt(portPath);
  if (announcedBack_) return cameBack(device);
  if (!device) {
    seenAbsent_ = true;
    presentSince_.reset();
    return Step::kNothing;
  }
  // The same node still there after a hang-up is the same device, not a returned one.
  // A path that was gone in between, or now names another node, is back.
  if (!seenAbsent_ && device == goneDevice_) return Step::kNothing;
  if (!presentSince_) presentSince_ = now;
  if (now - *presentSince_ < kSettleTime) return Step::kNothing;
  return cameBack(device);
}

UnplugWatch::Step UnplugWatch::cameBack(std::optional<dev_t> device) {
  // One start per return: if it fails, the device must go and come back once more, so
  // a port that cannot be opened is not tried (and reported) again and again.
  announcedBack_ = false;
  seenAbsent_ = false;
  presentSince_.reset();
  goneDevice_ = device;
  return Step::kStartAgain;
}

void UnplugWatch::waitForAbsentPort() {
  stopWaiting();
  waiting_ = true;
  seenAbsent_ = true;
}

void UnplugWatch::stopWaiting() {
  waiting_ = false;
  seenAbsent_ = false;
  announcedBack_ = false;
  presentSince_.reset();
  goneDevice_.reset();
}

}  // namespace quillmote
