// The desktop program when its device is unplugged and plugged in again: the real
// controller and main window over real pseudo-terminals and the trace backend, with
// udev's announcements played by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <deque>
#include <memory>
#include <thread>

#include "app/controller.h"
#include "app/main_window.h"
#include "app/qt_widgets.h"
#include "platform/trace_event_services.h"
#include "support/interpreter_harness.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

using Strings = std::vector<std::string>;
constexpr auto kPatience = std::chrono::seconds(5);

struct ScriptedMonitor final : DeviceMonitor {
  int descriptor() const override { return -1; }
  std::optional<DeviceEvent> nextEvent() override {
    if (events.empty()) return std::nullopt;
    DeviceEvent next = events.front();
    events.pop_front();
    return next;
  }
  std::deque<DeviceEvent> events;
};

struct NoPorts final : SerialRegistry {
  RegistryQuery querySerialPorts() override { return {}; }
};

// The stored port is a link, as /dev/serial/by-id names are; the device behind it is a
// pseudo-terminal whose other end closing is the unplug.
class Reconnect : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setValue("serialPortPath", QString::fromStdString(link));
    store.setValue("baudRate", 9600);
    plugIn();
  }
  void TearDown() override { unlink(link.c_str()); }

  // A new device behind the link, as plugging one in makes a new node.
  void plugIn() {
    device = std::make_unique<PseudoTerminal>();
    unlink(link.c_str());
    ASSERT_EQ(symlink(device->portPath().c_str(), link.c_str()), 0);
  }
  void unplug() {
    device->hangUp();
    unlink(link.c_str());
  }
  void announce(DeviceEvent::Kind kind) { monitor.events.push_back({kind, "/dev/ttyUSB7", {link}}); }

  Controller& launch(DeviceMonitor* announcements) {
    controller = std::make_unique<Controller>(ControllerParts{
        store, alerts, interpreter, registry, dialog, running, stopped, announcements});
    window.connectController(*controller);
    return *controller;
  }
  // Looks the way the controller's timer does, until `done` or the patience is out.
  template <typename Condition>
  bool lookUntil(Condition done) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      controller->lookAtDevice();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  std::string status() { return window.statusLine()->text().toStdString(); }

  QTemporaryDir dir;
  std::string link = dir.filePath("port").toStdString();
  QSettings store{dir.filePath("Quillmote.ini"), QSettings::IniFormat};
  std::unique_ptr<PseudoTerminal> device;
  LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
  Interpreter interpreter{events};
  NoPorts registry;
  RecordingAlerts alerts;
  ScriptedMonitor monitor;
  MainWindow window;
  PreferencesDialog dialog{store, &window};
  ActionCheckMark running{window.startAction(), [this] { window.showStatus(); }};
  ActionCheckMark stopped{window.stopAction(), [this] { window.showStatus(); }};
  std::unique_ptr<Controller> controller;
};

TEST_F(Reconnect, unplug_stops_quietly_lets_keys_up_and_an_announced_return_starts_again) {
  Controller& c = launch(&monitor);
  c.doStart();
  ASSERT_TRUE(c.running());
  device->send(bytes("{ESC},lock,shift."));
  ASSERT_TRUE(trace.waitFor("key 56 down", kPatience)) << trace.text();

  unplug();
  ASSERT_TRUE(lookUntil([&] { return !c.running(); })) << "the hang-up went unnoticed";
  EXPECT_TRUE(c.waitingForDevice());
  EXPECT_EQ(status(), "Device gone, waiting for " + link);
  EXPECT_TRUE(window.stopAction()->isChecked());
  EXPECT_EQ(alerts.shown, Strings{}) << "an unplug reported the failed drain or restore";
  EXPECT_TRUE(trace.waitFor("key 56 up", kPatience)) << "the locked shift stayed down";

  plugIn();
  announce(DeviceEvent::Kind::kAdded);
  c.lookAtDevice();
  ASSERT_TRUE(c.running()) << "an announced return did not start translation at once";
  EXPECT_FALSE(c.waitingForDevice());
  EXPECT_EQ(status(), "Running: " + link + " at 9600 bit/s");
  device->send(bytes("b"));
  EXPECT_TRUE(trace.waitFor("key 11 up", kPatience)) << trace.text();
  EXPECT_EQ(alerts.shown, Strings{});
}

TEST_F(Reconnect, only_a_removal_of_the_running_port_stops_it) {
  Controller& c = launch(&monitor);
  c.doStart();
  monitor.events.push_back({DeviceEvent::Kind::kRemoved, "/dev/ttyACM3", {"/dev/serial/x"}});
  c.lookAtDevice();
  EXPECT_TRUE(c.running()) << "another device's removal stopped translation";

  announce(DeviceEvent::Kind::kRemoved);
  c.lookAtDevice();
  EXPECT_FALSE(c.running());
  EXPECT_TRUE(c.waitingForDevice());
  EXPECT_EQ(alerts.shown, Strings{});
}

// The user's own stop keeps its alerts, and the device coming back then starts nothing.
TEST_F(Reconnect, stop_asked_for_reports_as_always_and_ends_the_wait) {
  Controller& c = launch(&monitor);
  c.doStart();
  device->hangUp();
  c.doStop();  // before any look: the user's stop on a dead line
  EXPECT_EQ(alerts.shown.size(), 2u) << "the drain and restore failures went unreported";
  EXPECT_FALSE(c.waitingForDevice());

  alerts.shown.clear();
  plugIn();
  c.doStart();
  unplug();
  ASSERT_TRUE(lookUntil([&] { return c.waitingForDevice(); }));
  window.stopAction()->trigger();
  EXPECT_FALSE(c.waitingForDevice());
  EXPECT_EQ(status(), "Stopped. Port: " + link + ", 9600 bit/s");
  plugIn();
  announce(DeviceEvent::Kind::kAdded);
  c.lookAtDevice();
  EXPECT_FALSE(c.running()) << "a return after the user's stop started translation";
  EXPECT_EQ(alerts.shown, Strings{});
}

TEST_F(Reconnect, quit_while_waiting_is_recorded_as_running) {
  Controller& c = launch(&monitor);
  c.doStart();
  announce(DeviceEvent::Kind::kRemoved);
  c.lookAtDevice();
  c.applicationWillTerminate();
  EXPECT_TRUE(store.value("wasRunningOnQuit").toBool());
}

// Without udev's announcements the path itself shows the return, once it has settled.
TEST_F(Reconnect, without_announcements_the_path_coming_back_starts_again) {
  Controller& c = launch(nullptr);
  c.doStart();
  unplug();
  ASSERT_TRUE(lookUntil([&] { return c.waitingForDevice(); }));
  plugIn();
  EXPECT_TRUE(lookUntil([&] { return c.running(); })) << "the return went unnoticed";
  EXPECT_EQ(alerts.shown, Strings{});
}

// A returned path that cannot be opened is reported once, not at every look.
TEST_F(Reconnect, a_return_that_fails_to_start_is_tried_once) {
  Controller& c = launch(&monitor);
  c.doStart();
  unplug();
  ASSERT_TRUE(lookUntil([&] { return c.waitingForDevice(); }));
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // not a terminal: the open fails
  announce(DeviceEvent::Kind::kAdded);
  for (int look = 0; look < 10; ++look) c.lookAtDevice();
  EXPECT_FALSE(c.running());
  EXPECT_TRUE(c.waitingForDevice()) << "a failed start ended the wait for the device";
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_NE(alerts.shown[0].find("Error setting TIOCEXCL on " + link), std::string::npos)
      << alerts.shown[0];
}

}  // namespace
}  // namespace quillmote::test
