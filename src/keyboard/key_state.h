// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/event_services.h"

namespace quillmote {

// Flag bits of a key state word. A non-zero word always has kKeyDown, so the only
// values are 0, 1, 3, 5 and 7.
inline constexpr std::int32_t kKeyDown = 1;
inline constexpr std::int32_t kKeyHeld = 2;
inline constexpr std::int32_t kKeyLocked = 4;

// The keyboard model: one state word per virtual key code, saying whether the program
// has the key down and why. Every operation posts a key event only when the key's down
// status really changes, so the window system never sees a second press of a key that
// is down, nor a release of a key that is up. A key that is down for several reasons
// goes up only when the last one ends. Key codes passed in must be 0 to 255.
class KeyState {
 public:
  explicit KeyState(EventServices& events) : events_(&events) {}

  // Posts from now on to `events`; may be called from another thread while a run is in
  // progress, and the services left must live until the run ends.
  void routeEventsTo(EventServices& events) { events_.store(&events, std::memory_order_release); }

  // Press unless already down.
  void key_press(std::int16_t keyCode) {
    if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
  }
  // Release only a key that is down for no other reason (state exactly 1).
  void key_release(std::int16_t keyCode) {
    if (key_state[keyCode] == kKeyDown) releaseWithEvent(keyCode);
  }
  // Mark held for the next key; press if not down.
  void key_hold(std::int16_t keyCode);
  // Mark locked until release-all; press if not down.
  void key_lock(std::int16_t keyCode);
  // End every hold, ascending key code; release keys nothing else keeps down.
  void key_unhold() {
    if (heldKeys_ != 0) endHolds();
  }
  // End the lock of one key; release it if nothing else keeps it down.
  void key_unlock(std::int16_t keyCode);
  // Release every key at state exactly 1, ascending; held and locked keys stay.
  void key_release_all();
  // Release every key that is down for any reason, ascending.
  void key_unlock_all();

  std::int32_t state(int keyCode) const { return key_state[keyCode]; }

 private:
  // Typing calls these for every byte, so they are inline.
  // The word is written before the event is posted, so the table is right even when
  // the post is lost.
  void pressWithEvent(int keyCode) {
    key_state[keyCode] |= kKeyDown;
    events_.load(std::memory_order_acquire)
        ->postKeyboardEvent(0, static_cast<std::uint16_t>(keyCode), true);
  }
  void releaseWithEvent(int keyCode) {
    key_state[keyCode] = 0;
    events_.load(std::memory_order_acquire)
        ->postKeyboardEvent(0, static_cast<std::uint16_t>(keyCode), false);
  }
  void endHolds();

  // Zero at start; kept across stops and starts of translation.
  std::array<std::int32_t, 256> key_state{};
  // Keys whose held bit is set. The hold sweep runs after every typed byte; with
  // nothing held it has nothing to do, and skipping it is most of typing's cost.
  int heldKeys_ = 0;
  std::atomic<EventServices*> events_;
};

}  // namespace quillmote
