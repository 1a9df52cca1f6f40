// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace quillmote {

// Modifier flags, in the high byte of a 16-bit value, and the key that realises each.
inline constexpr std::int32_t kShiftFlag = 0x100;
inline constexpr std::int32_t kControlFlag = 0x200;
inline constexpr std::int32_t kCommandFlag = 0x400;
inline constexpr std::int32_t kOptionFlag = 0x800;
inline constexpr std::int16_t kShiftKey = 56;
inline constexpr std::int16_t kControlKey = 59;
inline constexpr std::int16_t kCommandKey = 55;
inline constexpr std::int16_t kOptionKey = 58;

// A name with no key of its own: a modifier alone, or nothing at all.
inline constexpr std::int16_t kNoKey = -1;
// A character-table entry for a byte that no US key types.
inline constexpr std::uint16_t kNoCharacterEntry = 0xFFFF;

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
  int escape_word(const char* word, std::int32_t& keyCode,
                  std::int32_t& modifierFlags) const;

  // Key code in the low byte, flags (shift, control only) in the high byte.
  std::uint16_t characterEntry(unsigned char byte) const { return USKeyCodes[byte]; }

 private:
  std::array<std::uint16_t, 256> USKeyCodes{};
};

}  // namespace quillmote
