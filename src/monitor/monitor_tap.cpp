// SPDX-License-Identifier: MIT
#include "monitor/monitor_tap.h"

#include <algorithm>
#include <cstring>

namespace quillmote {

void MonitorTap::postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) {
  events_.postKeyboardEvent(charCode, keyCode, keyDown);
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kKey;
    record.keyCode = keyCode;
    record.down = keyDown;
    keep(record);
  }
}

void MonitorTap::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                std::uint32_t buttonCount, bool leftButton, bool rightButton,
                                bool thirdButton) {
  events_.postMouseEvent(position, updateMouseCursorPosition, buttonCount, leftButton, rightButton,
                         thirdButton);
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kMouse;
    record.x = position.x;
    record.y = position.y;
    record.update = updateMouseCursorPosition;
    record.buttons = static_cast<std::uint8_t>((leftButton ? 1 : 0) | (rightButton ? 2 : 0) |
                                               (thirdButton ? 4 : 0));
    keep(record);
  }
}

void MonitorTap::warpMouseCursorPosition(Point position) {
  events_.warpMouseCursorPosition(position);
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kWarp;
    record.x = position.x;
    record.y = position.y;
    keep(record);
  }
}

void MonitorTap::keep(const MonitorRecord& record) {
  batch_[batched_++] = record;
  if (batched_ == kBatchSize) handOver();
}

void MonitorTap::handOver() {
  // A sink detached meanwhile gets nothing; the batch goes with it.
  if (MonitorSink* to = sink(); to && batched_ > 0) to->take(batch_.data(), batched_);
  batched_ = 0;
}

void MonitorTap::byteRequested() {
  if (pending_ > 0 && sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kWaiting;
    record.length = pending_;
    keep(record);
  }
  // The interpreter may wait now: everything it did so far is shown.
  if (batched_ > 0) handOver();
}

void MonitorTap::byteReceived(unsigned char byte) {
  ++pending_;
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kByte;
    record.value = byte;
    keep(record);
  }
}

void MonitorTap::tokenDecided(int, std::string_view token, StartCondition before) {
  // Counted whether or not anyone watches, so a sink attached mid-token sees the truth.
  pending_ -= std::min<std::uint32_t>(pending_, static_cast<std::uint32_t>(token.size()));
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kToken;
    record.value = static_cast<std::uint8_t>(before);
    record.length = static_cast<std::uint32_t>(token.size());
    std::memcpy(record.text, token.data(),
                std::min<std::size_t>(token.size(), MonitorRecord::kTextSize));
    keep(record);
  }
}

void MonitorTap::actionDone(StartCondition after) {
  if (sink()) {
    MonitorRecord record;
    record.kind = MonitorRecord::Kind::kActionDone;
    record.value = static_cast<std::uint8_t>(after);
    keep(record);
  }
}

}  // namespace quillmote
