// The controller's decisions without widgets: start, stop, quit and the preferences,
// over a real store file, a real pseudo-terminal as the port and the trace backend.
#include "app/controller.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

using Strings = std::vector<std::string>;
constexpr auto kPatience = std::chrono::seconds(5);

std::string internalError(const std::string& message) {
  return "Internal Error: " + internalErrorText(message);
}

// Descriptors of this process open on `path`; all of them when `path` is empty.
int descriptorsOn(const std::string& path = "") {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  while (dirent* entry = readdir(directory)) {
    char target[256];
    ssize_t size = readlink(("/proc/self/fd/" + std::string(entry->d_name)).c_str(), target, 256);
    count += size > 0 && (path.empty() || path == std::string(target, std::size_t(size)));
  }
  closedir(directory);
  return count;
}

speed_t lineSpeed(const PseudoTerminal& line) {
  termios settings{};
  tcgetattr(line.portFd(), &settings);
  return cfgetospeed(&settings);
}

struct ScriptedRegistry final : SerialRegistry {
  RegistryQuery querySerialPorts() override { return answer; }
  void list(const Strings& paths) {
    answer = {};
    for (const std::string& path : paths) answer.ports.push_back({"", path, path, ""});
  }
  RegistryQuery answer;
};

// A window whose user has already made the choices the test put in it.
struct FakePreferencesWindow final : PreferencesWindow {
  void selectRateRow(int row) override { rateRow = row; }
  int selectedRateRow() const override { return rateRow; }
  std::string rateTitle(int row) const override { return row < 0 ? "" : titles.at(row); }
  void removeAllPortItems() override { items.clear(); }
  void addPortItem(const std::string& title) override { items.push_back(title); }
  void selectPortItem(int index) override { selected = index; }
  int selectedPortIndex() const override { return selected; }
  std::string selectedPortTitle() const override {
    return selected < 0 || selected >= int(items.size()) ? "" : items[selected];
  }
  void setFrameAutosaveName(const std::string& name) override { autosaveName = name; }
  void runModal() override { ++modalRuns; }
  void close() override { ++closes; }

  Strings titles{std::begin(kRateTitles), std::end(kRateTitles)}, items;
  int rateRow = -1, selected = -1, modalRuns = 0, closes = 0;
  std::string autosaveName;
};

struct RecordingMark final : CheckMark {
  void setState(bool on) override { history.push_back(on); }
  std::string shown() const { return history.empty() ? "unset" : history.back() ? "on" : "off"; }
  std::vector<bool> history;
};

class ControllerTest : public ::testing::Test {
 protected:
  // A launch: a new store object on the same file, a new controller on it.
  Controller& launch(const std::map<QString, QVariant>& storedBefore = {}) {
    controller.reset();
    store.reset();
    QSettings other(storePath, QSettings::IniFormat);  // by other means, before the launch
    for (const auto& [key, value] : storedBefore) other.setValue(key, value);
    other.sync();
    store = std::make_unique<QSettings>(storePath, QSettings::IniFormat);
    running.history.clear();
    stopped.history.clear();
    controller = std::make_unique<Controller>(
        ControllerParts{*store, alerts, traced.interpreter(), registry, window, running, stopped});
    return *controller;
  }
  // The ini file's "key=value" lines as they are on disk now.
  std::map<std::string, std::string> onDisk() const {
    QFile file(storePath);
    std::map<std::string, std::string> values;
    for (const QByteArray& line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>{}) {
      qsizetype at = line.indexOf('=');
      if (at > 0) values[line.left(at).toStdString()] = line.mid(at + 1).toStdString();
    }
    return values;
  }
  std::string marks() const { return running.shown() + "/" + stopped.shown(); }
  QString held() const { return QString::fromStdString(line.portPath()); }

  QTemporaryDir dir;
  QString storePath = dir.filePath("Quillmote.ini");
  std::unique_ptr<QSettings> store;
  PseudoTerminal line;
  TracedInterpreter traced;
  ScriptedRegistry registry;
  RecordingAlerts alerts;
  FakePreferencesWindow window;
  RecordingMark running, stopped;
  std::unique_ptr<Controller> controller;
};

