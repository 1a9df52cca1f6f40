// SPDX-License-Identifier: MIT
#include "keyboard/key_tables.h"

#include <cstring>

namespace quillmote {

// Grouped by key code; the order does not change any lookup, the names being distinct.
const std::array<EscapeEntry, kEscapeTableSize> EscapeTable = {{
    {"multiply", 28, 0},  // the 8 key without shift: types 8, not the asterisk
    {"enter", 36, 0}, {"ret", 36, 0}, {"return", 36, 0},
    {"comma", 43, 0},
    {"divide", 44, 0},
    {"period", 47, 0},
    {"tab", 48, 0},
    {"space", 49, 0},
    {"tilde", 50, kShiftFlag},
    {"backspace", 51, 0}, {"bksp", 51, 0},
    {"esc", 53, 0}, {"escape", 53, 0},
    {"capslk", 57, 0}, {"capslock", 57, 0},
    {"kpdp", 65, 0},
    {"kp*", 67, 0}, {"kpstart", 67, 0}, {"kptimes", 67, 0},
    {"kp+", 69, 0}, {"kpplus", 69, 0},
    {"numlk", 71, 0}, {"numlock", 71, 0},
    {"kp/", 75, 0}, {"kpdivide", 75, 0}, {"kpslash", 75, 0},
    {"kpenter", 76, 0},
    {"kp-", 78, 0}, {"kpminus", 78, 0},
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
    {"f1", 122, 0}, {"f2", 120, 0}, {"f3", 99, 0}, {"f4", 118, 0},
    {"f5", 96, 0}, {"f6", 97, 0}, {"f7", 98, 0}, {"f8", 100, 0},
    {"f9", 101, 0}, {"f10", 109, 0}, {"f11", 103, 0}, {"f12", 111, 0},
    {"scroll", 107, 0}, {"scrolllock", 107, 0},
    {"ins", 114, 0}, {"insert", 114, 0},
    {"home", 115, 0}, {"kphome", 115, 0},
    {"pageup", 116, 0}, {"pgup", 116, 0}, {"kppageup", 116, 0}, {"kppgup", 116, 0},
    {"del", 117, 0}, {"kpdel", 117, 0}, {"kpdelete", 117, 0},
    {"end", 119, 0}, {"kpend", 119, 0},
    {"pagedown", 121, 0}, {"pgdn", 121, 0}, {"kppagedown", 121, 0}, {"kppgdn", 121, 0},
    {"left", 123, 0}, {"kpleft", 123, 0},
    {"right", 124, 0}, {"kpright", 124, 0},
    {"down", 125, 0}, {"kpdown", 125, 0},
    {"up", 126, 0}, {"kpup", 126, 0},
    {"kpins", kNoKey, 0}, {"kpinsert", kNoKey, 0}, {"kpmidl", kNoKey, 0},
    {"shift", kNoKey, kShiftFlag}, {"leftshift", kNoKey, kShiftFlag},
    {"lshift", kNoKey, kShiftFlag},
    {"control", kNoKey, kControlFlag}, {"ctrl", kNoKey, kControlFlag},
    {"lcontrol", kNoKey, kControlFlag}, {"lctrl", kNoKey, kControlFlag},
    {"leftcontrol", kNoKey, kControlFlag}, {"leftctrl", kNoKey, kControlFlag},
    {"rcontrol", kNoKey, kControlFlag}, {"rctrl", kNoKey, kControlFlag},
    {"rightcontrol", kNoKey, kControlFlag}, {"rightctrl", kNoKey, kControlFlag},
    // The right-shift names carry the command flag, not shift.
    {"command", kNoKey, kCommandFlag}, {"apple", kNoKey, kCommandFlag},
    {"windows", kNoKey, kCommandFlag}, {"rightshift", kNoKey, kCommandFlag},
    {"rshift", kNoKey, kCommandFlag},
    {"option", kNoKey, kOptionFlag}, {"alt", kNoKey, kOptionFlag},
    {"lalt", kNoKey, kOptionFlag}, {"leftalt", kNoKey, kOptionFlag},
    {"ralt", kNoKey, kOptionFlag}, {"rightalt", kNoKey, kOptionFlag},
}};

namespace {

constexpr int kNone = -1;

// The characters a US keyboard types, by the key that types them and the modifiers
// it needs. Control characters are control chords: 8 is control+H, not backspace.
struct CharacterRow {
  std::uint8_t keyCode;
  int noFlag, shift, control, shiftAndControl;
};

constexpr CharacterRow kCharacterRows[] = {
    // key  no flag  shift  control  shift+control
    {0,  97,  65,  1,  kNone},    // a A
    {1,  115, 83,  19, kNone},    // s S
    {2,  100, 68,  4,  kNone},    // d D
    {3,  102, 70,  6,  kNone},    // f F
    {4,  104, 72,  8,  kNone},    // h H
    {5,  103, 71,  7,  kNone},    // g G
    {6,  122, 90,  26, kNone},    // z Z
    {7,  120, 88,  24, kNone},    // x X
    {8,  99,  67,  3,  kNone},    // c C
    {9,  118, 86,  22, kNone},    // v V
    {11, 98,  66,  2,  kNone},    // b B
    {12, 113, 81,  17, kNone},    // q Q
    {13, 119, 87,  23, kNone},    // w W
    {14, 101, 69,  5,  kNone},    // e E
    {15, 114, 82,  18, kNone},    // r R
    {16, 121, 89,  25, kNone},    // y Y
    {17, 116, 84,  20, kNone},    // t T
    {18, 49,  33,  kNone, kNone}, // 1 !
    {19, 50,  64,  kNone, 0},     // 2 @
    {20, 51,  35,  kNone, kNone}, // 3 #
    {21, 52,  36,  kNone, kNone}, // 4 $
    {22, 54,  94,  kNone, 30},    // 6 ^
    {23, 53,  37,  kNone, kNone}, // 5 %
    {24, 61,  43,  kNone, kNone}, // = +
    {25, 57,  40,  kNone, kNone}, // 9 (
    {26, 55,  38,  kNone, kNone}, // 7 &
    {27, 45,  95,  kNone, 31},    // - _
    {28, 56,  42,  kNone, kNone}, // 8 *
    {29, 48,  41,  kNone, kNone}, // 0 )
    {30, 93,  125, 29, kNone},    // ] }
    {31, 111, 79,  15, kNone},    // o O
    {32, 117, 85,  21, kNone},    // u U
    {33, 91,  123, 27, kNone},    // [ {
    {34, 105, 73,  9,  kNone},    // i I
    {35, 112, 80,  16, kNone},    // p P
    {37, 108, 76,  12, kNone},    // l L
    {38, 106, 74,  10, kNone},    // j J
    {39, 39,  34,  kNone, kNone}, // ' "
    {40, 107, 75,  11, kNone},    // k K
    {41, 59,  58,  kNone, kNone}, // ; :
    {42, 92,  124, 28, kNone},    // \ |
    {43, 44,  60,  kNone, kNone}, // , <
    {44, 47,  63,  kNone, kNone}, // / ?
    {45, 110, 78,  14, kNone},    // n N
    {46, 109, 77,  kNone, kNone}, // m M
    {47, 46,  62,  kNone, kNone}, // . >
    {49, 32,  kNone, kNone, kNone},  // space
    {50, 96,  126, kNone, kNone}, // ` ~
};

bool equalIgnoringAsciiCase(const char* a, const char* b) {
  auto lower = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  for (;; ++a, ++b) {
    if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b))) {
      return false;
    }
    if (*a == '\0') return true;
  }
}

}  // namespace

void KeyTables::InitUSKeyCodes() {
  USKeyCodes.fill(kNoCharacterEntry);
  auto store = [this](int character, std::uint8_t keyCode, int flags) {
    if (character != kNone) USKeyCodes[character] = static_cast<std::uint16_t>(keyCode | flags);
  };
  for (const CharacterRow& row : kCharacterRows) {
    store(row.noFlag, row.keyCode, 0);
    store(row.shift, row.keyCode, kShiftFlag);
    store(row.control, row.keyCode, kControlFlag);
    store(row.shiftAndControl, row.keyCode, kShiftFlag | kControlFlag);
  }
}

int KeyTables::escape_word(const char* word, std::int32_t& keyCode,
                           std::int32_t& modifierFlags) const {
  for (const EscapeEntry& entry : EscapeTable) {
    if (equalIgnoringAsciiCase(word, entry.name)) {
      keyCode = entry.keyCode;
      modifierFlags = entry.flags;
      return 1;
    }
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
