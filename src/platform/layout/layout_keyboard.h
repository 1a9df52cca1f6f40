// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/layout/layout_table.h"

namespace quillmote {

// Where the key transitions of a LayoutKeyboard go: a backend's real keys.
class KeySink {
 public:
  virtual ~KeySink() = default;
  // One transition of an XKB key code (the evdev code plus 8).
  virtual void sendKey(std::uint32_t keyCode, bool down) = 0;
  // A key code that types `keysym` alone whatever the shift state, lent for as long as the
  // sink likes; nothing when the platform cannot lend one.
  virtual std::optional<std::uint32_t> lendKeyCode(std::uint32_t /*keysym*/) {
    return std::nullopt;
  }
};

// Turns the program's key transitions (US positions) into the keys that give the same
// symbols on the active layout. The modifiers the device holds stay as the device left
// them: a press that needs others changes them just around itself. Named keys without a
// symbol, and everything when no layout is given, go through as their own positions.
class LayoutKeyboard {
 public:
  explicit LayoutKeyboard(KeySink& sink) : sink_(sink) {}

  // The layout to type for from now on; nullptr presses plain positions. A key already
  // down is let up as the key it went down as.
  void useLayout(std::shared_ptr<const LayoutTable> layout) { layout_ = std::move(layout); }
  const LayoutTable* layout() const { return layout_.get(); }

  // `keyCode` is the program's key code; codes that no key has are ignored.
  void postKey(std::uint16_t keyCode, bool down);

 private:
  void pressChord(const KeyChord& chord);
  void noteModifier(std::uint16_t keyCode, bool down);

  KeySink& sink_;
  std::shared_ptr<const LayoutTable> layout_;
  // The key code each held position went down as, 0 when it is up or gave nothing.
  std::array<std::uint32_t, 128> pressedAs_{};
  bool shift_ = false;
  bool shortcutModifiers_[3] = {};  // control, option, command
};

}  // namespace quillmote