TEST_F(ControllerTest, first_launch_is_stopped_and_a_start_without_port_only_alerts) {
  Controller& c = launch();
  EXPECT_EQ(marks(), "off/on");
  running.history.clear();
  stopped.history.clear();
  c.doStop();
  EXPECT_EQ(marks(), "unset/unset") << "a stop while stopped changed the marks";

  int before = descriptorsOn();
  c.doStart();
  EXPECT_EQ(alerts.shown, Strings{"Alert: Quillmote cannot start because the serial port is "
                                  "unspecified. Choose Preferences from the File menu and "
                                  "choose a serial port."});
  EXPECT_EQ(descriptorsOn(), before);
  EXPECT_FALSE(c.running());
  EXPECT_EQ(marks(), "off/on");
}

TEST_F(ControllerTest, start_translates_the_port_and_stop_closes_it) {
  Controller& c = launch({{"serialPortPath", held()}, {"baudRate", 2400}});
  c.doStart();
  EXPECT_EQ(marks(), "on/off");
  EXPECT_EQ(lineSpeed(line), B2400);
  c.doStart();
  EXPECT_EQ(running.history.size(), 2u) << "a start while running set the marks again";
  EXPECT_EQ(descriptorsOn(line.portPath()), 2) << "one open besides the test's own end";

  line.send(bytes("a{NUL}"));
  ASSERT_EQ(line.waitForDeviceBytes(1, kPatience), "\x11") << "the reader thread is not running";
  c.doStop();
  EXPECT_FALSE(c.running());
  EXPECT_EQ(marks(), "off/on");
  EXPECT_EQ(descriptorsOn(line.portPath()), 1);
  EXPECT_EQ(withoutComments(traced.output().str()), "key 0 down\nkey 0 up\n");
  EXPECT_TRUE(alerts.shown.empty());
}

TEST_F(ControllerTest, quit_records_whether_translation_ran_and_the_next_launch_follows) {
  for (bool wasRunning : {true, false}) {
    SCOPED_TRACE(wasRunning ? "quit while running" : "quit while stopped");
    QFile::remove(storePath);
    Controller& c = launch({{"serialPortPath", held()}, {"baudRate", 4800}});
    if (wasRunning) c.doStart();
    c.applicationWillTerminate();
    EXPECT_EQ(onDisk()["wasRunningOnQuit"], wasRunning ? "true" : "false");
    EXPECT_EQ(descriptorsOn(line.portPath()), 1) << "the port was left open";

    Controller& next = launch();
    EXPECT_EQ(next.running(), wasRunning);
    EXPECT_EQ(marks(), wasRunning ? "on/off" : "off/on");
    EXPECT_TRUE(!wasRunning || lineSpeed(line) == B4800) << "restarted at another rate";
    next.doStop();
  }
  EXPECT_TRUE(alerts.shown.empty());
}

TEST_F(ControllerTest, an_open_that_fails_leaves_the_marks_as_they_were) {
  struct {
    const char* path;
    bool wasRunning;  // fails at launch, before any mark is set
    const char* alert;
  } cases[] = {
      {"/dev/null", false,
       "Error setting TIOCEXCL on /dev/null - Inappropriate ioctl for device(25)."},
      {"/dev/quillmote-unplugged", true,
       "Error opening serial port /dev/quillmote-unplugged - No such file or directory(2)."}};
  for (const auto& p : cases) {
    alerts.shown.clear();
    Controller& c = launch({{"serialPortPath", p.path}, {"wasRunningOnQuit", p.wasRunning}});
    if (!p.wasRunning) {
      running.history.clear();
      stopped.history.clear();
      c.doStart();
    }
    EXPECT_EQ(alerts.shown, Strings{internalError(p.alert)});
    EXPECT_FALSE(c.running());
    EXPECT_EQ(marks(), "unset/unset") << p.path;
  }
}

