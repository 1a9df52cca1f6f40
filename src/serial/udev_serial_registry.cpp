// SPDX-License-Identifier: MIT
// The device registry on Linux: udev.
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "serial/serial_registry.h"

namespace quillmote {
namespace {

struct UdevDeleter {
  void operator()(udev* handle) const { udev_unref(handle); }
  void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
  void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
template <typename T>
using UdevPointer = std::unique_ptr<T, UdevDeleter>;

std::string textOrEmpty(const char* text) { return text ? text : ""; }

// A model name for people: the name the USB device gives itself ("FT232R USB UART", as
// printed on its box more often than the vendor database's), read from sysfs, which
// needs no udevd; else udev's database.
std::string modelOf(udev_device* device) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb != nullptr) {
    if (const char* product = udev_device_get_sysattr_value(usb, "product")) return product;
  }
  for (const char* property : {"ID_MODEL_FROM_DATABASE", "ID_MODEL"}) {
    if (const char* model = udev_device_get_property_value(device, property)) {
      std::string vendor =
          textOrEmpty(udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"));
      return vendor.empty() ? model : vendor + " " + model;
    }
  }
  return "";
}

std::string serialNumberOf(udev_device* device) {
  if (const char* serial = udev_device_get_property_value(device, "ID_SERIAL_SHORT")) {
    return serial;
  }
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  return usb != nullptr ? textOrEmpty(udev_device_get_sysattr_value(usb, "serial")) : "";
}

// The link udev made under /dev/serial/by-id/ (from the device's vendor, model, serial
// and interface), or the empty string: only udevd makes these, and only for USB.
std::string byIdLinkOf(udev_device* device) {
  constexpr std::string_view kById = "/dev/serial/by-id/";
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(device); link;
       link = udev_list_entry_get_next(link)) {
    std::string_view name = udev_list_entry_get_name(link);
    if (name.starts_with(kById)) return std::string(name);
  }
  return "";
}

// Virtual consoles and pseudo-terminals have no parent device and drop out.
// Serial-core ports whose type reads "0" are the placeholders of absent 8250 UARTs;
// the attribute can be read without opening the port.
bool isSerialPort(udev_device* device) {
  if (udev_device_get_parent(device) == nullptr) return false;
  if (udev_device_get_devnode(device) == nullptr) return false;
  const char* type = udev_device_get_sysattr_value(device, "type");
  return type == nullptr || std::strcmp(type, "0") != 0;
}

}  // namespace

RegistryQuery UdevSerialRegistry::querySerialPorts() {
  RegistryQuery query;
  errno = 0;
  UdevPointer<udev> registry(udev_new());
  if (!registry) {
    query.failure = RegistryFailure::kRegistry;
    query.status = errno != 0 ? errno : -1;
    return query;
  }
  UdevPointer<udev_enumerate> matching(udev_enumerate_new(registry.get()));
  if (!matching) {
    query.failure = RegistryFailure::kMatching;
    query.status = -1;
    return query;
  }
  query.status = udev_enumerate_add_match_subsystem(matching.get(), "tty");
  if (query.status == 0) query.status = udev_enumerate_scan_devices(matching.get());
  if (query.status != 0) {
    query.failure = RegistryFailure::kMatchingServices;
    return query;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(matching.get())) {
    UdevPointer<udev_device> device(
        udev_device_new_from_syspath(registry.get(), udev_list_entry_get_name(entry)));
    if (!device || !isSerialPort(device.get())) continue;
    std::string node = udev_device_get_devnode(device.get());
    std::string byId = byIdLinkOf(device.get());
    query.ports.push_back(SerialPortEntry{textOrEmpty(udev_device_get_sysname(device.get())),
                                          byId.empty() ? node : byId, node, modelOf(device.get()),
                                          serialNumberOf(device.get())});
  }
  return query;
}

}  // namespace quillmote
