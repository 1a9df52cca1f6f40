// SPDX-License-Identifier: MIT
// Finding the machine's serial ports, and naming them for people.
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial/serial.h"

namespace quillmote {
namespace {

// The query of both createSerialIterator and getSerialIterator; they differ only in
// how they report a failure.
RegistryQuery queryInto(SerialRegistry& registry, SerialIterator& iterator) {
  RegistryQuery query = registry.querySerialPorts();
  iterator = SerialIterator{};
  if (query.failure == RegistryFailure::kNone) {
    query.status = kSerialSuccess;
    iterator.entries = query.ports;
  }
  return query;
}

}  // namespace

int createSerialIterator(SerialRegistry& registry, SerialIterator& iterator) {
  RegistryQuery query = queryInto(registry, iterator);
  switch (query.failure) {
    case RegistryFailure::kNone:
      break;
    case RegistryFailure::kRegistry:
      std::printf("IOMasterPort returned %d\n", query.status);
      break;
    case RegistryFailure::kMatching:
      std::printf("IOServiceMatching returned NULL\n");
      break;
    case RegistryFailure::kMatchingServices:
      std::printf("IOServiceGetMatchingServices returned %d\n", query.status);
      break;
  }
  std::fflush(stdout);
  return query.status;
}

int Serial::getSerialIterator(SerialIterator& iterator) {
  RegistryQuery query = queryInto(registry_, iterator);
  switch (query.failure) {
    case RegistryFailure::kNone:
      break;
    case RegistryFailure::kRegistry:
      alerts_.criticalAlert("IOMasterPort returned " + std::to_string(query.status) + ".");
      break;
    case RegistryFailure::kMatching:
      alerts_.criticalAlert("IOServiceMatching returned a NULL dictionary.");
      break;
    case RegistryFailure::kMatchingServices:
      alerts_.criticalAlert("IOServiceGetMatchingServices returned " +
                            std::to_string(query.status) + ".");
      break;
  }
  return query.status;
}

int Serial::getSerialPathWithIterator(SerialIterator& iterator, char* path, long size) {
  if (size > 0) path[0] = '\0';
  while (const SerialPortEntry* entry = iterator.next()) {
    const std::string& callout = entry->calloutDevice;
    // The path must fit with its terminating zero, and be plain ASCII.
    bool ascii = std::all_of(callout.begin(), callout.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!callout.empty() && ascii && static_cast<long>(callout.size()) < size) {
      std::memcpy(path, callout.c_str(), callout.size() + 1);
      return kSerialSuccess;
    }
  }
  return kSerialNoPath;
}

int Serial::listSerialPorts() {
  SerialIterator iterator;
  if (createSerialIterator(registry_, iterator) != kSerialSuccess) {
    syslog(LOG_NOTICE, "createSerialIterator failed\n");
    return 0;
  }
  while (const SerialPortEntry* entry = iterator.next()) {
    syslog(LOG_NOTICE, "ttyDevice [%s]  dialInDevice [%s]  callOutDevice [%s]\n",
           entry->ttyDevice.c_str(), entry->dialinDevice.c_str(), entry->calloutDevice.c_str());
  }
  return 1;
}

std::vector<SerialPortEntry> Serial::getSerialPortEntries() {
  SerialIterator iterator;
  if (createSerialIterator(registry_, iterator) != kSerialSuccess) {
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

std::string portTitle(const SerialPortEntry& entry) {
  if (entry.model.empty()) {
    return Serial::friendlySerialPath(entry.calloutDevice.empty() ? entry.dialinDevice
                                                                  : entry.calloutDevice);
  }
  return entry.model + " (" + (entry.ttyDevice.empty() ? entry.dialinDevice : entry.ttyDevice) +
         ")";
}

bool pathNamesPort(const std::string& path, const SerialPortEntry& entry) {
  return path == entry.dialinDevice || (!path.empty() && path == entry.calloutDevice);
}

std::string Serial::friendlySerialPath(const std::string& path) {
  // Each pass removes the occurrences found in the string as it stood before that
  // pass; an occurrence that only forms by a removal stays.
  auto removeAll = [](const std::string& text, const std::string& prefix) {
    std::string out;
    std::size_t from = 0;
    std::size_t at = text.find(prefix);
    while (at != std::string::npos) {
      out.append(text, from, at - from);
      from = at + prefix.size();
      at = text.find(prefix, from);
    }
    out.append(text, from, std::string::npos);
    return out;
  };
  return removeAll(removeAll(path, "/dev/tty."), "/dev/cu.");
}

}  // namespace quillmote
