// SPDX-License-Identifier: MIT
// The desktop program: the controller without widgets, its widgets, the program's quit on a signal.
#include <gtest/gtest.h>
#include <termios.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <set>

#include "app/action_check_mark.h"
#include "app/controller.h"
#include "app/main_window.h"
#include "app/message_box_alerts.h"
#include "app/monitor_window.h"
#include "app/preferences_dialog.h"
#include "platform/trace_event_services.h"
#include "support/child_process.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"
#include "support/scripted_devices.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;

// The port list and the device announcements, as the test sets them; check marks unseen.
struct Scripted final : ScriptedDevices, CheckMark {
  void setState(bool) override {}
};

// Does `act` while `user` acts on the modal window it shows, if any.
void whileModal(const std::function<void()>& act, const std::function<void(QWidget*)>& user) {
  QTimer guard;  // closes what a failed check left open, which would block the test
  QTimer::singleShot(0, &guard, [&] { user(qApp->activeModalWidget()); });
  guard.callOnTimeout([] {
    if (auto* w = qApp->activeModalWidget()) w->close();
  });
  guard.start(3000);
  act();
}

// With QUILLMOTE_SCREENSHOT_DIR set, windows as the tests show them become the guide's pictures,
// the test's own port shown under the name a person would see.
void screenshot(QWidget* shown, const QString& name, const QString& testPort = {}) {
  QString dir = qEnvironmentVariable("QUILLMOTE_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  auto rename = [shown](const QString& from, const QString& to) {
    for (auto* label : shown->findChildren<QLabel*>()) {
      label->setText(label->text().replace(from, to));
    }
    for (auto* popup : shown->findChildren<QComboBox*>()) {
      for (int i = 0; i < popup->count(); ++i) {
        popup->setItemText(i, popup->itemText(i).replace(from, to));
      }
    }
  };
  const QString seen = "/dev/ttyUSB0";
  if (!testPort.isEmpty()) rename(testPort, seen);
  EXPECT_TRUE(shown->grab().save(dir + "/" + name + ".png")) << dir.toStdString();
  if (!testPort.isEmpty()) rename(seen, testPort);
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { plugIn(); }
  // The store file as the program finds it, written by other means.
  void writeStore(const QVariantMap& stored) {
    QSettings other(storePath, QSettings::IniFormat);
    other.clear();
    for (auto [key, value] : stored.asKeyValueRange()) other.setValue(key, value);
  }
  // A new controller on the store file as it is, or as `stored` makes it.
  Controller& launch(std::optional<QVariantMap> stored = std::nullopt) {
    controller.reset();
    if (stored) writeStore(*stored);
    controller = std::make_unique<Controller>(
        ControllerParts{settings, alerts, interpreter, scripted, dialog, scripted, scripted,
                        &scripted, [this](bool on) { keyPositionsUsed.push_back(on); },
                        [this](bool on) { relativePointerUsed.push_back(on); }});
    return *controller;
  }
  // Plugs a new device in: a new pseudo-terminal behind the link, as by-id names are links.
  void plugIn() {
    device = std::make_unique<PseudoTerminal>();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(device->portPath(), link);
  }
  // An announcement about the device behind the link, or `path`, and the look it wakes.
  void announce(DeviceEvent::Kind kind, const std::string& path = "") {
    scripted.events.push_back({kind, "/dev/ttyUSB7", {path.empty() ? link : path}});
    controller->lookAtDevice();
  }
  // The alerts since the last look, in order, each holding its fragment.
  void expectAlerts(const std::vector<std::string>& fragments) {
    EXPECT_TRUE(std::ranges::equal(alerts.shown, fragments, [](auto& alert, auto& fragment) {
      return alert.find(fragment) != std::string::npos;
    })) << testing::PrintToString(alerts.shown);
    alerts.shown.clear();
  }

  QTemporaryDir dir;
  QString storePath = dir.filePath("Quillmote/Quillmote.conf");  // under XDG_CONFIG_HOME
  QString port = dir.filePath("port");
  std::string link = port.toStdString();
  QVariantMap onLink{{"serialPortPath", port}, {"baudRate", 2400}, {"wasRunningOnQuit", true}};
  QSettings settings{storePath, QSettings::IniFormat};
  PreferencesDialog dialog{settings};
  std::unique_ptr<PseudoTerminal> device;
  LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
  MonitorTap tap{events};
  Interpreter interpreter{tap};
  Scripted scripted;
  RecordingAlerts alerts;
  std::vector<bool> keyPositionsUsed, relativePointerUsed;  // what each start told the backend
  std::unique_ptr<Controller> controller;
};

