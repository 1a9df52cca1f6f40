// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "interpreter/interpreter.h"
#include "monitor/monitor_lines.h"
#include "monitor/monitor_queue.h"
#include "monitor/monitor_tap.h"

namespace quillmote {

// The live monitor: while it is shown, the bytes received, the commands taken and the
// events posted, in the same lines as `quillmote-cli run --echo`. Shown, it attaches a
// bounded queue to the tap, makes the tap the interpreter's observer, and drains the queue a
// few times a second; the reader thread only stores small records, and this window makes
// them into words. Hidden, it takes both away, and the reader thread makes no records. Pause holds
// the view still (lines that come meanwhile are shown on resume); Clear empties it. The last
// kKeptLines lines are kept.
class MonitorWindow final : public QWidget {
 public:
  static constexpr int kKeptLines = 5000;
  static constexpr int kDrainMilliseconds = 50;

  // Both must outlive the window.
  MonitorWindow(MonitorTap& tap, Interpreter& interpreter, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  // Shows what has come since the last look; the timer calls it while shown.
  void drain();

  QPlainTextEdit* view() { return view_; }
  QPushButton* pauseButton() { return pause_; }
  QPushButton* clearButton() { return clear_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  MonitorTap& tap_;
  Interpreter& interpreter_;
  MonitorQueue queue_;
  MonitorLines lines_;
  QTimer timer_;
  std::vector<MonitorRecord> records_;
  std::vector<std::string> words_;
  QStringList held_;  // lines that came while paused
  QPlainTextEdit* view_;
  QPushButton* pause_;
  QPushButton* clear_;
};

}  // namespace quillmote
