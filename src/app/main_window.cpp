// SPDX-License-Identifier: MIT
#include "app/main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include "app/controller.h"
#include "platform/alerts.h"

namespace quillmote {

QString aboutText() {
  return QString(
             "Quillmote %1\n\nLets a device on a serial port act as the computer's "
             "keyboard and mouse.\n\nContact: %2")
      .arg(QUILLMOTE_VERSION, kDeveloperContactAddress);
}

MainWindow::MainWindow()
    : start_(new QAction("&Start", this)),
      stop_(new QAction("S&top", this)),
      preferences_(new QAction("&Preferences…", this)),
      quit_(new QAction("&Quit", this)),
      about_(new QAction("&About Quillmote", this)),
      monitor_(new QAction("&Monitor", this)),
      releaseAll_(new QAction("&Release All", this)),
      status_(new QLabel("Stopped.")),
      port_(new QLabel),
      rate_(new QLabel),
      lastByte_(new QLabel("none yet")),
      startStop_(new QPushButton),
      held_(new QLabel),
      releaseAllButton_(new QPushButton("&Release all")) {
  setWindowTitle("Quillmote");
  setWindowIcon(QIcon(":/quillmote.svg"));
  start_->setCheckable(true);
  stop_->setCheckable(true);
  quit_->setShortcut(QKeySequence::Quit);
  preferences_->setShortcut(QKeySequence::Preferences);
  // The person may be pressing it with Shift stuck down: that chord works too.
  releaseAll_->setShortcuts({QKeySequence("Ctrl+R"), QKeySequence("Ctrl+Shift+R")});

  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(start_);
  file->addAction(stop_);
  file->addAction(releaseAll_);
  file->addSeparator();
  file->addAction(preferences_);
  file->addSeparator();
  file->addAction(quit_);
  monitor_->setCheckable(true);
  monitor_->setEnabled(false);  // until there is a monitor to show
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction(monitor_);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(about_);

  // The status line, the port, the rate, the last byte, and one button that starts or
  // stops as the menu's Start and Stop do.
  status_->setMinimumWidth(360);
  auto* central = new QWidget;
  auto* form = new QFormLayout(central);
  form->setContentsMargins(16, 16, 16, 16);
  form->addRow(status_);
  form->addRow(held_);
  held_->hide();
  form->addRow("Port:", port_);
  form->addRow("Rate:", rate_);
  form->addRow("Last byte:", lastByte_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startStop_);
  buttons->addWidget(releaseAllButton_);
  form->addRow(buttons);
  setCentralWidget(central);
  status_->setAccessibleDescription("Whether translation runs, on which port and at which rate");
  port_->setAccessibleName("Port");
  rate_->setAccessibleName("Rate");
  lastByte_->setAccessibleName("Last byte received");
  startStop_->setText("&Start");
  startStop_->setAccessibleName("Start");
  startStop_->setAccessibleDescription("Starts or stops translating the serial port's bytes");
  held_->setAccessibleDescription("The keys and mouse buttons Quillmote holds down");
  releaseAllButton_->setAccessibleName("Release all");
  releaseAllButton_->setAccessibleDescription(
      "Lets up every key and mouse button Quillmote holds down");
  // Labels take no focus by default; made reachable so a screen-reader user can tab to them.
  for (QLabel* shown : {status_, held_, port_, rate_, lastByte_}) {
    shown->setFocusPolicy(Qt::TabFocus);
    shown->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  }
  setTabOrder(status_, held_);
  setTabOrder(held_, port_);
  setTabOrder(port_, rate_);
  setTabOrder(rate_, lastByte_);
  setTabOrder(lastByte_, startStop_);
  setTabOrder(startStop_, releaseAllButton_);

  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    auto* trayMenu = new QMenu(this);
    trayMenu->addAction(start_);
    trayMenu->addAction(stop_);
    trayMenu->addAction(releaseAll_);
    trayMenu->addAction(preferences_);
    trayMenu->addAction(about_);
    trayMenu->addSeparator();
    trayMenu->addAction(quit_);
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setContextMenu(trayMenu);
    tray_->show();
  }
  connect(quit_, &QAction::triggered, qApp, &QApplication::quit);
  connect(about_, &QAction::triggered, this,
          [this] { QMessageBox::about(this, "About Quillmote", aboutText()); });
}

