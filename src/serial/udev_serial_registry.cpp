// SPDX-License-Identifier: MIT
// The device registry on Linux: udev.
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <memory>

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

// A model name for people: udev's database when udevd runs, otherwise the USB
// device's own strings from sysfs.
std::string modelOf(udev_device* device) {
  for (const char* property : {"ID_MODEL_FROM_DATABASE", "ID_MODEL"}) {
    if (const char* model = udev_device_get_property_value(device, property)) {
      std::string vendor = textOrEmpty(
          udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"));
      return vendor.empty() ? model : vendor + " " + model;
    }
  }
  udev_device* usb =
      udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr) return "";
  std::string manufacturer = textOrEmpty(udev_device_get_sysattr_value(usb, "manufacturer"));
  std::string product = textOrEmpty(udev_device_get_sysattr_value(usb, "product"));
  if (manufacturer.empty()) return product;
  return product.empty() ? manufacturer : manufacturer + " " + product;
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
    query.ports.push_back(SerialPortEntry{textOrEmpty(udev_device_get_sysname(device.get())),
                                          node, node, modelOf(device.get())});
  }
  return query;
}

}  // namespace quillmote
