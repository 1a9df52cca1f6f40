// SPDX-License-Identifier: MIT
// Serial devices coming and going, from udev.
#include <libudev.h>
#include <poll.h>

#include <cstring>

#include "serial/device_monitor.h"

namespace quillmote {

bool eventNamesPort(const DeviceEvent& event, const std::string& portPath) {
  if (event.devnode == portPath) return true;
  for (const std::string& link : event.links) {
    if (link == portPath) return true;
  }
  return false;
}

namespace {

class UdevDeviceMonitor final : public DeviceMonitor {
 public:
  UdevDeviceMonitor(udev* registry, udev_monitor* monitor)
      : registry_(registry), monitor_(monitor) {}
  ~UdevDeviceMonitor() override {
    udev_monitor_unref(monitor_);
    udev_unref(registry_);
  }
  UdevDeviceMonitor(const UdevDeviceMonitor&) = delete;
  UdevDeviceMonitor& operator=(const UdevDeviceMonitor&) = delete;

  int descriptor() const override { return udev_monitor_get_fd(monitor_); }

  std::optional<DeviceEvent> nextEvent() override {
    // Announcements of other kinds (change, bind, …) are read and passed over.
    for (;;) {
      pollfd waiting{descriptor(), POLLIN, 0};
      if (poll(&waiting, 1, 0) <= 0) return std::nullopt;
      udev_device* device = udev_monitor_receive_device(monitor_);
      if (device == nullptr) return std::nullopt;
      std::optional<DeviceEvent> event = eventOf(device);
      udev_device_unref(device);
      if (event) return event;
    }
  }

 private:
  static std::optional<DeviceEvent> eventOf(udev_device* device) {
    const char* action = udev_device_get_action(device);
    const char* devnode = udev_device_get_devnode(device);
    if (action == nullptr || devnode == nullptr) return std::nullopt;
    DeviceEvent event;
    if (std::strcmp(action, "add") == 0) {
      event.kind = DeviceEvent::Kind::kAdded;
    } else if (std::strcmp(action, "remove") == 0) {
      event.kind = DeviceEvent::Kind::kRemoved;
    } else {
      return std::nullopt;
    }
    event.devnode = devnode;
    for (udev_list_entry* link = udev_device_get_devlinks_list_entry(device); link;
         link = udev_list_entry_get_next(link)) {
      event.links.emplace_back(udev_list_entry_get_name(link));
    }
    return event;
  }

  udev* registry_;
  udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> openUdevDeviceMonitor() {
  udev* registry = udev_new();
  if (registry == nullptr) return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(registry, "udev");
  if (monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    if (monitor) udev_monitor_unref(monitor);
    udev_unref(registry);
    return nullptr;
  }
  return std::make_unique<UdevDeviceMonitor>(registry, monitor);
}

}  // namespace quillmote
