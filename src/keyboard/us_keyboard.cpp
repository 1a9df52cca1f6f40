// SPDX-License-Identifier: MIT
#include "keyboard/us_keyboard.h"

namespace quillmote {
namespace {

constexpr int kNone = -1;

// The characters a US keyboard types, by the key that types them and the modifiers
// it needs. Control characters are control chords: 8 is control+H, not backspace.
struct CharacterRow {
  std::uint8_t keyCode;
  int noFlag, shift, control, shiftAndControl;
};

// Kept in columns, to be read against the keyboard row by row.
// clang-format off
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
// clang-format on

}  // namespace

std::array<std::uint16_t, 256> USCharacterEntries() {
  std::array<std::uint16_t, 256> entries;
  entries.fill(kNoCharacterEntry);
  auto store = [&entries](int character, std::uint8_t keyCode, int flags) {
    if (character != kNone) entries[character] = static_cast<std::uint16_t>(keyCode | flags);
  };
  for (const CharacterRow& row : kCharacterRows) {
    store(row.noFlag, row.keyCode, 0);
    store(row.shift, row.keyCode, kShiftFlag);
    store(row.control, row.keyCode, kControlFlag);
    store(row.shiftAndControl, row.keyCode, kShiftFlag | kControlFlag);
  }
  return entries;
}

}  // namespace quillmote