TEST_F(AppTest, each_kind_of_stored_preferences_has_its_one_outcome) {
  struct {
    QVariantMap stored;              // each with the flag of a quit while running
    std::vector<std::string> shown;  // at the launch, then when the preferences open
  } cases[] = {
      {{{"baudRate", "fast"}, {"serialPortPath", port}}, {"attributes " + link, "user prefer"}},
      {{{"serialPortPath", QVariantList{1, 2}}}, {"Alert: Quillmote cannot start"}},
  };
  for (auto& p : cases) {
    p.stored["wasRunningOnQuit"] = true;
    EXPECT_FALSE(launch(p.stored).running());
    whileModal([&] { controller->openPrefs(); },
               [](QWidget* shown) {
                 if (shown) shown->close();
               });
    expectAlerts(p.shown);
  }
}

TEST_F(AppTest, key_positions_and_relative_pointer_are_stored_choices_that_older_stores_lack) {
  scripted.ports = {{"", link, "", ""}};
  launch(onLink);
  whileModal([&] { controller->openPrefs(); },
             [&](QWidget*) {
               EXPECT_FALSE(dialog.keyPositionsBox()->isChecked());
               EXPECT_FALSE(dialog.relativePointerBox()->isChecked());
               dialog.keyPositionsBox()->setChecked(true);
               dialog.relativePointerBox()->setChecked(true);
               controller->prefsOK();
             });
  EXPECT_EQ(keyPositionsUsed, (std::vector<bool>{false, true})) << "not restarted on the choice";
  EXPECT_EQ(relativePointerUsed, (std::vector<bool>{false, true}));
  QSettings stored(storePath, QSettings::IniFormat);
  EXPECT_EQ(stored.value("keyPositions"), true);
  EXPECT_EQ(stored.value("relativePointer"), true);
}

// A port is listed by its device's name and tty and stored by its by-id path; the tty path
// that older settings hold still selects its port.
TEST_F(AppTest, ports_listed_by_name_stored_by_id_and_an_older_tty_path_still_found) {
  scripted.ports = {
      {"ttyS0", "/dev/ttyS0", "/dev/ttyS0", "", ""},
      {"ttyUSB0", "/dev/serial/by-id/usb-FTDI_A1", "/dev/ttyUSB0", "FT232R USB UART", "A1"}};
  launch({{{"serialPortPath", "/dev/ttyUSB0"}}});
  whileModal([&] { controller->openPrefs(); },
             [&](QWidget*) {
               QStringList titles;
               for (int i = 0; i < dialog.portPopup()->count(); ++i)
                 titles << dialog.portPopup()->itemText(i);
               EXPECT_EQ(titles, (QStringList{"/dev/ttyS0", "FT232R USB UART (ttyUSB0)"}));
               EXPECT_EQ(dialog.portPopup()->currentIndex(), 1)
                   << "the older settings' port not found";
               controller->prefsOK();
             });
  EXPECT_EQ(settings.value("serialPortPath").toString(), "/dev/serial/by-id/usb-FTDI_A1");
}

