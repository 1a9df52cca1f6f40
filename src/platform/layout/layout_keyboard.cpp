// SPDX-License-Identifier: MIT
#include "platform/layout/layout_keyboard.h"

#include <linux/input-event-codes.h>

#include "keyboard/us_keyboard.h"
#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

constexpr std::uint32_t kShiftKeyCode = KEY_LEFTSHIFT + kXkbKeyCodeOffset;
constexpr std::uint32_t kSpaceKeyCode = KEY_SPACE + kXkbKeyCodeOffset;

bool isLetter(const KeyCodeTranslation& key) {
  return key.name[0] != '\0' && key.name[1] == '\0' && key.name[0] >= 'a' && key.name[0] <= 'z';
}

}  // namespace

void LayoutKeyboard::noteModifier(std::uint16_t keyCode, bool down) {
  switch (keyCode) {
    case kShiftKey:
      shift_ = down;
      break;
    case kControlKey:
      shortcutModifiers_[0] = down;
      break;
    case kOptionKey:
      shortcutModifiers_[1] = down;
      break;
    case kCommandKey:
      shortcutModifiers_[2] = down;
      break;
    default:
      break;
  }
}

void LayoutKeyboard::pressChord(const KeyChord& chord) {
  const bool shiftChanges = chord.shift != shift_;
  if (shiftChanges) sink_.sendKey(kShiftKeyCode, chord.shift);
  if (chord.level3) sink_.sendKey(layout_->level3KeyCode(), true);
  sink_.sendKey(chord.keyCode, true);
  if (chord.level3) sink_.sendKey(layout_->level3KeyCode(), false);
  if (shiftChanges) sink_.sendKey(kShiftKeyCode, shift_);
}

void LayoutKeyboard::postKey(std::uint16_t keyCode, bool down) {
  std::optional<KeyCodeTranslation> key = translateKeyCode(keyCode);
  if (!key) return;
  const std::uint32_t position = key->evdevCode + kXkbKeyCodeOffset;
  std::uint32_t& pressedAs = pressedAs_[keyCode & 0x7F];
  noteModifier(keyCode, down);
  if (!down) {
    if (pressedAs != 0) sink_.sendKey(pressedAs, false);
    pressedAs = 0;
    return;
  }
  const PositionTyping asIs{};
  const PositionTyping& typing = layout_ ? layout_->typing(keyCode, shift_) : asIs;
  const bool shortcut = shortcutModifiers_[0] || shortcutModifiers_[1] || shortcutModifiers_[2];
  // Toolkits match shortcuts on a layout without Latin letters by the US positions.
  if (typing.kind == PositionTyping::Kind::kAsIs ||
      (shortcut && isLetter(*key) && !layout_->hasLatinLetters())) {
    sink_.sendKey(position, true);
    pressedAs = position;
  } else if (typing.kind == PositionTyping::Kind::kChord) {
    pressChord(typing.chord);
    pressedAs = typing.chord.keyCode;
  } else if (std::optional<std::uint32_t> lent = sink_.lendKeyCode(typing.keysym)) {
    sink_.sendKey(*lent, true);
    pressedAs = *lent;
  } else if (typing.deadKey) {
    pressChord(*typing.deadKey);
    sink_.sendKey(typing.deadKey->keyCode, false);
    sink_.sendKey(kSpaceKeyCode, true);
    pressedAs = kSpaceKeyCode;
  } else {
    pressedAs = 0;  // this layout cannot type it at all
  }
}

}  // namespace quillmote
