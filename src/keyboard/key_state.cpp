// SPDX-License-Identifier: MIT
#include "keyboard/key_state.h"

namespace quillmote {

void KeyState::key_hold(std::int16_t keyCode) {
  if ((key_state[keyCode] & kKeyHeld) == 0) ++heldKeys_;
  key_state[keyCode] |= kKeyHeld;
  if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
}

void KeyState::key_lock(std::int16_t keyCode) {
  key_state[keyCode] |= kKeyLocked;
  if ((key_state[keyCode] & kKeyDown) == 0) pressWithEvent(keyCode);
}

void KeyState::endHolds() {
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