TEST_F(AppTest, unplug_stops_quietly_lets_keys_up_and_a_return_starts_again) {
  launch(onLink);
  announce(DeviceEvent::Kind::kRemoved, "/dev/serial/by-id/other");  // not this device's
  device->send(bytes("{ESC},lock,shift."));
  ASSERT_TRUE(trace.waitFor("key 56 down", 5s)) << trace.text();
  device->hangUp();
  std::filesystem::remove(link);
  EXPECT_TRUE(QTest::qWaitFor([&] { return trace.waitFor("key 56 up", 0s); })) << trace.text();
  expectAlerts({});  // the drain and restore fail on a gone device, and need no telling
  // A return that fails is reported once, not at every look; the path alone shows a return.
  std::filesystem::create_symlink("/dev/null", link);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.shown.empty(); })) << "no look while waiting";
  for (int look = 0; look < 5; ++look) controller->lookAtDevice();
  expectAlerts({"TIOCEXCL on " + link});
  plugIn();
  announce(DeviceEvent::Kind::kAdded);
  ASSERT_TRUE(controller->running()) << "an announced return did not start translation at once";
  device->send(bytes("b"));
  EXPECT_TRUE(trace.waitFor("key 11 up", 5s)) << trace.text();
  announce(DeviceEvent::Kind::kRemoved);
  EXPECT_TRUE(controller->waitingForDevice()) << "an announced removal went unheeded";
  controller->applicationWillTerminate();
  EXPECT_TRUE(launch().running()) << "a quit while waiting was recorded as stopped";
  announce(DeviceEvent::Kind::kRemoved);
  controller->doStop();  // the user's stop ends the wait too
  controller->applicationWillTerminate();
  EXPECT_FALSE(launch().running()) << "a quit after a stop was recorded as running";
}

TEST_F(AppTest, the_window_shows_what_the_controller_does_and_passes_it_the_commands) {
  scripted.ports = {{"", "/dev/tty.usbserial", "", ""}, {"ttyUSB0", link, "", "FT232R USB UART"}};
  const QString name = "FT232R USB UART (ttyUSB0)";  // the status line's, not the stored path
  MainWindow window;
  MessageBoxAlerts boxes(&window);
  ActionCheckMark on(window.startAction(), [&] { window.showStatus(); });
  ActionCheckMark off(window.stopAction(), [&] { window.showStatus(); });
  Controller c({settings, boxes, interpreter, scripted, dialog, on, off, nullptr, {}, {}});
  dialog.onOK = [&] { c.prefsOK(); };
  dialog.onCancel = [&] { c.prefsCancel(); };
  window.connectController(c);
  interpreter.setHeldObserver(&window);
  window.show();
  // The check marks of Start and Stop, then the status line, as shown.
  auto expectShown = [&](const QString& start) {
    QString shown = QString::number(window.startAction()->isChecked()) +
                    QString::number(window.stopAction()->isChecked()) + " " +
                    (window.statusLine()->isVisible() ? window.statusLine()->text() : "");
    EXPECT_TRUE(shown.startsWith(start)) << shown.toStdString();
  };
  expectShown("01 Stopped. Port: unspecified, 300 ");
  QString alert;
  whileModal([&] { window.startAction()->trigger(); },
             [&](QWidget* modal) {
               auto* box = qobject_cast<QMessageBox*>(modal);
               ASSERT_TRUE(box && box->buttons().size() == 1) << "not a box with one button";
               alert = box->windowTitle() + ": " + box->text().left(22);
               box->buttons()[0]->click();
             });
  EXPECT_EQ(alert, "Alert: Quillmote cannot start");
  // The user picks the port behind the link and a rate, and leaves by `button`.
  auto choose = [&](int rateRow, QDialogButtonBox::StandardButton button) {
    whileModal([&] { window.preferencesAction()->trigger(); },
               [&](QWidget*) {
                 dialog.portPopup()->setCurrentIndex(1);
                 dialog.rateButtons()->button(rateRow)->click();
                 screenshot(&dialog, "preferences", port);
                 auto* buttons = dialog.findChild<QDialogButtonBox*>();
                 ASSERT_TRUE(buttons && buttons->isVisible()) << "no buttons shown";
                 buttons->button(button)->click();
               });
  };
  choose(3, QDialogButtonBox::Cancel);  // like the failed start, changes nothing
  expectShown("01 Stopped. Port: unspecified, 300 ");
  choose(3, QDialogButtonBox::Ok);
  ASSERT_EQ(settings.value("serialPortPath").toString(), port);
  for (int twice = 0; twice < 2; ++twice) window.startAction()->trigger();
  expectShown("10 Running: " + name + " at 2400 ");
  choose(9, QDialogButtonBox::Ok);  // while running: translation restarts at 115200
  termios line{};  // the program's settings while it holds the line, restored at its close
  tcgetattr(device->portFd(), &line);
  EXPECT_EQ(cfgetospeed(&line), B115200);
  device->send("a");  // the last byte's time is shown; the button stops as Stop does
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.lastByteLabel()->text().contains(':'); }));
  EXPECT_EQ(window.startStopButton()->text(), "S&top");
  screenshot(&window, "main-window", port);
  // What the device holds is shown as it changes; Release all lets it up exactly as the
  // commands ,rel. and ,mourel. would, while translation goes on.
  const std::string holding = "{ESC},lock,shift.{ESC},combine,ctrl,{ESC},moulock.";
  device->send(bytes(holding));
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return window.heldLine()->text() == "Held: Shift (locked), Control, left button";
  })) << window.heldLine()->text().toStdString();
  window.releaseAllButton()->click();
  std::ostringstream traced;
  TraceEventServices traceTool(traced, ScreenSize{}, GlobalMousePoint{});
  Interpreter traceToolInterpreter(traceTool);
  const std::string stream = bytes(holding + "{ESC},rel.{ESC},mourel.");
  MemoryByteSource released(stream);
  traceToolInterpreter.do_quillmote(released);
  EXPECT_TRUE(trace.text().ends_with(withoutComments(traced.str()))) << trace.text();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.heldLine()->isHidden(); }));
  // A command the device is halfway through when Release all comes goes on as a command.
  const std::uint64_t read = c.bytesReceived();
  device->send(bytes("{ESC},ent"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return c.bytesReceived() == read + 5; }));
  window.releaseAllButton()->click();
  device->send("er.");
  EXPECT_TRUE(trace.waitFor("key 36 up", 5s)) << "the rest was not the same command";
  device->send("b");
  EXPECT_TRUE(trace.waitFor("key 11 up", 5s)) << "translation did not go on";
  window.startStopButton()->click();
  expectShown("01 Stopped. Port: " + name + ", 115200 ");
  EXPECT_EQ(window.startStopButton()->text(), "&Start");
}

