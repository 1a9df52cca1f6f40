// SPDX-License-Identifier: MIT
#include "app/controller.h"

#include <QSettings>
#include <QString>
#include <iterator>

namespace quillmote {
namespace {

constexpr const char* kBaudRateKey = "baudRate";
constexpr const char* kSerialPortPathKey = "serialPortPath";
constexpr const char* kWasRunningOnQuitKey = "wasRunningOnQuit";
// Settings written before this choice existed lack the key: symbols, the default.
constexpr const char* kKeyPositionsKey = "keyPositions";
constexpr const char* kRelativePointerKey = "relativePointer";
// The registered default: a fallback that answers when nothing is stored, never
// written to the store itself.
constexpr int kDefaultBaudRate = 300;
// How often the running line and a missing device are looked at.
constexpr int kLookIntervalMilliseconds = 200;

// Marks a start or stop in progress for as long as it lives.
class StartOrStop {
 public:
  StartOrStop(bool& flag, QSocketNotifier* announcements)
      : flag_(flag), announcements_(announcements) {
    flag_ = true;
    // Announcements left unread would wake an alert's event loop again and again.
    if (announcements_) announcements_->setEnabled(false);
  }
  ~StartOrStop() {
    flag_ = false;
    if (announcements_) announcements_->setEnabled(true);
  }
  StartOrStop(const StartOrStop&) = delete;
  StartOrStop& operator=(const StartOrStop&) = delete;

