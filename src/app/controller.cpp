#include "app/controller.h"

#include <QSettings>
#include <QString>

#include <iterator>

#include "serial/reader_thread.h"

namespace quillmote {
namespace {

constexpr const char* kBaudRateKey = "baudRate";
constexpr const char* kSerialPortPathKey = "serialPortPath";
constexpr const char* kWasRunningOnQuitKey = "wasRunningOnQuit";
// The registered default: a fallback that answers when nothing is stored, never
// written to the store itself.
constexpr int kDefaultBaudRate = 300;

}  // namespace

Controller::Controller(ControllerParts parts)
    : userDefaults(parts.userDefaults),
      alerts_(parts.alerts),
      windowPrefs(parts.windowPrefs),
      menuItemRunning(parts.menuItemRunning),
      menuItemStopped(parts.menuItemStopped),
      serialHandler(parts.alerts, parts.interpreter, parts.registry) {
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
  if (isRunning) return;
  // Only an absent path is unspecified: "/dev/null" goes on to the open and fails there.
  if (!serialPortPath) {
    alerts_.plainAlert(
        "Quillmote cannot start because the serial port is unspecified. Choose Preferences "
        "from the File menu and choose a serial port.");
    showStopped();
    return;
  }
  serialPortFileDescriptor =
      serialHandler.openSerialPortWithPath(serialPortPath->c_str(), baudRate);
  if (serialPortFileDescriptor <= 0) return;  // the open has shown why
  if (!startReaderThread(serialHandler, threadControl, serialPortFileDescriptor)) {
    serialHandler.closeSerialPortWithDescriptor(serialPortFileDescriptor);
    alerts_.criticalAlert("Could not start the reader thread.");
    return;
  }
  isRunning = true;
  menuItemRunning.setState(true);
  menuItemStopped.setState(false);
}

void Controller::doStop() {
  if (!isRunning) return;
  stopReaderThread(threadControl);
  // Only now: the reader thread no longer touches the descriptor.
  if (serialPortFileDescriptor > 0) {
    serialHandler.closeSerialPortWithDescriptor(serialPortFileDescriptor);
  }
  isRunning = false;
  showStopped();
}

void Controller::applicationWillTerminate() {
  bool record = isRunning;
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
}

void Controller::openPrefs() {
  auto rate = std::find(std::begin(kRates), std::end(kRates), baudRate);
  if (rate == std::end(kRates)) {
    alerts_.criticalAlert("Invalid baud rate from user preferences.");
    return;
  }
  windowPrefs.selectRateRow(static_cast<int>(rate - std::begin(kRates)));

  SerialIterator probe;
  if (serialHandler.getSerialIterator(probe) == kSerialSuccess) {
    serialPortPaths = serialHandler.getArrayOfSerialPorts();
  } else {
    alerts_.criticalAlert("Unabled to get serial port iterator.");
  }

  windowPrefs.removeAllPortItems();
  int selected = -1;
  for (std::size_t i = 0; i < serialPortPaths.size(); ++i) {
    windowPrefs.addPortItem(Serial::friendlySerialPath(serialPortPaths[i]));
    if (serialPortPath && *serialPortPath == serialPortPaths[i]) selected = static_cast<int>(i);
  }
  if (selected < 0) {
    windowPrefs.addPortItem(kUnspecifiedPortTitle);
    selected = static_cast<int>(serialPortPaths.size());
  }
  windowPrefs.selectPortItem(selected);
  windowPrefs.setFrameAutosaveName("windowPrefs");
  windowPrefs.runModal();
}

void Controller::prefsOK() {
  std::string title = windowPrefs.rateTitle(windowPrefs.selectedRateRow());
  auto rate = std::find_if(std::begin(kRateTitles), std::end(kRateTitles),
                           [&](const char* candidate) { return title == candidate; });
  if (rate == std::end(kRateTitles)) {
    alerts_.criticalAlert("Invalid baud rate from Preferences window.");
  } else {
    baudRate = kRates[rate - std::begin(kRateTitles)];
    int index = windowPrefs.selectedPortIndex();
    if (windowPrefs.selectedPortTitle() == kUnspecifiedPortTitle) {
      if (serialPortPath) serialPortPath = "/dev/null";
    } else if (static_cast<unsigned int>(index) < serialPortPaths.size()) {
      serialPortPath = serialPortPaths[static_cast<std::size_t>(index)];
    } else {
      alerts_.criticalAlert("Popup index out of range.");
    }
    userDefaults.setValue(kBaudRateKey, baudRate);
    if (serialPortPath) {
      userDefaults.setValue(kSerialPortPathKey, QString::fromStdString(*serialPortPath));
    }
    userDefaults.sync();
  }
  windowPrefs.close();
  if (isRunning) {
    doStop();
    doStart();
  }
}

void Controller::prefsCancel() { windowPrefs.close(); }

}  // namespace quillmote
