// SPDX-License-Identifier: MIT
#include "keyboard/key_tables.h"

#include <algorithm>
#include <cstring>

namespace quillmote {

// Grouped by key code; the order does not change any lookup, the names being distinct.
const std::array<EscapeEntry, kEscapeTableSize> EscapeTable = {{
    {"multiply", 28, 0},  // the 8 key without shift: types 8, not the asterisk
    {"enter", 36, 0},
    {"ret", 36, 0},
    {"return", 36, 0},
    {"comma", 43, 0},
    {"divide", 44, 0},
    {"period", 47, 0},
    {"tab", 48, 0},
    {"space", 49, 0},
    {"tilde", 50, kShiftFlag},
    {"backspace", 51, 0},
    {"bksp", 51, 0},
    {"esc", 53, 0},
    {"escape", 53, 0},
    {"capslk", 57, 0},
    {"capslock", 57, 0},
    {"kpdp", 65, 0},
    {"kp*", 67, 0},
    {"kpstart", 67, 0},
    {"kptimes", 67, 0},
    {"kp+", 69, 0},
    {"kpplus", 69, 0},
    {"numlk", 71, 0},
    {"numlock", 71, 0},
    {"kp/", 75, 0},
    {"kpdivide", 75, 0},
    {"kpslash", 75, 0},
    {"kpenter", 76, 0},
    {"kp-", 78, 0},
    {"kpminus", 78, 0},
    {"kp0", 82, 0},
    {"kp1", 83, 0},
    {"kp2", 84, 0},
    {"kp3", 85, 0},
    {"kp4", 86, 0},
    {"kp5", 87, 0},
    {"kp6", 88, 0},
    {"kp7", 89, 0},
    {"kp8", 91, 0},
    {"kp9", 92, 0},
    {"f1", 122, 0},
    {"f2", 120, 0},
    {"f3", 99, 0},
    {"f4", 118, 0},
    {"f5", 96, 0},
    {"f6", 97, 0},
    {"f7", 98, 0},
    {"f8", 100, 0},
    {"f9", 101, 0},
    {"f10", 109, 0},
    {"f11", 103, 0},
    {"f12", 111, 0},
    {"scroll", 107, 0},
    {"scrolllock", 107, 0},
    {"ins", 114, 0},
    {"insert", 114, 0},
    {"home", 115, 0},
    {"kphome", 115, 0},
    {"pageup", 116, 0},
    {"pgup", 116, 0},
    {"kppageup", 116, 0},
    {"kppgup", 116, 0},
    {"del", 117, 0},
    {"kpdel", 117, 0},
    {"kpdelete", 117, 0},
    {"end", 119, 0},
    {"kpend", 119, 0},
    {"pagedown", 121, 0},
    {"pgdn", 121, 0},
    {"kppagedown", 121, 0},
    {"kppgdn", 121, 0},
    {"left", 123, 0},
    {"kpleft", 123, 0},
    {"right", 124, 0},
    {"kpright", 124, 0},
    {"down", 125, 0},
    {"kpdown", 125, 0},
    {"up", 126, 0},
    {"kpup", 126, 0},
    {"kpins", kNoKey, 0},
    {"kpinsert", kNoKey, 0},
    {"kpmidl", kNoKey, 0},
    {"shift", kNoKey, kShiftFlag},
    {"leftshift", kNoKey, kShiftFlag},
    {"lshift", kNoKey, kShiftFlag},
    {"control", kNoKey, kControlFlag},
    {"ctrl", kNoKey, kControlFlag},
    {"lcontrol", kNoKey, kControlFlag},
    {"lctrl", kNoKey, kControlFlag},
    {"leftcontrol", kNoKey, kControlFlag},
    {"leftctrl", kNoKey, kControlFlag},
    {"rcontrol", kNoKey, kControlFlag},
    {"rctrl", kNoKey, kControlFlag},
    {"rightcontrol", kNoKey, kControlFlag},
    {"rightctrl", kNoKey, kControlFlag},
    // The right-shift names carry the command flag, not shift.
    {"command", kNoKey, kCommandFlag},
    {"apple", kNoKey, kCommandFlag},
    {"windows", kNoKey, kCommandFlag},
    {"rightshift", kNoKey, kCommandFlag},
    {"rshift", kNoKey, kCommandFlag},
    {"option", kNoKey, kOptionFlag},
    {"alt", kNoKey, kOptionFlag},
    {"lalt", kNoKey, kOptionFlag},
    {"leftalt", kNoKey, kOptionFlag},
    {"ralt", kNoKey, kOptionFlag},
    {"rightalt", kNoKey, kOptionFlag},
}};

namespace {

// The names of EscapeTable in byte order, for a binary search. The names are distinct
// and all lower case, so finding the word in lower case finds what a scan of the table
// ignoring case would.
struct NameIndex {
  NameIndex() {
    for (std::size_t i = 0; i < EscapeTable.size(); ++i) {
      entries[i] = &EscapeTable[i];
      longest = std::max(longest, std::strlen(EscapeTable[i].name));
    }
    std::ranges::sort(entries, [](const EscapeEntry* a, const EscapeEntry* b) {
      return std::strcmp(a->name, b->name) < 0;
    });
  }

  // The entry named `word` in any case, or null.
  const EscapeEntry* find(const char* word) const {
    char lower[32];
    std::size_t length = 0;
    for (; word[length] != '\0'; ++length) {
      if (length > longest) return nullptr;  // longer than every name
      const char c = word[length];
      lower[length] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    lower[length] = '\0';
    auto found = std::ranges::lower_bound(
        entries, lower, [](const char* a, const char* b) { return std::strcmp(a, b) < 0; },
        &EscapeEntry::name);
    return found != entries.end() && std::strcmp((*found)->name, lower) == 0 ? *found : nullptr;
  }

  std::array<const EscapeEntry*, kEscapeTableSize> entries{};
  std::size_t longest = 0;
};

}  // namespace

void KeyTables::InitUSKeyCodes() { USKeyCodes = USCharacterEntries(); }

int KeyTables::escape_word(const char* word, std::int32_t& keyCode,
                           std::int32_t& modifierFlags) const {
  static const NameIndex names;
  if (const EscapeEntry* entry = names.find(word)) {
    keyCode = entry->keyCode;
    modifierFlags = entry->flags;
    return 1;
  }
  if (word[0] != '\0' && word[1] == '\0') {
    std::uint16_t entry = USKeyCodes[static_cast<unsigned char>(word[0])];
    // Split apart, the no-entry value would read as key 255 with every modifier.
    if (entry == kNoCharacterEntry) return 0;
    keyCode = entry & 0xFF;
    modifierFlags = entry & 0xFF00;
    return 1;
  }
  return 0;
}

}  // namespace quillmote