// The monitor shows the trace tool's lines for a recorded stream among its own. A flood it
// cannot keep up with (this thread does not drain it while it sends) holds the reader thread
// up in nothing: the stop comes at the feed's next look, and the monitor tells what it dropped.
TEST_F(AppTest, monitor_shows_the_trace_tools_lines_and_a_flood_never_holds_the_reader_up) {
  MonitorWindow monitor(tap, interpreter);
  MainWindow window;
  window.setMonitorWindow(&monitor);
  window.monitorAction()->trigger();  // View > Monitor
  const std::string stream = bytes("{ESC},hold,shift.a{ESC},move,10,-5.{CR}{ESC}enter.");
  std::ostringstream traced;
  TraceEventServices traceTool(traced, ScreenSize{}, GlobalMousePoint{});
  Interpreter traceToolInterpreter(traceTool);
  for (Interpreter* run : {&interpreter, &traceToolInterpreter}) {
    MemoryByteSource recorded(stream);
    run->do_quillmote(recorded);
  }
  monitor.drain();
  QStringList lines = monitor.view()->toPlainText().split('\n');
  EXPECT_EQ(lines.filter(QRegularExpression("^(key|mouse|warp) ")).join('\n').toStdString() + '\n',
            traced.str());
  EXPECT_TRUE(lines.contains("command 0x0D  (typed nothing: no key types it)"));
  screenshot(&monitor, "monitor");
  // Paused, the lines that come wait; let go, they follow.
  monitor.pauseButton()->click();
  MemoryByteSource typed("b");
  interpreter.do_quillmote(typed);
  monitor.drain();
  EXPECT_FALSE(monitor.view()->toPlainText().contains("byte b")) << "shown while paused";
  monitor.pauseButton()->click();
  EXPECT_TRUE(monitor.view()->toPlainText().contains("byte b")) << "lost in the pause";
  launch(onLink);
  device->send(std::string(50000, 'a') + bytes("{ESC}enter."));
  ASSERT_TRUE(trace.waitFor("key 36 up", 30s)) << "the reader thread was held up";
  auto asked = std::chrono::steady_clock::now();
  controller->doStop();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s)
      << "one slice is 0.1 s; the rest is margin";
  monitor.close();  // the words are what counts here: Qt's painting of them is not watched
  EXPECT_FALSE(window.monitorAction()->isChecked()) << "closed by its own button, still checked";
  monitor.drain();
  EXPECT_TRUE(monitor.view()->toPlainText().contains("records dropped"));
  EXPECT_LE(monitor.view()->blockCount(), MonitorWindow::kKeptLines);
}

