#include "tools/serial_commands.h"

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <optional>

#include "interpreter/interpreter.h"
#include "platform/backends.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
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
  if (!kind) {
    err << "quillmote-cli run: " << error << '\n';
    return 2;
  }
  StartedBackend backend = startBackend(*kind, out);
  if (!backend.events) {
    err << "quillmote-cli run: the " << backendName(*kind) << " backend cannot start: "
        << backend.error << '\n';
    return 1;
  }
  if (!backend.warnings.empty()) err << "quillmote-cli run: " << backend.warnings << '\n';

  ConsoleAlerts alerts(err);
  Interpreter interpreter(*backend.events);
  UdevSerialRegistry registry;
  Serial serial(alerts, interpreter, registry);
  SerialThreadControl control;

  int fileDescriptor = serial.openSerialPortWithPath(options.port.c_str(), options.baud);
  if (fileDescriptor <= 0) return 1;
  if (!startReaderThread(serial, control, fileDescriptor)) {
    err << "quillmote-cli run: could not start the reader thread\n";
    serial.closeSerialPortWithDescriptor(fileDescriptor);
    return 1;
  }
  err << "Translating " << options.port << " at " << options.baud
      << " bit/s with the " << backendName(*kind) << " backend; Ctrl+C stops.\n";

  int received = 0;
  sigwait(&stopSignals, &received);
  stopReaderThread(control);
  serial.closeSerialPortWithDescriptor(fileDescriptor);
  // Nobody could release what is still down once the process is gone.
  interpreter.releaseEverythingHeld();
  err << "Stopped.\n";
  return 0;
}

}  // namespace quillmote
