// SPDX-License-Identifier: MIT
#include "app/monitor_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace quillmote {

MonitorWindow::MonitorWindow(MonitorTap& tap, Interpreter& interpreter, QWidget* parent)
    : QWidget(parent, Qt::Window),
      tap_(tap),
      interpreter_(interpreter),
      view_(new QPlainTextEdit),
      pause_(new QPushButton("&Pause")),
      clear_(new QPushButton("&Clear")) {
  setWindowTitle("Quillmote Monitor");
  setAccessibleName("Quillmote Monitor");
  view_->setReadOnly(true);
  view_->setMaximumBlockCount(kKeptLines);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setAccessibleName("Monitor lines");
  view_->setAccessibleDescription(
      "Bytes received, the commands Quillmote took from them, and the events it posted");
  pause_->setCheckable(true);
  pause_->setAccessibleName("Pause");
  pause_->setAccessibleDescription("Holds the lines still; lines that come meanwhile follow");
  clear_->setAccessibleName("Clear");
  clear_->setAccessibleDescription("Empties the monitor");
  view_->setMinimumSize(560, 320);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pause_);
  buttons->addWidget(clear_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_);
  layout->addLayout(buttons);
  setTabOrder(view_, pause_);
  setTabOrder(pause_, clear_);

  connect(clear_, &QPushButton::clicked, this, [this] {
    view_->clear();
    held_.clear();
  });
  connect(pause_, &QPushButton::toggled, this, [this](bool paused) {
    if (paused || held_.isEmpty()) return;
    view_->appendPlainText(held_.join('\n'));
    held_.clear();
  });
  timer_.setInterval(kDrainMilliseconds);
  timer_.callOnTimeout(this, &MonitorWindow::drain);
}

MonitorWindow::~MonitorWindow() {
  interpreter_.setTokenObserver(nullptr);
  tap_.attach(nullptr);
}

void MonitorWindow::showEvent(QShowEvent* event) {
  lines_ = MonitorLines();  // nothing is known of what came while hidden
  tap_.attach(&queue_);
  interpreter_.setTokenObserver(&tap_);
  timer_.start();
  QWidget::showEvent(event);
}

void MonitorWindow::hideEvent(QHideEvent* event) {
  // The queue outlives the window's use: a reader thread that has just loaded it may
  // still store a record, which the next drain throws away with the rest.
  interpreter_.setTokenObserver(nullptr);
  tap_.attach(nullptr);
  timer_.stop();
  QWidget::hideEvent(event);
}

void MonitorWindow::drain() {
  records_.clear();
  std::uint64_t dropped = queue_.drain(records_);
  QStringList shown;
  for (const MonitorRecord& record : records_) {
    words_.clear();
    lines_.add(record, words_);
    for (const std::string& line : words_) shown << QString::fromStdString(line);
  }
  // Only the last lines stay; appending more would only cost time. The gap is told where
  // it is, and stays among the lines kept.
  if (shown.size() >= kKeptLines) shown = shown.mid(shown.size() - kKeptLines + 1);
  if (dropped > 0) {
    shown.prepend(QString("… %1 records dropped: the monitor could not keep up").arg(dropped));
  }
  if (shown.isEmpty()) return;
  if (pause_->isChecked()) {
    held_ << shown;
    if (held_.size() > kKeptLines) held_ = held_.mid(held_.size() - kKeptLines);
    return;
  }
  view_->appendPlainText(shown.join('\n'));
}

}  // namespace quillmote
