// SPDX-License-Identifier: MIT
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/check_mark.h"
#include "app/preferences_window.h"
#include "interpreter/interpreter.h"
#include "platform/alerts.h"
#include "serial/line_speeds.h"
#include "session/translation_session.h"

class QSettings;

namespace quillmote {

inline constexpr const char* kUnspecifiedPortTitle = "unspecified";

// Everything the controller works with, made and owned by the program.
struct ControllerParts {
  QSettings& userDefaults;
  Alerts& alerts;
  Interpreter& interpreter;
  SerialRegistry& registry;
  PreferencesWindow& windowPrefs;
  CheckMark& menuItemRunning;
  CheckMark& menuItemStopped;
  // Announcements of devices coming and going; null: a returning device is seen by its
  // path alone. Must outlive the controller.
  DeviceMonitor* deviceMonitor = nullptr;
  // Tells the backend whether keys are plain positions; called at each start, before the
  // reader thread runs. Empty: the backend has no choice to make.
  std::function<void(bool)> useKeyPositions;
  // Tells the backend whether the pointer moves by relative steps; called as the above.
  std::function<void(bool)> useRelativePointer;
};

// Starts and stops translation and keeps the preferences. Runs on the main thread;
// the translation session does the starting, stopping and following of the device,
// and the controller tells the user: alerts and the check marks. Translation that was
// running at the last quit starts again when the controller is made. When the running
// port's device is unplugged, translation stops by itself, quietly, and starts again
// once the same device is back.
class Controller {
 public:
  // The start-up: registers the defaults, reads the preferences, and starts
  // translation when it was running at the last quit.
  explicit Controller(ControllerParts parts);
  ~Controller();
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  void doStart();
  void doStop();
  // The quit: stops translation and records whether it was running.
  void applicationWillTerminate();

  void readPrefs();
  void openPrefs();
  void prefsOK();
  void prefsCancel();

  // Lets up every key and button Quillmote holds, as the commands ,rel. and ,mourel.
  // would, also while translation runs.
  void releaseAll();

  // One look at the running port's device: stops translation when the device was
  // unplugged and starts it again when it is back. A timer calls it a few times a
  // second while translation runs or waits, and the device monitor on announcements.
  void lookAtDevice();

  bool running() const { return session.running(); }
  int rate() const { return baudRate; }
  bool keyPositions() const { return pressKeyPositions; }
  bool relativePointer() const { return moveRelatively; }
  const std::optional<std::string>& portPath() const { return serialPortPath; }
  // The port as people know it: "FT232R USB UART (ttyUSB0)" where the registry knows the
  // device's model (while the device is away, the name it had), else its path; nothing
  // when no port is chosen.
  std::optional<std::string> portName();
  // Stopped because the device went away, and waiting for it to come back.
  bool waitingForDevice() const { return session.waitingForDevice(); }
  // Bytes received from the device since the program started.
  std::uint64_t bytesReceived() const { return session.bytesReceived(); }

 private:
  void showStopped();
  // Tells the user how a start went, and looks at the device while it runs.
  void showStarted(TranslationSession::Started started);
  void keepLookingWhileNeeded();

  QSettings& userDefaults;
  Alerts& alerts_;
  Interpreter& interpreter_;
  PreferencesWindow& windowPrefs;
  CheckMark& menuItemRunning;
  CheckMark& menuItemStopped;
  bool wasRunningOnQuit = false;
  int baudRate = 300;
  bool pressKeyPositions = false;
  bool moveRelatively = false;
  std::function<void(bool)> useKeyPositions_;
  std::function<void(bool)> useRelativePointer_;
  std::optional<std::string> serialPortPath;
  SerialRegistry& registry_;
  // The last port named, and its name: a device that is away is named as it was.
  std::pair<std::string, std::string> lastPortName_;
  // The ports as the preferences last listed them.
  std::vector<SerialPortEntry> serialPorts;
  TranslationSession session;
  QTimer lookTimer;
  std::unique_ptr<QSocketNotifier> announcements;
  // A start or stop may show an alert, whose event loop runs the look timer: no look
  // may start or stop translation in the middle of another start or stop.
  bool startingOrStopping = false;
};

}  // namespace quillmote
