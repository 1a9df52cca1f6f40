// SPDX-License-Identifier: MIT
#include "tools/serial_commands.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "interpreter/interpreter.h"
#include "monitor/monitor_lines.h"
#include "monitor/monitor_tap.h"
#include "platform/backends.h"
#include "serial/device_monitor.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "serial/unplug_watch.h"
#include "tools/console_alerts.h"

namespace quillmote {

int runPorts(std::ostream& out, std::ostream& err) {
  UdevSerialRegistry registry;
  SerialIterator iterator;
  if (createSerialIterator(registry, iterator) != kSerialSuccess) {
    err << "quillmote-cli ports: the device registry (udev) could not be read\n";
    return 1;
  }
  if (iterator.entries.empty()) out << "No serial ports found.\n";
  for (const SerialPortEntry& entry : iterator.entries) {
    out << Serial::friendlySerialPath(entry.dialinDevice) << '\t' << entry.dialinDevice;
    if (!entry.model.empty()) out << '\t' << entry.model;
    out << '\n';
  }
  return 0;
}

namespace {

// One port translated by one interpreter: started, stopped after an unplug, started
// again, and stopped at the end.
class PortSession {
 public:
  PortSession(const RunOptions& options, const char* backend, Alerts& alerts,
              Interpreter& interpreter, std::ostream& err)
      : options_(options), backend_(backend), interpreter_(interpreter), err_(err),
        serial_(alerts, interpreter, registry_) {}

  bool running() const { return fileDescriptor_ > 0; }
  bool lineHungUp() const { return control_.lineHungUp(); }

  // Opens the port and starts reading it; false after a failure already reported.
  bool start() {
    int fileDescriptor = serial_.openSerialPortWithPath(options_.port.c_str(), options_.baud);
    if (fileDescriptor <= 0) return false;
    if (!startReaderThread(serial_, control_, fileDescriptor)) {
      err_ << "quillmote-cli run: could not start the reader thread\n";
      serial_.closeSerialPortWithDescriptor(fileDescriptor);
      return false;
    }
    fileDescriptor_ = fileDescriptor;
    err_ << "Translating " << options_.port << " at " << options_.baud << " bit/s with the "
         << backend_ << " backend; Ctrl+C stops.\n";
    return true;
  }

  // The normal stop: exit flag, wait for done, drain, restore, close. After an unplug
  // the drain and restore failures are expected and not reported, and what the device
  // held down is let up now, since it cannot do so any more.
  void stop(bool deviceGone) {
    if (!running()) return;
    stopReaderThread(control_);
    serial_.closeSerialPortWithDescriptor(fileDescriptor_, deviceGone);
    fileDescriptor_ = -1;
    if (deviceGone) interpreter_.releaseEverythingHeld();
  }

 private:
  const RunOptions& options_;
  const char* backend_;
  Interpreter& interpreter_;
  std::ostream& err_;
  UdevSerialRegistry registry_;
  Serial serial_;
  SerialThreadControl control_;
  int fileDescriptor_ = -1;
};

// The monitor's lines written as they come, on the reader thread, each line flushed so
// a person or a program watching the output sees it at once.
class EchoSink final : public MonitorSink {
 public:
  explicit EchoSink(std::ostream& out) : out_(out) {}
  void take(const MonitorRecord* records, std::size_t count) override {
    lines_.clear();
    for (std::size_t i = 0; i < count; ++i) monitor_.add(records[i], lines_);
    for (const std::string& line : lines_) out_ << line << '\n';
    if (!lines_.empty()) out_.flush();
  }

