// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "keyboard/us_keyboard.h"

namespace quillmote {

// A name with no key of its own: a modifier alone, or nothing at all.
inline constexpr std::int16_t kNoKey = -1;

// One name of the escape commands: lower-case name, key code (or kNoKey), and zero or
// one modifier flag.
struct EscapeEntry {
  const char* name;
  std::int16_t keyCode;
  std::int16_t flags;
};

inline constexpr std::size_t kEscapeTableSize = 106;
extern const std::array<EscapeEntry, kEscapeTableSize> EscapeTable;

// The key vocabulary of one interpreter: the constant name table and the character
// table, which InitUSKeyCodes fills at every interpreter start.
class KeyTables {
 public:
  // Every entry 0xFFFF, then the 126 characters a US keyboard types.
  void InitUSKeyCodes();

  // Looks `word` (NUL-terminated, not modified) up: names first, ignoring ASCII case;
  // then a one-byte word in the character table, keeping its case. Returns 1 and sets
  // both outputs when recognised; returns 0 and leaves them untouched otherwise (a
  // one-byte word whose character has no entry is not recognised).
  int escape_word(const char* word, std::int32_t& keyCode, std::int32_t& modifierFlags) const;

  // Key code in the low byte, flags (shift, control only) in the high byte.
  std::uint16_t characterEntry(unsigned char byte) const { return USKeyCodes[byte]; }

 private:
  std::array<std::uint16_t, 256> USKeyCodes{};
};

}  // namespace quillmote
