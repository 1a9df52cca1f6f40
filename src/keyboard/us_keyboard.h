// SPDX-License-Identifier: MIT
// The US keyboard as the rest of the program sees it: the modifier keys and the character
// each key types. A leaf: the layout code reads it without the keyboard model.
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

// A character-table entry for a byte that no US key types.
inline constexpr std::uint16_t kNoCharacterEntry = 0xFFFF;

// Every byte's character entry: key code in the low byte, flags (shift, control only) in the
// high byte; kNoCharacterEntry for the bytes no US key types. Control characters are
// control chords: 8 is control+H, not backspace.
std::array<std::uint16_t, 256> USCharacterEntries();

}  // namespace quillmote
