#include "monitor/monitor_tap.h"

#include <algorithm>
#include <cstring>

namespace quillmote {

void MonitorTap::postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) {
  events_.postKeyboardEvent(charCode, keyCode, keyDown);
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kKey;
    record.keyCode = keyCode;
    record.down = keyDown;
    to->take(record);
  }
}

void MonitorTap::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                std::uint32_t buttonCount, bool leftButton, bool rightButton,
                                bool thirdButton) {
  events_.postMouseEvent(position, updateMouseCursorPosition, buttonCount, leftButton,
                         rightButton, thirdButton);
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kMouse;
    record.x = position.x;
    record.y = position.y;
    record.update = updateMouseCursorPosition;
    record.buttons = static_cast<std::uint8_t>((leftButton ? 1 : 0) | (rightButton ? 2 : 0) |
                                               (thirdButton ? 4 : 0));
    to->take(record);
  }
}

void MonitorTap::warpMouseCursorPosition(Point position) {
  events_.warpMouseCursorPosition(position);
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kWarp;
    record.x = position.x;
    record.y = position.y;
    to->take(record);
  }
}

void MonitorTap::byteRequested() {
  if (pending_ == 0) return;
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kWaiting;
    record.length = pending_;
    to->take(record);
  }
}

std::optional<std::chrono::system_clock::time_point> MonitorTap::lastByteTime() const {
  std::chrono::system_clock::rep ticks = lastByte_.load(std::memory_order_relaxed);
  if (ticks == 0) return std::nullopt;
  return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(ticks));
}

void MonitorTap::byteReceived(unsigned char byte) {
  ++pending_;
  lastByte_.store(std::chrono::system_clock::now().time_since_epoch().count(),
                  std::memory_order_relaxed);
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kByte;
    record.value = byte;
    to->take(record);
  }
}

void MonitorTap::tokenDecided(int rule, std::string_view token) {
  // Counted whether or not anyone watches, so a sink attached mid-token sees the truth.
  pending_ -= std::min<std::uint32_t>(pending_, static_cast<std::uint32_t>(token.size()));
  if (MonitorSink* to = sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kToken;
    record.value = static_cast<std::uint8_t>(rule);
    record.length = static_cast<std::uint32_t>(token.size());
    std::memcpy(record.text, token.data(),
                std::min<std::size_t>(token.size(), MonitorRecord::kTextSize));
    to->take(record);
  }
}

}  // namespace quillmote
