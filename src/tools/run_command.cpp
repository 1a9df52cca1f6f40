// SPDX-License-Identifier: MIT
#include "tools/run_command.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>

#include "interpreter/interpreter.h"
#include "monitor/monitor_lines.h"
#include "monitor/monitor_tap.h"
#include "platform/backends.h"
#include "serial/device_monitor.h"
#include "session/translation_session.h"
#include "tools/console_alerts.h"

namespace quillmote {

namespace {

// Closed when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
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
  err << "Translating " << options.port << " at " << options.baud << " bit/s with the " << backend
      << " backend; Ctrl+C stops.\n";
  return true;
}

// What woke the main thread.
enum class Woken { kStopSignal, kDisplayGone, kTimeToLook };

// The main thread's one wait: for SIGINT or SIGTERM (blocked, and read from `signals`),
// for the X server to hang up `display` (-1: none to watch), and, when `lookMilliseconds`
// is not negative, for an announcement on `monitor` (-1: none) or that much time.
Woken waitForNext(int signals, int display, int monitor, int lookMilliseconds) {
  // The X connection is only watched for its hang-up, never read: the reader thread's
  // Xlib owns what arrives on it.
  pollfd watched[] = {{signals, POLLIN, 0}, {display, POLLRDHUP, 0}, {monitor, POLLIN, 0}};
  while (poll(watched, 3, lookMilliseconds) < 0 && errno == EINTR) {
  }
  if (watched[0].revents & POLLIN) return Woken::kStopSignal;
  if (watched[1].revents & (POLLRDHUP | POLLHUP | POLLERR)) return Woken::kDisplayGone;
  return Woken::kTimeToLook;
}

// Until SIGINT, SIGTERM or the X server's going: stops when the device is unplugged and
// starts again when the same device is back. Looks a few times a second, and at once when
// udev announces.
Woken translateWithReconnect(TranslationSession& session, DeviceMonitor* monitor,
                             const RunOptions& options, const char* backend, int signals,
                             int display, std::ostream& err) {
  const std::string& port = options.port;
  if (!session.running()) {
    session.waitForPort(port, options.baud);
    err << "Waiting for " << port << '\n';
  }
  for (;;) {
    Woken woken = waitForNext(signals, display, monitor ? monitor->descriptor() : -1, 200);
    if (woken != Woken::kTimeToLook) return woken;
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
  // SIGINT and SIGTERM are read from a descriptor by the main thread's wait; blocked
  // before the reader thread starts, so that thread inherits the mask and never takes
  // them itself.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  FileDescriptor signals(signalfd(-1, &stopSignals, SFD_CLOEXEC));
  if (signals.get() < 0) {
    err << "quillmote-cli run: cannot wait for signals: " << std::generic_category().message(errno)
        << '\n';
    return 1;
  }
  // A write to an X server that has gone would end the process before its hang-up is
  // seen; the failed write is enough.
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  // The environment is read at start, before the reader thread, and nothing sets it.
  // NOLINTBEGIN(concurrency-mt-unsafe)
  std::optional<BackendKind> kind =
      options.backend.empty()
          ? chooseBackend(std::getenv("QUILLMOTE_BACKEND"), std::getenv("DISPLAY"),
                          std::getenv("WAYLAND_DISPLAY"), error)
          : chooseBackend(options.backend.c_str(), nullptr, nullptr, error);
  std::optional<bool> keyPositions = keyPositionsRequested(std::getenv("QUILLMOTE_KEYS"), error);
  const char* display = std::getenv("DISPLAY");
  // NOLINTEND(concurrency-mt-unsafe)
  if (!kind || !keyPositions) {
    err << "quillmote-cli run: " << error << '\n';
    return 2;
  }
  KeyboardChoice keys{options.keyPositions || *keyPositions, options.layout};
  PointerChoice pointer;
  if (!options.pointer.empty())
    pointer.mode = pointerModeNamed(options.pointer, "--pointer", error);
  // With the echo on, the trace backend's lines come from the echo, among the bytes and
  // commands that caused them, and not a second time from the backend.
  std::ostream silent(nullptr);
  StartedBackend backend = startBackend(
      *kind, options.echo && *kind == BackendKind::kTrace ? silent : out, keys, pointer);
  if (!backend.events) {
    err << "quillmote-cli run: the " << backendName(*kind)
        << " backend cannot start: " << backend.error << '\n';
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
  std::unique_ptr<DeviceMonitor> monitor = options.reconnect ? openUdevDeviceMonitor() : nullptr;
  UdevSerialRegistry registry;
  TranslationSession session(alerts, interpreter, registry, monitor.get());
  // A port that is not there yet is waited for when reconnecting; any other failure to
  // start ends the run.
  bool waitForPort = options.reconnect && !pathPresent(options.port);
  if (!waitForPort &&
      !toldStarted(session.start(options.port, options.baud), options, backendName(*kind), err)) {
    return 1;
  }

  Woken ended = Woken::kTimeToLook;
  if (options.reconnect) {
    ended = translateWithReconnect(session, monitor.get(), options, backendName(*kind),
                                   signals.get(), backend.displayConnection, err);
  } else {
    while (ended == Woken::kTimeToLook) {
      ended = waitForNext(signals.get(), backend.displayConnection, -1, -1);
    }
  }
  session.stop();
  if (ended == Woken::kDisplayGone) {
    // Whatever was held went with the server: there is nothing left to release.
    err << "quillmote-cli run: the X server of display " << (display ? display : "")
        << " went away; translation stopped and the serial line restored.\n";
    return kDisplayGoneStatus;
  }
  // Nobody could release what is still down once the process is gone.
  interpreter.releaseEverythingHeld();
  err << "Stopped.\n";
  return 0;
}

}  // namespace quillmote
