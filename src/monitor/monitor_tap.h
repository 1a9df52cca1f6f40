// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>

#include "interpreter/scanner_context.h"
#include "monitor/monitor_record.h"
#include "platform/event_services.h"

namespace quillmote {

// Sits between the interpreter and its event backend and, made the interpreter's token
// observer, watches the scanner, turning bytes, commands and events into records for a
// sink. Without a sink it only passes the events on, with one atomic load per event; the
// monitor makes it the observer only while it is open, and while it is not, the
// interpreter posts straight to the backend. The sink may be attached and
// detached from another thread while translation runs; whoever detaches it must keep it
// alive until the current run ends.
class MonitorTap final : public EventServices, public TokenObserver {
 public:
  explicit MonitorTap(EventServices& events) : events_(events) {}

  void attach(MonitorSink* sink) { sink_.store(sink, std::memory_order_release); }

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition, std::uint32_t buttonCount,
                      bool leftButton, bool rightButton, bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override { return events_.getGlobalMouse(); }
  EventServices& unwatched() override { return events_.unwatched(); }

  void byteRequested() override;
  void byteReceived(unsigned char byte) override;
  void tokenDecided(int rule, std::string_view token, StartCondition before) override;
  void actionDone(StartCondition after) override;
  void inputEnded() override { handOver(); }

 private:
  // Records are collected here and handed over a batch at a time, which costs the sink's
  // lock once per byte rather than once per record.
  static constexpr std::size_t kBatchSize = 64;

  MonitorSink* sink() const { return sink_.load(std::memory_order_acquire); }
  void keep(const MonitorRecord& record);
  void handOver();

  std::array<MonitorRecord, kBatchSize> batch_;
  std::size_t batched_ = 0;

  EventServices& events_;
  std::atomic<MonitorSink*> sink_{nullptr};
  // Bytes received and not yet part of a decided token; reader thread only.
  std::uint32_t pending_ = 0;
};

}  // namespace quillmote