 private:
  bool& flag_;
  QSocketNotifier* announcements_;
};

}  // namespace

Controller::Controller(ControllerParts parts)
    : userDefaults(parts.userDefaults),
      alerts_(parts.alerts),
      interpreter_(parts.interpreter),
      windowPrefs(parts.windowPrefs),
      menuItemRunning(parts.menuItemRunning),
      menuItemStopped(parts.menuItemStopped),
      useKeyPositions_(std::move(parts.useKeyPositions)),
      useRelativePointer_(std::move(parts.useRelativePointer)),
      registry_(parts.registry),
      session(parts.alerts, parts.interpreter, parts.registry, parts.deviceMonitor) {
  session.setBeforeReading([this] {
    if (useKeyPositions_) useKeyPositions_(pressKeyPositions);
    if (useRelativePointer_) useRelativePointer_(moveRelatively);
  });
  lookTimer.setInterval(kLookIntervalMilliseconds);
  QObject::connect(&lookTimer, &QTimer::timeout, &lookTimer, [this] { lookAtDevice(); });
  if (parts.deviceMonitor != nullptr && parts.deviceMonitor->descriptor() >= 0) {
    announcements =
        std::make_unique<QSocketNotifier>(parts.deviceMonitor->descriptor(), QSocketNotifier::Read);
    QObject::connect(announcements.get(), &QSocketNotifier::activated, announcements.get(),
                     [this] { lookAtDevice(); });
  }
  readPrefs();
  if (wasRunningOnQuit) {
    doStart();
  } else {
    showStopped();
  }
}

Controller::~Controller() { doStop(); }

void Controller::showStopped() {
  menuItemRunning.setState(false);
  menuItemStopped.setState(true);
}

void Controller::doStart() {
  if (session.running()) return;
  StartOrStop inProgress(startingOrStopping, announcements.get());
  // Only an absent path is unspecified: "/dev/null" goes on to the open and fails there.
  if (!serialPortPath) {
    alerts_.plainAlert(
        "Quillmote cannot start because the serial port is unspecified. Choose Preferences "
        "from the File menu and choose a serial port.");
    showStopped();
    return;
  }
  showStarted(session.start(*serialPortPath, baudRate));
}

void Controller::showStarted(TranslationSession::Started started) {
  switch (started) {
    case TranslationSession::Started::kOpenFailed:
      return;  // the open has shown why
    case TranslationSession::Started::kNoThread:
      alerts_.criticalAlert("Could not start the reader thread.");
      return;
    case TranslationSession::Started::kRunning:
      break;
  }
  lookTimer.start();
  menuItemRunning.setState(true);
  menuItemStopped.setState(false);
}

void Controller::doStop() {
  // A stop asked for while the device is away also ends the wait for it.
  if (session.running()) {
    StartOrStop inProgress(startingOrStopping, announcements.get());
    session.stop();
    showStopped();
  } else {
    session.stop();
  }
  keepLookingWhileNeeded();
}

std::optional<std::string> Controller::portName() {
  if (!serialPortPath) return std::nullopt;
  // Asked of the registry itself, quietly: a failed query only leaves the path shown.
  RegistryQuery query = registry_.querySerialPorts();
  for (const SerialPortEntry& entry : query.ports) {
    if (!entry.model.empty() && pathNamesPort(*serialPortPath, entry)) {
      lastPortName_ = {*serialPortPath, portTitle(entry)};
    }
  }
  return lastPortName_.first == *serialPortPath ? lastPortName_.second : *serialPortPath;
}

void Controller::releaseAll() {
  // A start or stop in progress (showing an alert) has the port half open or closed.
  if (startingOrStopping) return;
  StartOrStop inProgress(startingOrStopping, announcements.get());
  // The reader thread owns the interpreter while it runs: the release is made while it
  // waits between two bytes.
  session.betweenBytes([this] { interpreter_.releaseAll(); });
}

void Controller::lookAtDevice() {
  if (startingOrStopping) return;
  TranslationSession::Seen seen = TranslationSession::Seen::kNothing;
  {
    StartOrStop inProgress(startingOrStopping, announcements.get());
    seen = session.look(UnplugWatch::Clock::now());
  }
  switch (seen) {
    case TranslationSession::Seen::kNothing:
      break;
    case TranslationSession::Seen::kUnplugged:
      showStopped();
      break;
    case TranslationSession::Seen::kBack: {
      StartOrStop inProgress(startingOrStopping, announcements.get());
      showStarted(session.startAgain());
      break;
    }
  }
  keepLookingWhileNeeded();
}

void Controller::keepLookingWhileNeeded() {
  if (!session.running() && !session.waitingForDevice()) lookTimer.stop();
}

void Controller::applicationWillTerminate() {
  // Waiting for an unplugged device is still running as far as the user is concerned:
  // the next start of the program takes it up again.
  bool record = session.running() || session.waitingForDevice();
  doStop();
  userDefaults.setValue(kWasRunningOnQuitKey, record);
  userDefaults.sync();
}

void Controller::readPrefs() {
  baudRate = userDefaults.value(kBaudRateKey, kDefaultBaudRate).toInt();
  QVariant path = userDefaults.value(kSerialPortPathKey);
  if (path.isValid() && path.canConvert<QString>()) {
    serialPortPath = path.toString().toStdString();
  } else {
    serialPortPath.reset();
  }
  wasRunningOnQuit = userDefaults.value(kWasRunningOnQuitKey, false).toBool();
  pressKeyPositions = userDefaults.value(kKeyPositionsKey, false).toBool();
  moveRelatively = userDefaults.value(kRelativePointerKey, false).toBool();
}

void Controller::openPrefs() {
  auto rate = std::ranges::find(kOfferedRates, baudRate);
  if (rate == kOfferedRates.end()) {
    alerts_.criticalAlert("Invalid baud rate from user preferences.");
    return;
  }
  windowPrefs.selectRateRow(static_cast<int>(rate - kOfferedRates.begin()));
  windowPrefs.setKeyPositions(pressKeyPositions);
  windowPrefs.setRelativePointer(moveRelatively);

  SerialIterator probe;
  if (session.serial().getSerialIterator(probe) == kSerialSuccess) {
    serialPorts = session.serial().getSerialPortEntries();
  } else {
    alerts_.criticalAlert("Unabled to get serial port iterator.");
  }

  // A port stored by its tty path, as older settings hold it, is still found in the list.
  windowPrefs.removeAllPortItems();
  int selected = -1;
  for (std::size_t i = 0; i < serialPorts.size(); ++i) {
    windowPrefs.addPortItem(portTitle(serialPorts[i]));
    if (serialPortPath && pathNamesPort(*serialPortPath, serialPorts[i])) {
      selected = static_cast<int>(i);
    }
  }
  if (selected < 0) {
    windowPrefs.addPortItem(kUnspecifiedPortTitle);
    selected = static_cast<int>(serialPorts.size());
  }
  windowPrefs.selectPortItem(selected);
  windowPrefs.setFrameAutosaveName("windowPrefs");
  windowPrefs.runModal();
}

void Controller::prefsOK() {
  std::string title = windowPrefs.rateTitle(windowPrefs.selectedRateRow());
  auto rate = std::ranges::find(kOfferedRates, title, lineSpeedTitle);
  if (rate == kOfferedRates.end()) {
    alerts_.criticalAlert("Invalid baud rate from Preferences window.");
  } else {
    baudRate = *rate;
    int index = windowPrefs.selectedPortIndex();
    if (windowPrefs.selectedPortTitle() == kUnspecifiedPortTitle) {
      if (serialPortPath) serialPortPath = "/dev/null";
    } else if (static_cast<unsigned int>(index) < serialPorts.size()) {
      serialPortPath = serialPorts[static_cast<std::size_t>(index)].dialinDevice;
    } else {
      alerts_.criticalAlert("Popup index out of range.");
    }
    pressKeyPositions = windowPrefs.keyPositions();
    moveRelatively = windowPrefs.relativePointer();
    userDefaults.setValue(kBaudRateKey, baudRate);
    userDefaults.setValue(kKeyPositionsKey, pressKeyPositions);
    userDefaults.setValue(kRelativePointerKey, moveRelatively);
    if (serialPortPath) {
      userDefaults.setValue(kSerialPortPathKey, QString::fromStdString(*serialPortPath));
    }
    userDefaults.sync();
  }
  windowPrefs.close();
  if (session.running()) {
    doStop();
    doStart();
  } else if (session.waitingForDevice() && serialPortPath) {
    // Waiting for a device that is away: the wait is now for the port just chosen.
    session.waitForPort(*serialPortPath, baudRate);
  }
}

void Controller::prefsCancel() { windowPrefs.close(); }

}  // namespace quillmote