// The pop-up shows the listed ports by display name, with "unspecified" appended when
// the held path is none of them, and OK stores the entry behind the chosen item.
TEST_F(ControllerTest, preferences_show_the_held_port_and_store_the_confirmed_one) {
  struct {
    int storedRate, row;  // rate 0: none stored
    std::optional<std::string> held;
    Strings ports, items;
    int selected, confirmed;                // the item selected at opening, and at OK
    std::optional<std::string> storedPath;  // "serialPortPath" on disk after OK
  } cases[] = {
      // clang-format off
      {0, 0, std::nullopt, {"/dev/tty.usbserial", "/dev/ttyUSB0"},  // a fresh installation
       {"usbserial", "/dev/ttyUSB0", "unspecified"}, 2, 2, std::nullopt},
      {600, 1, "/dev/ttyUSB0", {"/dev/tty.usbserial", "/dev/ttyUSB0"},
       {"usbserial", "/dev/ttyUSB0"}, 1, 0, "/dev/tty.usbserial"},
      {4800, 4, "/dev/ttyUSB7", {"/dev/ttyUSB0"},  // unplugged: the held path becomes /dev/null
       {"/dev/ttyUSB0", "unspecified"}, 1, 1, "/dev/null"},
      {19200, 6, "/dev/cu.a", {"/dev/tty.a", "/dev/cu.a"}, {"a", "a"}, 1, 0, "/dev/tty.a"},
      {300, 0, "/dev/ttyS0", {"/dev/ttyS0", "/dev/ttyS0"},  // the later equal entry is selected
       {"/dev/ttyS0", "/dev/ttyS0"}, 1, 0, "/dev/ttyS0"},
      {9600, 5, std::nullopt, {"/dev/tty.unspecified"},  // a port named like the unspecified item
       {"unspecified", "unspecified"}, 1, 0, std::nullopt},
      // clang-format on
  };
  for (const auto& p : cases) {
    SCOPED_TRACE(testing::PrintToString(p.items));
    QFile::remove(storePath);
    std::map<QString, QVariant> stored;
    if (p.storedRate) stored["baudRate"] = p.storedRate;
    if (p.held) stored["serialPortPath"] = QString::fromStdString(*p.held);
    registry.list(p.ports);
    Controller& c = launch(stored);
    c.openPrefs();
    EXPECT_EQ(window.rateRow, p.row);
    EXPECT_EQ(window.items, p.items);
    EXPECT_EQ(window.selected, p.selected);
    EXPECT_EQ(window.autosaveName, "windowPrefs");

    window.selected = p.confirmed;
    window.rateRow = 6;
    c.prefsOK();
    std::map<std::string, std::string> disk = onDisk();
    EXPECT_EQ(disk["baudRate"], "19200");
    EXPECT_EQ(disk.count("serialPortPath") ? disk["serialPortPath"] : std::optional<std::string>(),
              p.storedPath);
    EXPECT_EQ(c.portPath(), p.storedPath);
  }
  EXPECT_EQ(window.modalRuns, 6);
  EXPECT_EQ(window.closes, 6);
  EXPECT_TRUE(alerts.shown.empty());
}

TEST_F(ControllerTest, an_unlisted_stored_rate_refuses_the_window_but_not_the_start) {
  Controller& c = launch({{"baudRate", 1234}, {"serialPortPath", held()}});
  c.openPrefs();
  EXPECT_EQ(window.modalRuns, 0);
  c.doStart();
  EXPECT_EQ(alerts.shown, (Strings{internalError("Invalid baud rate from user preferences."),
                                   internalError("Error setting tty attributes " + line.portPath() +
                                                 " - Invalid argument(22).")}));
}

TEST_F(ControllerTest, a_failed_registry_probe_keeps_the_previous_port_list) {
  registry.list({"/dev/ttyUSB0"});
  Controller& c = launch();
  c.openPrefs();
  registry.answer = {RegistryFailure::kRegistry, 12, {}};
  c.openPrefs();
  EXPECT_EQ(window.modalRuns, 2);
  EXPECT_EQ(window.items, (Strings{"/dev/ttyUSB0", "unspecified"}));
  EXPECT_EQ(alerts.shown, (Strings{internalError("IOMasterPort returned 12."),
                                   internalError("Unabled to get serial port iterator.")}));
}

// P3 (a rate title that is none of the seven) stores nothing; P4 (no item, or one past
// the list) stores the rate with the path held before. Either way the window closes and
// running translation restarts.
TEST_F(ControllerTest, a_confirm_alert_still_closes_and_restarts) {
  struct {
    const char* title;  // of the selected rate, row 5
    int index;          // of the selected port item
    const char* alert;
    const char* storedRate;
  } cases[] = {{"57600", 0, "Invalid baud rate from Preferences window.", "600"},
               {"9600", 2, "Popup index out of range.", "9600"},
               {"9600", -1, "Popup index out of range.", "9600"}};
  registry.list({"/dev/ttyUSB0"});
  for (const auto& p : cases) {
    alerts.shown.clear();
    Controller& c = launch({{"serialPortPath", held()}, {"baudRate", 600}});
    c.doStart();
    c.openPrefs();
    window.titles[5] = p.title;
    window.rateRow = 5;
    window.selected = p.index;
    running.history.clear();
    c.prefsOK();
    EXPECT_EQ(alerts.shown, Strings{internalError(p.alert)}) << p.index;
    EXPECT_EQ(onDisk(), (std::map<std::string, std::string>{{"baudRate", p.storedRate},
                                                            {"serialPortPath", line.portPath()}}));
    EXPECT_EQ(c.portPath(), line.portPath());
    EXPECT_EQ(running.history, (std::vector<bool>{false, true})) << "no stop and start";
    window.titles[5] = "9600";
  }
  EXPECT_EQ(window.closes, 3);
}

