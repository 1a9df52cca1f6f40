// SPDX-License-Identifier: MIT
#include "tools/run_command.h"

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
#include "session/translation_session.h"
#include "tools/console_alerts.h"

namespace quillmote {

namespace {

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

// A line when what is held changes, after the lines of the events that changed it: the
// reader thread tells it once the monitor has handed its records over.
class HeldEcho final : public HeldObserver {
 public:
  explicit HeldEcho(std::ostream& out) : out_(out) {}
  void heldChanged(const HeldSet& held) override {
    out_ << "held " << (held.empty() ? "nothing" : heldText(held)) << std::endl;
  }

 private:
  std::ostream& out_;
};

bool pathPresent(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

// Says how a start went: false when translation does not run.
bool toldStarted(TranslationSession::Started started, const RunOptions& options,
                 const char* backend, std::ostream& err) {
  switch (started) {
    case TranslationSession::Started::kOpenFailed:
      return false;  // the open has said why
    case TranslationSession::Started::kNoThread:
      err << "quillmote-cli run: could not start the reader thread\n";
      return false;
    case TranslationSession::Started::kRunning:
      break;
  }
  err << "Translating " << options.port << " at " << options.baud << " bit/s with the "
      << backend << " backend; Ctrl+C stops.\n";
  return true;
}

// Until SIGINT or SIGTERM: stops when the device is unplugged and starts again when the
// same device is back. Looks a few times a second, and at once when udev announces.
void translateWithReconnect(TranslationSession& session, DeviceMonitor* monitor,
                            const RunOptions& options, const char* backend,
                            const sigset_t& stopSignals, std::ostream& err) {
  const std::string& port = options.port;
  if (!session.running()) {
    session.waitForPort(port, options.baud);
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
    switch (session.look(TranslationSession::Clock::now())) {
      case TranslationSession::Seen::kNothing:
        break;
      case TranslationSession::Seen::kUnplugged:
        err << "Device gone, waiting for " << port << '\n';
        break;
      case TranslationSession::Seen::kBack:
        if (!toldStarted(session.startAgain(), options, backend, err)) {
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
  HeldEcho heldEcho(out);
  if (options.echo) {
    tap.attach(&echo);
    interpreter.setTokenObserver(&tap);
    interpreter.setHeldObserver(&heldEcho);
  }
  std::unique_ptr<DeviceMonitor> monitor =
      options.reconnect ? openUdevDeviceMonitor() : nullptr;
  UdevSerialRegistry registry;
  TranslationSession session(alerts, interpreter, registry, monitor.get());
  // A port that is not there yet is waited for when reconnecting; any other failure to
  // start ends the run.
  bool waitForPort = options.reconnect && !pathPresent(options.port);
  if (!waitForPort && !toldStarted(session.start(options.port, options.baud), options,
                                   backendName(*kind), err)) {
    return 1;
  }

  if (options.reconnect) {
    translateWithReconnect(session, monitor.get(), options, backendName(*kind), stopSignals,
                           err);
  } else {
    int received = 0;
    sigwait(&stopSignals, &received);
  }
  session.stop();
  // Nobody could release what is still down once the process is gone.
  interpreter.releaseEverythingHeld();
  err << "Stopped.\n";
  return 0;
}

}  // namespace quillmote
