// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "keyboard/key_state.h"
#include "keyboard/key_tables.h"

namespace quillmote {

// The seven keyboard actions of the command language. Each looks its key up, changes
// the key state table (which posts the events) and returns; the scanner sets the
// start condition that follows. Tokens are passed as the scanner holds them.
class KeyboardCommands {
 public:
  explicit KeyboardCommands(EventServices& events) : keys(events) {}

  // Fills the character table; run at every interpreter start.
  void InitUSKeyCodes() { tables.InitUSKeyCodes(); }

  // A byte typed with its shift and control chord, then the holds end. A byte that no
  // US key types (13, 127, 128 to 255) posts nothing of its own but still ends the holds.
  void type_character(unsigned char byte);
  // `token` is a name followed by "."; the period is overwritten with a zero.
  void type_named_key(char* token, int length);
  // `token` is "," followed by a name.
  void hold_key(const char* token);
  void lock_key(const char* token);
  void add_key_to_combination(const char* token);
  void end_combination();
  void release_all_keys();

  const KeyState& keyState() const { return keys; }
  KeyState& keyState() { return keys; }

 private:
  template <typename KeyOperation>
  void applyToNamedKey(const char* name, KeyOperation operation);
  void pressModifiers();
  void releaseModifiers();

  KeyState keys;
  KeyTables tables;
  // Key code and modifier flags of the key the current action works on; every
  // action fills them by its own lookup first.
  std::int32_t kc = 0;
  std::int32_t km = 0;
};

}  // namespace quillmote
