// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

struct xkb_keymap;

namespace quillmote {

// One key press on the active layout: an XKB key code (the evdev code plus 8) and the
// level modifiers that must be down while it goes down.
struct KeyChord {
  std::uint32_t keyCode = 0;
  bool shift = false;
  bool level3 = false;
};

// How a press of one US-keyboard position, with or without shift, types the same symbol.
struct PositionTyping {
  enum class Kind {
    kAsIs,       // the position itself gives that symbol here, or it carries no symbol
    kChord,      // another key, or other modifiers, give it
    kNotOnKeys,  // no key of this layout gives it
  };
  Kind kind = Kind::kAsIs;
  KeyChord chord;                   // kChord
  std::uint32_t keysym = 0;         // kNotOnKeys: the symbol wanted
  std::optional<KeyChord> deadKey;  // kNotOnKeys: a dead key that gives it before a space
};

// What every symbol position of a US keyboard becomes on one layout (group) of a keymap,
// worked out once so that typing costs a table look-up per key.
class LayoutTable {
 public:
  // For layout `layout` of `keymap` (wrapped onto keys that have fewer layouts, as XKB
  // does). `name` is how people are told about it.
  LayoutTable(xkb_keymap* keymap, std::uint32_t layout, std::string name);

  // For a program key code (a US position) and whether shift is down.
  const PositionTyping& typing(std::uint16_t keyCode, bool shifted) const;

  // Whether the layout has the 26 Latin letters, which shortcuts are matched against.
  bool hasLatinLetters() const { return hasLatinLetters_; }
  // The key that selects level three (AltGr), 0 when the layout has none.
  std::uint32_t level3KeyCode() const { return level3KeyCode_; }
  const std::string& name() const { return name_; }
  // The printable ASCII characters that no key of the layout types, in byte order, and
  // those of them that a dead key followed by a space gives.
  std::string charactersNotOnKeys() const;
  std::string charactersThroughDeadKeys() const;
  // Every XKB key code a press may use besides the US positions themselves.
  std::set<std::uint32_t> keyCodesUsed() const;

 private:
  std::array<std::array<PositionTyping, 2>, 128> typings_{};
  bool hasLatinLetters_ = false;
  std::uint32_t level3KeyCode_ = 0;
  std::string name_;
};

}  // namespace quillmote
