// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/event_services.h"

namespace quillmote {

// What the armed mouse command does.
enum class MouseClick { kRelease, kLock, kClick, kDoubleClick };
// Which button it acts on.
inline constexpr std::int32_t kLeftAndRightButtons = -1;
inline constexpr std::int32_t kLeftButton = 0;
inline constexpr std::int32_t kRightButton = 1;

// The mouse model: the pointer position last worked with, three button states and
// the armed command. Nothing here is reset by a stop: a locked button stays down.
class MouseState {
 public:
  explicit MouseState(EventServices& events) : events_(&events) {}

  // Posts from now on to `events`; may be called from another thread while a run is in
  // progress, and the services left must live until the run ends.
  void routeEventsTo(EventServices& events) { events_.store(&events, std::memory_order_release); }

  // The pointer's real position, read once; not stored.
  Point mouse_position();
  // Announces the button states at MousePos without moving the pointer.
  void mouse_post();
  // Moves the pointer to MousePos by a posted event that carries the button states (a
  // drag when one is down). MousePos becomes where the platform really put it.
  void mouse_warp();

  Point MousePos{};
  // Left, right, third; 1 = down. The third is never set down.
  std::array<std::int32_t, 3> MBState{};
  std::int32_t mouse_button = 0;
  MouseClick mouse_click = MouseClick::kLock;

 private:
  EventServices& events() const { return *events_.load(std::memory_order_acquire); }

  std::atomic<EventServices*> events_;
};

}  // namespace quillmote