 private:
  std::ostream& out_;
  MonitorLines monitor_;
  std::vector<std::string> lines_;
};

bool pathPresent(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

// Until SIGINT or SIGTERM: stops when the device is unplugged and starts again when the
// same path is back. Looks a few times a second, and at once when udev announces.
void translateWithReconnect(PortSession& session, const std::string& port,
                            const sigset_t& stopSignals, std::ostream& err) {
  std::unique_ptr<DeviceMonitor> monitor = openUdevDeviceMonitor();
  UnplugWatch watch(monitor.get());
  if (!session.running()) {
    watch.waitForAbsentPort();
    err << "Waiting for " << port << '\n';
  }
  for (;;) {
    timespec lookInterval{0, 200'000'000};
    if (monitor) {
      pollfd announced{monitor->descriptor(), POLLIN, 0};
      // Signals stay blocked; a pending one is taken right after the wait below.
      poll(&announced, 1, 200);
      lookInterval = {0, 0};
    }
    int received = sigtimedwait(&stopSignals, nullptr, &lookInterval);
    if (received == SIGINT || received == SIGTERM) return;
    switch (watch.look(port, session.running(), session.lineHungUp(),
                       UnplugWatch::Clock::now())) {
      case UnplugWatch::Step::kNothing:
        break;
      case UnplugWatch::Step::kStopUnplugged:
        session.stop(true);
        err << "Device gone, waiting for " << port << '\n';
        break;
      case UnplugWatch::Step::kStartAgain:
        if (session.start()) {
          watch.stopWaiting();
        } else {
          err << "Waiting for " << port << " to be plugged in again\n";
        }
        break;
    }
  }
}

}  // namespace

int runTranslation(const RunOptions& options, std::ostream& out, std::ostream& err) {
  // SIGINT and SIGTERM are taken by sigwait below; blocked before the reader thread
  // starts, so that thread inherits the mask and never takes them itself.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::string error;
  std::optional<BackendKind> kind =
      options.backend.empty()
          ? chooseBackend(std::getenv("QUILLMOTE_BACKEND"), std::getenv("DISPLAY"),
                          std::getenv("WAYLAND_DISPLAY"), error)
          : chooseBackend(options.backend.c_str(), nullptr, nullptr, error);
  std::optional<bool> keyPositions = keyPositionsRequested(std::getenv("QUILLMOTE_KEYS"), error);
  if (!kind || !keyPositions) {
    err << "quillmote-cli run: " << error << '\n';
    return 2;
  }
  KeyboardChoice keys{options.keyPositions || *keyPositions, options.layout};
  PointerChoice pointer;
  if (!options.pointer.empty()) pointer.mode = pointerModeNamed(options.pointer, "--pointer", error);
  // With the echo on, the trace backend's lines come from the echo, among the bytes and
  // commands that caused them, and not a second time from the backend.
  std::ostream silent(nullptr);
  StartedBackend backend =
      startBackend(*kind, options.echo && *kind == BackendKind::kTrace ? silent : out, keys, pointer);
  if (!backend.events) {
    err << "quillmote-cli run: the " << backendName(*kind) << " backend cannot start: "
        << backend.error << '\n';
    return 1;
  }
  if (!backend.warnings.empty()) err << "quillmote-cli run: " << backend.warnings << '\n';
  if (!backend.layout.empty()) {
    err << (keys.keyPositions ? "Pressing plain US key positions; the keyboard layout is "
                              : "Typing for the keyboard layout ")
        << backend.layout << ".\n";
  }
  if (!backend.pointer.empty()) err << "Moving the pointer: " << backend.pointer << ".\n";

  ConsoleAlerts alerts(err);
  MonitorTap tap(*backend.events);
  Interpreter interpreter(tap);
  EchoSink echo(out);
  if (options.echo) {
    tap.attach(&echo);
    interpreter.setTokenObserver(&tap);
  }
  PortSession session(options, backendName(*kind), alerts, interpreter, err);
  // A port that is not there yet is waited for when reconnecting; any other failure to
  // start ends the run.
  bool waitForPort = options.reconnect && !pathPresent(options.port);
  if (!waitForPort && !session.start()) return 1;

  if (options.reconnect) {
    translateWithReconnect(session, options.port, stopSignals, err);
  } else {
    int received = 0;
    sigwait(&stopSignals, &received);
  }
  session.stop(false);
  // Nobody could release what is still down once the process is gone.
  interpreter.releaseEverythingHeld();
  err << "Stopped.\n";
  return 0;
}

}  // namespace quillmote
