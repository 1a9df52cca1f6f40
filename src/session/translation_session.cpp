// SPDX-License-Identifier: MIT
#include "session/translation_session.h"

#include "serial/reader_thread.h"

namespace quillmote {

TranslationSession::TranslationSession(Alerts& alerts, Interpreter& interpreter,
                                       SerialRegistry& registry, DeviceMonitor* monitor)
    : interpreter_(interpreter),
      registry_(registry),
      serial_(alerts, interpreter, registry),
      watch_(monitor) {}

// The reader thread refers to this object's parts: it must not outlive them.
TranslationSession::~TranslationSession() { stop(); }

TranslationSession::Started TranslationSession::start(const std::string& path, int baud) {
  if (running()) return Started::kRunning;
  path_ = stablePathOf(path);
  baud_ = baud;
  int fileDescriptor = serial_.openSerialPortWithPath(path.c_str(), baud);
  if (fileDescriptor <= 0) return Started::kOpenFailed;
  if (beforeReading_) beforeReading_();
  if (!startReaderThread(serial_, control_, fileDescriptor)) {
    serial_.closeSerialPortWithDescriptor(fileDescriptor);
    return Started::kNoThread;
  }
  fileDescriptor_ = fileDescriptor;
  watch_.stopWaiting();
  return Started::kRunning;
}

void TranslationSession::stop() {
  watch_.stopWaiting();
  stopRunning(false);
}

void TranslationSession::betweenBytes(const std::function<void()>& work) {
  // A reader thread that has ended no longer touches the interpreter either.
  if (!running() || !control_.runBetweenBytes(work)) work();
}

void TranslationSession::waitForPort(const std::string& path, int baud) {
  path_ = path;
  baud_ = baud;
  watch_.waitForAbsentPort();
}

std::string TranslationSession::stablePathOf(const std::string& path) {
  RegistryQuery query = registry_.querySerialPorts();
  if (query.failure != RegistryFailure::kNone) return path;
  for (const SerialPortEntry& entry : query.ports) {
    if (pathNamesPort(path, entry) && !entry.dialinDevice.empty()) return entry.dialinDevice;
  }
  return path;
}

void TranslationSession::stopRunning(bool deviceGone) {
  if (!running()) return;
  stopReaderThread(control_);
  // Only now: the reader thread no longer touches the descriptor. After an unplug the
  // drain and restore can only fail, and whoever stops says the device is gone.
  serial_.closeSerialPortWithDescriptor(fileDescriptor_, deviceGone);
  fileDescriptor_ = -1;
  // Keys and buttons the device held down have nobody left to let them up.
  if (deviceGone) interpreter_.releaseEverythingHeld();
}

TranslationSession::Seen TranslationSession::look(Clock::time_point now) {
  switch (watch_.look(path_, running(), control_.lineHungUp(), now)) {
    case UnplugWatch::Step::kNothing:
      return Seen::kNothing;
    case UnplugWatch::Step::kStopUnplugged:
      stopRunning(true);
      return Seen::kUnplugged;
    case UnplugWatch::Step::kStartAgain:
      return Seen::kBack;
  }
  return Seen::kNothing;
}

}  // namespace quillmote
