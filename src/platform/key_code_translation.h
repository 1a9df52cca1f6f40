// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace quillmote {

// XKB and X11 number each key as its evdev code plus this (codes below 8 are reserved).
inline constexpr std::uint32_t kXkbKeyCodeOffset = 8;

// One physical key of the US layout: the program's virtual key code, the Linux
// evdev code of the same key, and a short name for people reading traces.
struct KeyCodeTranslation {
  std::uint16_t keyCode;
  std::uint16_t evdevCode;
  const char* name;
};

// Every key code that the key name and character tables can produce, in ascending
// key-code order. Read by every backend, so they can never disagree on a key.
std::span<const KeyCodeTranslation> keyCodeTranslations();

// The translation of one key code, or nothing when no table can produce it.
std::optional<KeyCodeTranslation> translateKeyCode(std::uint16_t keyCode);

}  // namespace quillmote