TEST_F(ControllerTest, cancel_changes_neither_the_held_values_nor_the_store) {
  registry.list({"/dev/ttyUSB0", "/dev/ttyUSB1"});
  Controller& c = launch({{"serialPortPath", "/dev/ttyUSB0"}, {"baudRate", 1200}});
  std::map<std::string, std::string> before = onDisk();
  c.openPrefs();
  window.selected = 1;
  window.rateRow = 6;
  c.prefsCancel();
  EXPECT_EQ(window.closes, 1);
  EXPECT_EQ(onDisk(), before);
  EXPECT_EQ(c.rate(), 1200);
  EXPECT_EQ(c.portPath(), "/dev/ttyUSB0");
}

TEST_F(ControllerTest, confirming_while_running_restarts_on_the_new_port_and_rate) {
  PseudoTerminal other;
  registry.list({line.portPath(), other.portPath()});
  Controller& c = launch({{"serialPortPath", held()}, {"baudRate", 9600}});
  c.doStart();
  c.openPrefs();
  window.selected = 1;
  window.rateRow = 2;
  c.prefsOK();
  EXPECT_EQ(onDisk()["serialPortPath"], other.portPath());
  EXPECT_EQ(onDisk()["baudRate"], "1200");
  EXPECT_EQ(descriptorsOn(line.portPath()), 1) << "the old port was not closed";
  EXPECT_EQ(descriptorsOn(other.portPath()), 2);
  EXPECT_EQ(lineSpeed(other), B1200);
  other.send(bytes("{NUL}"));
  EXPECT_EQ(other.waitForDeviceBytes(1, kPatience), "\x11");
  EXPECT_TRUE(alerts.shown.empty());
  c.doStop();  // before `other` goes
}

// Preferences written by other means, or damaged: the controller starts, shows the
// alert the situation has, and never opens the port at a rate it cannot set.
TEST_F(ControllerTest, bad_stored_preferences_start_and_alert_without_crashing) {
  struct {
    const char* name;
    QVariant rate;
    QVariant path;
    Strings alertsAtPrefs;
  } cases[] = {
      {"rate_not_a_number", "fast", held(),
       {internalError("Invalid baud rate from user preferences.")}},
      {"negative_rate", -9600, held(), {internalError("Invalid baud rate from user preferences.")}},
      {"path_not_a_string", 9600, QVariantList{1, 2}, {}},
  };
  for (const auto& p : cases) {
    SCOPED_TRACE(p.name);
    QFile::remove(storePath);
    alerts.shown.clear();
    Controller& c = launch({{"baudRate", p.rate}, {"serialPortPath", p.path},
                            {"wasRunningOnQuit", true}});
    // The launch's start either runs or has shown why it could not.
    EXPECT_TRUE(c.running() || !alerts.shown.empty()) << testing::PrintToString(alerts.shown);
    for (const std::string& alert : alerts.shown) {
      // A rate the line cannot take fails where the settings are applied; a path that is
      // no string is no path at all.
      EXPECT_TRUE(alert.starts_with("Internal Error: Error setting tty attributes") ||
                  alert.starts_with("Alert: Quillmote cannot start because the serial port"))
          << alert;
    }
    alerts.shown.clear();
    c.doStop();
    c.openPrefs();
    EXPECT_EQ(alerts.shown, p.alertsAtPrefs);
  }
}

TEST_F(ControllerTest, corrupt_store_file_reads_as_a_fresh_installation) {
  QFile file(storePath);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const char garbage[] = "\xff\xfe\0\x01[[[\n\x80\x81=\n\0\0=\n]]wasRunning";
  file.write(garbage, sizeof garbage - 1);
  file.close();
  store = std::make_unique<QSettings>(storePath, QSettings::IniFormat);
  Controller c({*store, alerts, traced.interpreter(), registry, window, running, stopped});
  EXPECT_FALSE(c.running());
  c.doStart();
  EXPECT_EQ(c.rate(), 300);
  EXPECT_EQ(alerts.shown.size(), 1u);
  EXPECT_TRUE(alerts.shown.empty() ||
              alerts.shown[0].starts_with("Alert: Quillmote cannot start because the serial"))
      << testing::PrintToString(alerts.shown);
}

}  // namespace
}  // namespace quillmote::test
