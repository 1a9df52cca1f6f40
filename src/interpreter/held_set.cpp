// SPDX-License-Identifier: MIT
#include "interpreter/held_set.h"

#include <cctype>

#include "keyboard/key_tables.h"

namespace quillmote {
namespace {

// A key's name as a person knows it: the modifiers by the names Linux desktops give them,
// a key that types a character by that character, any other by its command-language name.
std::string keyName(int keyCode) {
  switch (keyCode) {
    case kShiftKey:
      return "Shift";
    case kControlKey:
      return "Control";
    case kCommandKey:
      return "Super";
    case kOptionKey:
      return "Alt";
    default:
      break;
  }
  static const KeyTables tables = [] {
    KeyTables filled;
    filled.InitUSKeyCodes();
    return filled;
  }();
  for (int byte = '!'; byte <= '~'; ++byte) {
    if (tables.characterEntry(static_cast<unsigned char>(byte)) == keyCode) {
      return std::string(1, static_cast<char>(std::toupper(byte)));
    }
  }
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode == keyCode) {
      std::string name = entry.name;
      name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
      return name;
    }
  }
  return "key " + std::to_string(keyCode);
}

}  // namespace

std::string heldText(const HeldSet& held) {
  std::string text;
  auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
  for (const HeldKey& key : held.keys) add(keyName(key.keyCode) + (key.locked ? " (locked)" : ""));
  static constexpr const char* kButtonNames[] = {"left button", "right button", "third button"};
  for (int button = 0; button < 3; ++button) {
    if (held.buttons[static_cast<std::size_t>(button)]) add(kButtonNames[button]);
  }
  return text;
}

}  // namespace quillmote
