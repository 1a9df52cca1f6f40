// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "interpreter/interpreter.h"
#include "platform/alerts.h"
#include "serial/device_monitor.h"
#include "serial/serial.h"
#include "serial/serial_registry.h"
#include "serial/serial_thread_control.h"
#include "serial/unplug_watch.h"

namespace quillmote {

// One port translated by one interpreter, started and stopped as often as the program
// wants: opens the port and starts the reader thread on it, stops the thread before
// the port is closed, and follows the device when it is unplugged and comes back. It
// shows nothing of its own beyond the open's and close's alerts; the desktop program
// and `quillmote-cli run` each keep one and tell their user what it reports.
// Main thread only; the reader thread is reached through the thread control alone.
class TranslationSession {
 public:
  using Clock = UnplugWatch::Clock;

  enum class Started {
    kRunning,
    kOpenFailed,  // the open has shown why
    kNoThread,    // the system could not start a thread; the port is closed again
  };
  enum class Seen {
    kNothing,
    kUnplugged,  // the device went away: translation has stopped and what it held is up
    kBack,       // the device waited for is back: the caller starts again with startAgain
  };

  // `monitor` may be null (a returning device is then seen by its path alone); it and
  // the other parts must outlive the session.
  TranslationSession(Alerts& alerts, Interpreter& interpreter, SerialRegistry& registry,
                     DeviceMonitor* monitor);
  ~TranslationSession();
  TranslationSession(const TranslationSession&) = delete;
  TranslationSession& operator=(const TranslationSession&) = delete;

  // Runs after each successful open, before the reader thread starts: the moment to
  // set up whatever the run's events go through.
  void setBeforeReading(std::function<void()> beforeReading) {
    beforeReading_ = std::move(beforeReading);
  }

  // Opens `path` at `baud` and starts translating it; ends a wait for a device. From
  // then on the device is followed by its /dev/serial/by-id/ link where the registry
  // knows one, also when `path` is its tty: a device that returns under another tty
  // number is the same device, another device under the old number is not.
  Started start(const std::string& path, int baud);
  // After look said kBack: starts again on the device that came back.
  Started startAgain() { return start(path_, baud_); }
  // The normal stop (exit flag, wait for done, drain, restore, close), and the end of
  // any wait for the device. Nothing happens while neither runs.
  void stop();
  // Runs `work` on this thread while the reader thread, if one runs, waits between two
  // bytes, so that it may touch the interpreter; a command the device is halfway through
  // goes on afterwards. Waits at most one wait slice of the byte feed, plus the action in
  // progress.
  void betweenBytes(const std::function<void()>& work);
  // The port is not there yet: wait for it as for an unplugged device.
  void waitForPort(const std::string& path, int baud);

  // One look at the device: announcements, a hung-up line, the path. The caller looks a
  // few times a second while running or waiting, and when the monitor has news.
  Seen look(Clock::time_point now);

  bool running() const { return fileDescriptor_ > 0; }
  bool waitingForDevice() const { return watch_.waiting(); }
  // Bytes received from the device since the session was made.
  std::uint64_t bytesReceived() const { return control_.bytesReceived(); }
  // The serial object, for the port discovery of whoever chooses the port.
  Serial& serial() { return serial_; }

 private:
  void stopRunning(bool deviceGone);
  // The path that names the device behind `path` whatever its tty number.
  std::string stablePathOf(const std::string& path);

  Interpreter& interpreter_;
  SerialRegistry& registry_;
  Serial serial_;
  SerialThreadControl control_;
  UnplugWatch watch_;
  std::function<void()> beforeReading_;
  std::string path_;  // the device followed
  int baud_ = 0;
  int fileDescriptor_ = -1;
};

}  // namespace quillmote
