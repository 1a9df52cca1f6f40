// Finding the machine's serial ports through udev, and naming them for people.
#include <libudev.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "serial/serial.h"

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

// A model name for people: udev's database first, then the USB device's own strings.
std::string modelOf(udev_device* device) {
  for (const char* property : {"ID_MODEL_FROM_DATABASE", "ID_MODEL"}) {
    if (const char* model = udev_device_get_property_value(device, property)) {
      std::string vendor = textOrEmpty(
          udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"));
      return vendor.empty() ? model : vendor + " " + model;
    }
  }
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr) return "";
  std::string manufacturer = textOrEmpty(udev_device_get_sysattr_value(usb, "manufacturer"));
  std::string product = textOrEmpty(udev_device_get_sysattr_value(usb, "product"));
  if (manufacturer.empty()) return product;
  return product.empty() ? manufacturer : manufacturer + " " + product;
}

// Serial ports of the RS-232 kind: tty devices with a parent device (USB serial, ACM,
// on-board UARTs, Bluetooth). Virtual consoles and pseudo-terminals have no parent.
// Serial-core ports of type 0 are the placeholders of absent 8250 UARTs.
bool isSerialPort(udev_device* device) {
  if (udev_device_get_parent(device) == nullptr) return false;
  if (udev_device_get_devnode(device) == nullptr) return false;
  const char* type = udev_device_get_sysattr_value(device, "type");
  return type == nullptr || std::strcmp(type, "0") != 0;
}

enum class QueryFailure { kNone, kRegistry, kMatching, kMatchingServices };

// The registry query of both createSerialIterator and getSerialIterator; the
// callers differ only in how they report a failure.
QueryFailure queryPorts(SerialIterator& iterator, int& status) {
  UdevPointer<udev> registry(udev_new());
  if (!registry) {
    status = errno != 0 ? errno : -1;
    return QueryFailure::kRegistry;
  }
  UdevPointer<udev_enumerate> matching(udev_enumerate_new(registry.get()));
  if (!matching) {
    status = -1;
    return QueryFailure::kMatching;
  }
  status = udev_enumerate_add_match_subsystem(matching.get(), "tty");
  if (status == 0) status = udev_enumerate_scan_devices(matching.get());
  if (status != 0) return QueryFailure::kMatchingServices;

  iterator = SerialIterator{};
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(matching.get())) {
    UdevPointer<udev_device> device(
        udev_device_new_from_syspath(registry.get(), udev_list_entry_get_name(entry)));
    if (!device || !isSerialPort(device.get())) continue;
    std::string node = udev_device_get_devnode(device.get());
    iterator.entries.push_back(SerialPortEntry{textOrEmpty(udev_device_get_sysname(device.get())),
                                               node, node, modelOf(device.get())});
  }
  status = kSerialSuccess;
  return QueryFailure::kNone;
}

}  // namespace

int createSerialIterator(SerialIterator& iterator) {
  int status = 0;
  switch (queryPorts(iterator, status)) {
    case QueryFailure::kNone: break;
    case QueryFailure::kRegistry: std::printf("IOMasterPort returned %d\n", status); break;
    case QueryFailure::kMatching: std::printf("IOServiceMatching returned NULL\n"); break;
    case QueryFailure::kMatchingServices:
      std::printf("IOServiceGetMatchingServices returned %d\n", status);
      break;
  }
  std::fflush(stdout);
  return status;
}

int Serial::getSerialIterator(SerialIterator& iterator) {
  int status = 0;
  switch (queryPorts(iterator, status)) {
    case QueryFailure::kNone: break;
    case QueryFailure::kRegistry:
      alerts_.criticalAlert("IOMasterPort returned " + std::to_string(status) + ".");
      break;
    case QueryFailure::kMatching:
      alerts_.criticalAlert("IOServiceMatching returned a NULL dictionary.");
      break;
    case QueryFailure::kMatchingServices:
      alerts_.criticalAlert("IOServiceGetMatchingServices returned " +
                            std::to_string(status) + ".");
      break;
  }
  return status;
}

int Serial::getSerialPathWithIterator(SerialIterator& iterator, char* path, long size) {
  if (size > 0) path[0] = '\0';
  while (const SerialPortEntry* entry = iterator.next()) {
    const std::string& callout = entry->calloutDevice;
    if (!callout.empty() && static_cast<long>(callout.size()) < size) {
      std::memcpy(path, callout.c_str(), callout.size() + 1);
      return kSerialSuccess;
    }
  }
  return kSerialNoPath;
}

int Serial::listSerialPorts() {
  SerialIterator iterator;
  if (createSerialIterator(iterator) != kSerialSuccess) {
    syslog(LOG_NOTICE, "createSerialIterator failed\n");
    return 0;
  }
  while (const SerialPortEntry* entry = iterator.next()) {
    syslog(LOG_NOTICE, "ttyDevice [%s]  dialInDevice [%s]  callOutDevice [%s]\n",
           entry->ttyDevice.c_str(), entry->dialinDevice.c_str(),
           entry->calloutDevice.c_str());
  }
  return 1;
}

std::vector<SerialPortEntry> Serial::getSerialPortEntries() {
  SerialIterator iterator;
  if (createSerialIterator(iterator) != kSerialSuccess) {
    alerts_.criticalAlert("createSerialIterator failed.");
    return {};
  }
  return iterator.entries;
}

std::vector<std::string> Serial::getArrayOfSerialPorts() {
  std::vector<std::string> paths;
  for (const SerialPortEntry& entry : getSerialPortEntries()) {
    paths.push_back(entry.dialinDevice);
  }
  return paths;
}

std::string Serial::friendlySerialPath(const std::string& path) {
  // Each pass removes the occurrences found in the string as it stood before that
  // pass; an occurrence that only forms by a removal stays.
  auto removeAll = [](const std::string& text, const std::string& prefix) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(prefix, from)) != std::string::npos;
         from = at + prefix.size()) {
      out.append(text, from, at - from);
    }
    out.append(text, from, std::string::npos);
    return out;
  };
  return removeAll(removeAll(path, "/dev/tty."), "/dev/cu.");
}

}  // namespace quillmote
