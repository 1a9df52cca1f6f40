// SPDX-License-Identifier: MIT
// quillmote: the desktop program.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "app/action_check_mark.h"
#include "app/command_line.h"
#include "app/controller.h"
#include "app/main_window.h"
#include "app/message_box_alerts.h"
#include "app/monitor_window.h"
#include "app/preferences_dialog.h"
#include "platform/backends.h"

namespace {

// SIGTERM and SIGINT become a normal quit, so the was-running flag is always recorded
// and nothing is left pressed: the handler only writes a byte that the event loop reads.
int signalPipe[2] = {-1, -1};
// A signal that arrives before the main event loop runs (during a start-up alert, say)
// could only end that alert's loop; the main loop must still quit when it starts.
bool quitRequested = false;

void forwardSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
}

void quitOnSignals(QApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
    char byte = 0;
    [[maybe_unused]] ssize_t got = read(signalPipe[0], &byte, 1);
    quitRequested = true;
    app.quit();
  });
  struct sigaction action {};
  action.sa_handler = forwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Before QApplication, which would need a display just to print the help.
  if (auto status = quillmote::answerCommandLine(argc, argv, std::cout, std::cerr)) return *status;
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Quillmote");
  QApplication::setApplicationName("Quillmote");
  QApplication::setApplicationVersion(QUILLMOTE_VERSION);
  // Wayland desktops find the window's icon and name through its desktop entry.
  QApplication::setDesktopFileName(QUILLMOTE_APP_ID);
  QApplication::setQuitOnLastWindowClosed(false);
  // Before anything starts translation: a signal from then on must reach the quit.
  quitOnSignals(app);

  std::string error;
  // The environment is read here only, before any thread of ours runs and with nothing
  // that sets it.
  // NOLINTBEGIN(concurrency-mt-unsafe)
  std::optional<quillmote::BackendKind> kind =
      quillmote::chooseBackend(std::getenv("QUILLMOTE_BACKEND"), std::getenv("DISPLAY"),
                               std::getenv("WAYLAND_DISPLAY"), error);
  std::optional<bool> keyPositionsForced =
      quillmote::keyPositionsRequested(std::getenv("QUILLMOTE_KEYS"), error);
  // NOLINTEND(concurrency-mt-unsafe)
  quillmote::StartedBackend backend;
  if (kind && keyPositionsForced) {
    backend = quillmote::startBackend(*kind, std::cout, {*keyPositionsForced, ""});
    if (!backend.events) {
      error = std::string("The ") + quillmote::backendName(*kind) +
              " backend cannot start: " + backend.error;
    }
  }
  if (!backend.events) {
    QMessageBox::critical(nullptr, "Quillmote", QString::fromStdString(error));
    return 1;
  }
  if (!backend.warnings.empty()) std::cerr << "quillmote: " << backend.warnings << '\n';

  QSettings userDefaults;
  quillmote::MainWindow window;
  quillmote::MessageBoxAlerts alerts(&window);
  // The monitor watches the interpreter through the tap; closed, it costs nothing.
  quillmote::MonitorTap tap(*backend.events);
  quillmote::Interpreter interpreter(tap);
  // The window outlives the interpreter's runs: the controller, made after it, stops them.
  interpreter.setHeldObserver(&window);
  quillmote::MonitorWindow monitor(tap, interpreter);
  window.setMonitorWindow(&monitor);
  quillmote::UdevSerialRegistry registry;
  std::unique_ptr<quillmote::DeviceMonitor> deviceMonitor = quillmote::openUdevDeviceMonitor();
  quillmote::PreferencesDialog preferences(userDefaults, &window);
  quillmote::ActionCheckMark running(window.startAction(), [&window] { window.showStatus(); });
  quillmote::ActionCheckMark stopped(window.stopAction(), [&window] { window.showStatus(); });

  window.show();
  // QUILLMOTE_KEYS=positions holds whatever the preferences say.
  auto useKeyPositions = [&backend, forced = *keyPositionsForced](bool on) {
    backend.setKeyPositions(on || forced);
  };
  quillmote::Controller controller({userDefaults, alerts, interpreter, registry, preferences,
                                    running, stopped, deviceMonitor.get(), useKeyPositions,
                                    backend.setRelativePointer});
  preferences.onOK = [&controller] { controller.prefsOK(); };
  preferences.onCancel = [&controller] { controller.prefsCancel(); };
  window.connectController(controller);

  QObject::connect(&app, &QApplication::aboutToQuit, [&controller, &interpreter] {
    controller.applicationWillTerminate();
    // Once the process is gone nothing could release what is still down.
    interpreter.releaseEverythingHeld();
  });
  if (quitRequested) QTimer::singleShot(0, &app, &QApplication::quit);
  return app.exec();
}
