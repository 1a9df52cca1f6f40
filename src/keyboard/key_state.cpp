// SPDX-License-Identifier: MIT
#include "keyboard/key_state.h"

namespace quillmote {

// The word is written before the event is posted, so the table is right even when
// the post is lost.
void KeyState::pressWithEvent(int keyCode) {
  key_state[keyCode] |= kKeyDown;
  events_.postKeyboardEvent(0, static_cast<std::uint16_t>(keyCode), true);
}

void KeyState::releaseWithEvent(int keyCode) {
  key_state[keyCode] = 0;
  events_.postKeyboardEvent(0, static_cast<std::uint16_t>(keyCode), false);
}

void KeyState::key_press(std::int16_t keyCode) {
  if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
}

void KeyState::key_release(std::int16_t keyCode) {
  if (key_state[keyCode] == kKeyDown) releaseWithEvent(keyCode);
}

void KeyState::key_hold(std::int16_t keyCode) {
  if ((key_state[keyCode] & kKeyHeld) == 0) ++heldKeys_;
  key_state[keyCode] |= kKeyHeld;
  if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
}

void KeyState::key_lock(std::int16_t keyCode) {
  key_state[keyCode] |= kKeyLocked;
  if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
}

void KeyState::key_unhold() {
  if (heldKeys_ == 0) return;
  heldKeys_ = 0;
  for (int keyCode = 0; keyCode < static_cast<int>(key_state.size()); ++keyCode) {
    if ((key_state[keyCode] & kKeyHeld) == 0) continue;
    key_state[keyCode] &= ~kKeyHeld;
    if (key_state[keyCode] == kKeyDown) releaseWithEvent(keyCode);
  }
}

void KeyState::key_unlock(std::int16_t keyCode) {
  if ((key_state[keyCode] & kKeyLocked) == 0) return;
  key_state[keyCode] &= ~kKeyLocked;
  if (key_state[keyCode] == kKeyDown) releaseWithEvent(keyCode);
}

void KeyState::key_release_all() {
  for (int keyCode = 0; keyCode < static_cast<int>(key_state.size()); ++keyCode) {
    if (key_state[keyCode] == kKeyDown) releaseWithEvent(keyCode);
  }
}

void KeyState::key_unlock_all() {
  heldKeys_ = 0;
  for (int keyCode = 0; keyCode < static_cast<int>(key_state.size()); ++keyCode) {
    if (key_state[keyCode] != 0) releaseWithEvent(keyCode);
  }
}

}  // namespace quillmote
