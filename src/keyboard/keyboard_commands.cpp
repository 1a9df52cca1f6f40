// SPDX-License-Identifier: MIT
#include "keyboard/keyboard_commands.h"

namespace quillmote {
namespace {

// Named keys, lists and combinations treat the flags in this order both when
// pressing and when releasing.
struct ModifierKey {
  std::int32_t flag;
  std::int16_t keyCode;
};
constexpr ModifierKey kModifierOrder[] = {
    {kShiftFlag, kShiftKey},
    {kControlFlag, kControlKey},
    {kOptionFlag, kOptionKey},
    {kCommandFlag, kCommandKey},
};

}  // namespace

void KeyboardCommands::type_character(unsigned char byte) {
  std::uint16_t entry = tables.characterEntry(byte);
  if (entry != kNoCharacterEntry) {
    kc = entry & 0xFF;
    km = entry & 0xFF00;
    // Only shift and control occur in the character table: shift goes down first
    // and comes up last.
    if (km & kShiftFlag) keys.key_press(kShiftKey);
    if (km & kControlFlag) keys.key_press(kControlKey);
    keys.key_press(static_cast<std::int16_t>(kc));
    keys.key_release(static_cast<std::int16_t>(kc));
    if (km & kControlFlag) keys.key_release(kControlKey);
    if (km & kShiftFlag) keys.key_release(kShiftKey);
  }
  keys.key_unhold();
}

void KeyboardCommands::pressModifiers() {
  for (const ModifierKey& modifier : kModifierOrder) {
    if (km & modifier.flag) keys.key_press(modifier.keyCode);
  }
}

void KeyboardCommands::releaseModifiers() {
  for (const ModifierKey& modifier : kModifierOrder) {
    if (km & modifier.flag) keys.key_release(modifier.keyCode);
  }
}

void KeyboardCommands::type_named_key(char* token, int length) {
  token[length - 1] = '\0';
  if (tables.escape_word(token, kc, km)) {
    pressModifiers();
    if (kc != kNoKey) {
      keys.key_press(static_cast<std::int16_t>(kc));
      keys.key_release(static_cast<std::int16_t>(kc));
    }
    releaseModifiers();
  }
  // Even a name that is not found ends the holds.
  keys.key_unhold();
}

template <typename KeyOperation>
void KeyboardCommands::applyToNamedKey(const char* name, KeyOperation operation) {
  if (!tables.escape_word(name, kc, km)) return;  // unknown names are skipped
  for (const ModifierKey& modifier : kModifierOrder) {
    if (km & modifier.flag) (keys.*operation)(modifier.keyCode);
  }
  if (kc != kNoKey) (keys.*operation)(static_cast<std::int16_t>(kc));
}

void KeyboardCommands::hold_key(const char* token) {
  applyToNamedKey(token + 1, &KeyState::key_hold);
}

void KeyboardCommands::lock_key(const char* token) {
  applyToNamedKey(token + 1, &KeyState::key_lock);
}

void KeyboardCommands::add_key_to_combination(const char* token) {
  applyToNamedKey(token + 1, &KeyState::key_press);
}

void KeyboardCommands::end_combination() {
  keys.key_release_all();
  keys.key_unhold();
}

void KeyboardCommands::release_all_keys() { keys.key_unlock_all(); }

}  // namespace quillmote
