#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <optional>

#include "interpreter/scanner_context.h"
#include "monitor/monitor_record.h"
#include "platform/event_services.h"

namespace quillmote {

// Sits between the interpreter and its event backend and watches the scanner, turning
// bytes, commands and events into records for a sink. Without a sink it only passes the
// events on: one atomic load per byte, token and event, and no record is made. The sink
// may be attached and detached from another thread while translation runs; whoever
// detaches it must keep it alive until the current run ends.
class MonitorTap final : public EventServices, public TokenObserver {
 public:
  explicit MonitorTap(EventServices& events) : events_(events) {}

  void attach(MonitorSink* sink) { sink_.store(sink, std::memory_order_release); }

  // When the last byte arrived, for the main window; nothing before the first byte.
  std::optional<std::chrono::system_clock::time_point> lastByteTime() const;

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition, std::uint32_t buttonCount,
                      bool leftButton, bool rightButton, bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override { return events_.getGlobalMouse(); }

  void byteRequested() override;
  void byteReceived(unsigned char byte) override;
  void tokenDecided(int rule, std::string_view token) override;
  void actionDone(StartCondition) override {}
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
  // Ticks of the system clock at the last byte; 0 before the first. One store per byte.
  std::atomic<std::chrono::system_clock::rep> lastByte_{0};
  // Bytes received and not yet part of a decided token; reader thread only.
  std::uint32_t pending_ = 0;
};

}  // namespace quillmote
