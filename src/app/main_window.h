// SPDX-License-Identifier: MIT
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <functional>

#include "interpreter/held_set.h"

namespace quillmote {

class Controller;

inline constexpr int kLastByteLookMilliseconds = 250;

// The small main window: whether translation runs, on which port, at which rate, and
// which keys and buttons Quillmote holds down. File: Start, Stop, Release all,
// Preferences…, Quit; Help: About. A tray icon carries the same commands where the
// desktop has a tray. The window only shows and forwards; closing it quits the program.
// As the interpreter's held observer it may be told from the reader thread.
class MainWindow final : public QMainWindow, public HeldObserver {
 public:
  MainWindow();

  // From any thread: the held line shows `held` once the event loop comes to it.
  void heldChanged(const HeldSet& held) override;

  // Wires the commands to `controller`, which must outlive the window's use.
  void connectController(Controller& controller);
  // Shows the state the controller's check marks now carry.
  void showStatus();
  // View > Monitor shows and hides `monitor`, which must outlive the window.
  void setMonitorWindow(QWidget* monitor);

  QAction* startAction() { return start_; }
  QAction* stopAction() { return stop_; }
  QAction* preferencesAction() { return preferences_; }
  QAction* quitAction() { return quit_; }
  QAction* aboutAction() { return about_; }
  QAction* monitorAction() { return monitor_; }
  QAction* releaseAllAction() { return releaseAll_; }
  QPushButton* releaseAllButton() { return releaseAllButton_; }
  // "Held: Shift (locked), Control"; hidden while nothing is held.
  QLabel* heldLine() { return held_; }
  QLabel* statusLine() { return status_; }
  QPushButton* startStopButton() { return startStop_; }
  QLabel* lastByteLabel() { return lastByte_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Controller* controller_ = nullptr;
  QAction* start_;
  QAction* stop_;
  QAction* preferences_;
  QAction* quit_;
  QAction* about_;
  QAction* monitor_;
  QAction* releaseAll_;
  QLabel* status_;
  QLabel* port_;
  QLabel* rate_;
  QLabel* lastByte_;
  QPushButton* startStop_;
  QLabel* held_;
  QPushButton* releaseAllButton_;
  QSystemTrayIcon* tray_ = nullptr;
  QWidget* monitorWindow_ = nullptr;
};

// The About text: name, version, what it does, the contact address.
QString aboutText();

}  // namespace quillmote