// Each window as a screen reader walks it: every control named, every one that takes input
// in the window's tab order; every menu and item with a mnemonic; OK is the default.
TEST_F(AppTest, every_control_is_named_and_in_the_tab_order_and_every_menu_item_has_a_mnemonic) {
  MainWindow window;
  window.heldChanged({{{kShiftKey, true}}, {}});  // the held line is shown
  MonitorWindow monitor(tap, interpreter);
  const std::set<QAccessible::Role> takesInput{QAccessible::PushButton, QAccessible::RadioButton,
                                               QAccessible::ComboBox, QAccessible::EditableText,
                                               QAccessible::CheckBox};
  for (QWidget* shown : std::initializer_list<QWidget*>{&window, &dialog, &monitor}) {
    shown->show();
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(shown)->text(QAccessible::Name).isEmpty());
    std::set<QObject*> tabOrder;
    for (QWidget* w = shown->nextInFocusChain(); w != shown; w = w->nextInFocusChain()) {
      if (w->focusPolicy() & Qt::TabFocus) tabOrder.insert(w);
    }
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
      for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        QString what = child->object() ? child->object()->metaObject()->className() : "?";
        bool control = takesInput.contains(child->role()) ||
                       child->role() == QAccessible::MenuItem ||
                       child->role() == QAccessible::StaticText;
        if (control && !child->state().invisible) {
          EXPECT_FALSE(child->text(QAccessible::Name).isEmpty())
              << what.toStdString() << " unnamed";
        }
        if (takesInput.contains(child->role()) && child->object()->isWidgetType()) {
          EXPECT_TRUE(tabOrder.contains(child->object()))
              << child->text(QAccessible::Name).toStdString();
        }
        walk(child);
      }
    };
    walk(QAccessible::queryAccessibleInterface(shown));
    shown->hide();
  }
  for (QAction* menu : window.menuBar()->actions()) {
    EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();
    for (QAction* item : menu->menu()->actions()) {
      EXPECT_TRUE(item->isSeparator() || item->text().contains('&')) << item->text().toStdString();
    }
  }
  EXPECT_TRUE(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isDefault());
}

TEST_F(AppTest, a_signal_quits_the_program_which_stops_translation_records_it_and_lets_keys_up) {
  for (int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(stopSignal));
    writeStore(onLink);
    ChildProcess program({QUILLMOTE_PROGRAM}, {"XDG_CONFIG_HOME=" + dir.path().toStdString(),
                                               "QUILLMOTE_BACKEND=trace"});
    // Shift is locked once the zero byte is answered; then only the quit can record it.
    device->send(bytes("{ESC},lock,shift.{NUL}"));
    ASSERT_EQ(device->waitForDeviceBytes(1, 10s), "\x11") << program.errorOutput();
    QSettings(storePath, QSettings::IniFormat).setValue("wasRunningOnQuit", false);
    ASSERT_TRUE(program.sendSignal(stopSignal));
    EXPECT_EQ(program.waitForExit(10s), "exit 0") << program.errorOutput();
    EXPECT_TRUE(QSettings(storePath, QSettings::IniFormat).value("wasRunningOnQuit").toBool());
    EXPECT_EQ(withoutComments(program.output()), "key 56 down\nkey 56 up\n");
  }
}

}  // namespace
}  // namespace quillmote::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");  // for the program the tests start, too
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
