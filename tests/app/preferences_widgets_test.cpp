// The real widgets on the offscreen platform: the preferences dialog driven by the
// controller through its modal loop, the main window's menus and status line, the alerts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/controller.h"
#include "app/main_window.h"
#include "app/qt_widgets.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

struct TwoPorts final : SerialRegistry {
  RegistryQuery querySerialPorts() override {
    return {RegistryFailure::kNone,
            0,
            {{"", "/dev/tty.usbserial", "", ""}, {"", "/dev/ttyUSB0", "", ""}}};
  }
};

struct NoMark final : CheckMark {
  void setState(bool) override {}
};

class PreferencesWidgets : public ::testing::Test {
 protected:
  Controller& launch(const std::map<QString, QVariant>& stored = {}) {
    for (const auto& [key, value] : stored) store.setValue(key, value);
    controller = std::make_unique<Controller>(
        ControllerParts{store, alerts, traced.interpreter(), registry, dialog, running, stopped});
    dialog.onOK = [this] { controller->prefsOK(); };
    dialog.onCancel = [this] { controller->prefsCancel(); };
    return *controller;
  }
  // Opens the preferences as the menu command does; `user` acts from inside the modal
  // loop. Returns whether it ran; a window left open is closed, so no fault can hang here.
  bool openPrefsWhile(const std::function<void()>& user) {
    bool ran = false;
    QTimer::singleShot(0, &dialog, [&] {
      ran = true;
      EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
      user();
    });
    QTimer::singleShot(10000, &dialog, [this] {
      if (!dialog.isVisible()) return;
      ADD_FAILURE() << "the window stayed open";
      dialog.done(QDialog::Rejected);
    });
    controller->openPrefs();
    return ran;
  }
  QString onDisk() const {
    QFile file(storePath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }
  QPushButton* button(QDialogButtonBox::StandardButton which) {
    return dialog.findChild<QDialogButtonBox*>()->button(which);
  }
  // The port items, then the title of the checked rate.
  QStringList shown() {
    QStringList items;
    for (int i = 0; i < dialog.portPopup()->count(); ++i) items << dialog.portPopup()->itemText(i);
    QAbstractButton* checked = dialog.rateButtons()->checkedButton();
    return items << "selected " + dialog.portPopup()->currentText()
                 << (checked ? checked->text() : "");
  }

  QTemporaryDir dir;
  QString storePath = dir.filePath("Quillmote.ini");
  QSettings store{storePath, QSettings::IniFormat};
  TracedInterpreter traced;
  TwoPorts registry;
  RecordingAlerts alerts;
  PreferencesDialog dialog{store};
  NoMark running, stopped;
  std::unique_ptr<Controller> controller;
};

TEST_F(PreferencesWidgets, fresh_installation_then_a_port_and_rate_confirmed) {
  launch();
  EXPECT_TRUE(openPrefsWhile([&] {
    EXPECT_EQ(shown(), (QStringList{"usbserial", "/dev/ttyUSB0", "unspecified",
                                    "selected unspecified", "300"}));
    // The seven rates, one column of radio buttons from the top.
    for (int row = 0; row < 7; ++row) {
      auto* cell = qobject_cast<QRadioButton*>(dialog.rateButtons()->button(row));
      ASSERT_NE(cell, nullptr) << row;
      EXPECT_EQ(cell->text().toStdString(), kRateTitles[row]);
      EXPECT_EQ(cell->x(), dialog.rateButtons()->button(0)->x()) << row;
      EXPECT_TRUE(row == 0 || cell->y() > dialog.rateButtons()->button(row - 1)->y()) << row;
    }
    dialog.portPopup()->setCurrentIndex(0);
    dialog.rateButtons()->button(5)->click();
    button(QDialogButtonBox::Ok)->click();
  }));
  EXPECT_FALSE(dialog.isVisible());
  QString disk = onDisk();
  EXPECT_TRUE(disk.contains("baudRate=9600\n")) << disk.toStdString();
  EXPECT_TRUE(disk.contains("serialPortPath=/dev/tty.usbserial\n")) << disk.toStdString();
  EXPECT_TRUE(disk.contains("windowPrefs=@ByteArray(")) << "the geometry was not kept";
  EXPECT_TRUE(alerts.shown.empty());
}

TEST_F(PreferencesWidgets, cancel_button_and_escape_change_nothing) {
  Controller& c = launch({{"baudRate", 2400}, {"serialPortPath", "/dev/ttyUSB0"}});
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  for (bool viaEscape : {false, true}) {
    EXPECT_TRUE(openPrefsWhile([&] {
      EXPECT_EQ(shown(),
                (QStringList{"usbserial", "/dev/ttyUSB0", "selected /dev/ttyUSB0", "2400"}));
      dialog.portPopup()->setCurrentIndex(0);
      dialog.rateButtons()->button(6)->click();
      viaEscape ? void(QApplication::sendEvent(&dialog, &escape))
                : button(QDialogButtonBox::Cancel)->click();
    }));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(c.rate(), 2400);
    EXPECT_EQ(c.portPath(), "/dev/ttyUSB0");
    EXPECT_TRUE(onDisk().contains("baudRate=2400\nserialPortPath=/dev/ttyUSB0\n"))
        << onDisk().toStdString();
  }
}

TEST_F(PreferencesWidgets, an_unlisted_stored_rate_never_shows_the_window) {
  launch({{"baudRate", 1234}});
  EXPECT_FALSE(openPrefsWhile([] {}));
  EXPECT_EQ(alerts.shown.size(), 1u);
}

TEST(MainWindowTest, menus_check_marks_and_status_line_follow_the_controller) {
  QTemporaryDir dir;
  QSettings store(dir.filePath("Quillmote.ini"), QSettings::IniFormat);
  PseudoTerminal line;
  store.setValue("serialPortPath", QString::fromStdString(line.portPath()));
  store.setValue("baudRate", 9600);
  TracedInterpreter traced;
  TwoPorts registry;
  RecordingAlerts alerts;
  MainWindow window;
  PreferencesDialog dialog(store, &window);
  ActionCheckMark running(window.startAction(), [&] { window.showStatus(); });
  ActionCheckMark stopped(window.stopAction(), [&] { window.showStatus(); });
  Controller controller({store, alerts, traced.interpreter(), registry, dialog, running, stopped});
  window.connectController(controller);

  QStringList menus;
  for (QAction* menu : window.menuBar()->actions()) {
    menus << menu->text() + ":";
    for (QAction* item : menu->menu()->actions()) menus << item->text();
  }
  EXPECT_EQ(menus, (QStringList{"File:", "Start", "Stop", "", "Preferences…", "", "Quit",
                                "Help:", "About Quillmote"}));

  QString runningText = "Running: " + QString::fromStdString(line.portPath()) + " at 9600 bit/s";
  struct {
    QAction* command;
    bool running;
    QString status;
  } steps[] = {{nullptr, false, "Stopped."},
               {window.startAction(), true, runningText},
               {window.startAction(), true, runningText},  // a second Start keeps its mark
               {window.stopAction(), false, "Stopped."},
               {window.stopAction(), false, "Stopped."}};
  for (const auto& step : steps) {
    if (step.command) step.command->trigger();
    EXPECT_EQ(controller.running(), step.running);
    EXPECT_EQ(window.startAction()->isChecked(), step.running);
    EXPECT_EQ(window.stopAction()->isChecked(), !step.running);
    EXPECT_TRUE(window.statusLine()->text().startsWith(step.status))
        << window.statusLine()->text().toStdString();
  }
  EXPECT_TRUE(alerts.shown.empty());
}

TEST(MessageBoxAlertsTest, are_modal_boxes_with_title_text_and_one_ok) {
  QWidget parent;
  MessageBoxAlerts alerts(&parent);
  const std::string message = "Popup index out of range.";
  for (bool critical : {true, false}) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr) << "no modal box";
      seen = true;
      EXPECT_EQ(box->windowTitle(), critical ? "Internal Error" : "Alert");
      EXPECT_EQ(box->text().toStdString(), critical ? internalErrorText(message) : message);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Ok) << "not one OK button";
      box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->done(0);
    });
    critical ? alerts.criticalAlert(message) : alerts.plainAlert(message);
    EXPECT_TRUE(seen) << critical;
  }
}

}  // namespace
}  // namespace quillmote::test