void MainWindow::connectController(Controller& controller) {
  controller_ = &controller;
  // The button is the menu item that is not checked: Start while stopped, Stop while running.
  connect(startStop_, &QPushButton::clicked, this,
          [this] { (start_->isChecked() ? stop_ : start_)->trigger(); });
  // A menu command only asks; the check marks are the controller's to set, so the
  // toggle Qt made on the click is taken back first.
  connect(start_, &QAction::triggered, this, [this](bool checked) {
    start_->setChecked(!checked);
    controller_->doStart();
    showStatus();
  });
  connect(stop_, &QAction::triggered, this, [this](bool checked) {
    stop_->setChecked(!checked);
    controller_->doStop();
    showStatus();
  });
  connect(releaseAllButton_, &QPushButton::clicked, releaseAll_, &QAction::trigger);
  connect(releaseAll_, &QAction::triggered, this, [this] {
    controller_->releaseAll();
    showStatus();
  });
  connect(preferences_, &QAction::triggered, this, [this] {
    controller_->openPrefs();
    showStatus();
  });
  // A byte came since the last look: its time is now, give or take one look's interval.
  auto* look = new QTimer(this);
  connect(look, &QTimer::timeout, this, [this, seen = controller.bytesReceived()]() mutable {
    if (controller_->bytesReceived() == seen) return;
    seen = controller_->bytesReceived();
    lastByte_->setText(QTime::currentTime().toString("HH:mm:ss"));
  });
  look->start(kLastByteLookMilliseconds);
  showStatus();
}

void MainWindow::setMonitorWindow(QWidget* monitor) {
  monitor_->setEnabled(true);
  connect(monitor_, &QAction::toggled, monitor, &QWidget::setVisible);
  // Closing the monitor by its own close button takes the check mark away too.
  monitor->installEventFilter(this);
  monitorWindow_ = monitor;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == monitorWindow_ &&
      (event->type() == QEvent::Hide || event->type() == QEvent::Show)) {
    monitor_->setChecked(event->type() == QEvent::Show);
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showStatus() {
  if (controller_ == nullptr) return;
  // The status line follows the check marks, which the controller sets.
  const std::optional<std::string> name = controller_->portName();
  const QString port = QString::fromStdString(name.value_or(kUnspecifiedPortTitle));
  QString text;
  if (start_->isChecked()) {
    text = QString("Running: %1 at %2 bit/s").arg(port).arg(controller_->rate());
  } else if (controller_->waitingForDevice()) {
    text = QString("Device gone, waiting for %1").arg(port);
  } else {
    text = QString("Stopped. Port: %1, %2 bit/s").arg(port).arg(controller_->rate());
  }
  if (status_->text() != text) {
    status_->setText(text);
    // The label's name is its text: screen readers announce the change of state.
    QAccessibleEvent changed(status_, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
  }
  if (tray_) tray_->setToolTip("Quillmote: " + text);
  port_->setText(port);
  rate_->setText(QString("%1 bit/s").arg(controller_->rate()));
  bool running = start_->isChecked();
  startStop_->setText(running ? "S&top" : "&Start");
  startStop_->setAccessibleName(running ? "Stop" : "Start");
}

void MainWindow::heldChanged(const HeldSet& held) {
  QString text = QString::fromStdString(heldText(held));
  // The analyzer does not follow Qt's queue, which deletes the call once it has run.
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        if (text.isEmpty()) {
          held_->hide();
          held_->clear();
        } else {
          held_->setText("Held: " + text);
          held_->show();
        }
        // Announced as the status line is: the label's name is its text.
        QAccessibleEvent changed(held_, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
      },
      Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  QApplication::quit();
}

}  // namespace quillmote
