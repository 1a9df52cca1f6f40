// SPDX-License-Identifier: MIT
#include "platform/key_code_translation.h"

#include <linux/input-event-codes.h>

#include <array>

namespace quillmote {
namespace {

// By physical key on the US layout. The modifiers are the left-hand ones: the
// program's left and right modifier names press one key code each.
constexpr KeyCodeTranslation kTranslations[] = {
    //  key code  evdev code          name
    {0, KEY_A, "a"},
    {1, KEY_S, "s"},
    {2, KEY_D, "d"},
    {3, KEY_F, "f"},
    {4, KEY_H, "h"},
    {5, KEY_G, "g"},
    {6, KEY_Z, "z"},
    {7, KEY_X, "x"},
    {8, KEY_C, "c"},
    {9, KEY_V, "v"},
    {11, KEY_B, "b"},
    {12, KEY_Q, "q"},
    {13, KEY_W, "w"},
    {14, KEY_E, "e"},
    {15, KEY_R, "r"},
    {16, KEY_Y, "y"},
    {17, KEY_T, "t"},
    {18, KEY_1, "1"},
    {19, KEY_2, "2"},
    {20, KEY_3, "3"},
    {21, KEY_4, "4"},
    {22, KEY_6, "6"},
    {23, KEY_5, "5"},
    {24, KEY_EQUAL, "equal"},
    {25, KEY_9, "9"},
    {26, KEY_7, "7"},
    {27, KEY_MINUS, "minus"},
    {28, KEY_8, "8"},
    {29, KEY_0, "0"},
    {30, KEY_RIGHTBRACE, "right bracket"},
    {31, KEY_O, "o"},
    {32, KEY_U, "u"},
    {33, KEY_LEFTBRACE, "left bracket"},
    {34, KEY_I, "i"},
    {35, KEY_P, "p"},
    {36, KEY_ENTER, "return"},
    {37, KEY_L, "l"},
    {38, KEY_J, "j"},
    {39, KEY_APOSTROPHE, "quote"},
    {40, KEY_K, "k"},
    {41, KEY_SEMICOLON, "semicolon"},
    {42, KEY_BACKSLASH, "backslash"},
    {43, KEY_COMMA, "comma"},
    {44, KEY_SLASH, "slash"},
    {45, KEY_N, "n"},
    {46, KEY_M, "m"},
    {47, KEY_DOT, "period"},
    {48, KEY_TAB, "tab"},
    {49, KEY_SPACE, "space"},
    {50, KEY_GRAVE, "grave"},
    {51, KEY_BACKSPACE, "backspace"},
    {53, KEY_ESC, "escape"},
    {55, KEY_LEFTMETA, "command"},
    {56, KEY_LEFTSHIFT, "shift"},
    {57, KEY_CAPSLOCK, "caps lock"},
    {58, KEY_LEFTALT, "option"},
    {59, KEY_LEFTCTRL, "control"},
    {65, KEY_KPDOT, "keypad decimal"},
    {67, KEY_KPASTERISK, "keypad multiply"},
    {69, KEY_KPPLUS, "keypad plus"},
    {71, KEY_NUMLOCK, "num lock"},
    {75, KEY_KPSLASH, "keypad divide"},
    {76, KEY_KPENTER, "keypad enter"},
    {78, KEY_KPMINUS, "keypad minus"},
    {82, KEY_KP0, "keypad 0"},
    {83, KEY_KP1, "keypad 1"},
    {84, KEY_KP2, "keypad 2"},
    {85, KEY_KP3, "keypad 3"},
    {86, KEY_KP4, "keypad 4"},
    {87, KEY_KP5, "keypad 5"},
    {88, KEY_KP6, "keypad 6"},
    {89, KEY_KP7, "keypad 7"},
    {91, KEY_KP8, "keypad 8"},
    {92, KEY_KP9, "keypad 9"},
    {96, KEY_F5, "f5"},
    {97, KEY_F6, "f6"},
    {98, KEY_F7, "f7"},
    {99, KEY_F3, "f3"},
    {100, KEY_F8, "f8"},
    {101, KEY_F9, "f9"},
    {103, KEY_F11, "f11"},
    {107, KEY_SCROLLLOCK, "scroll lock"},
    {109, KEY_F10, "f10"},
    {111, KEY_F12, "f12"},
    {114, KEY_INSERT, "insert"},
    {115, KEY_HOME, "home"},
    {116, KEY_PAGEUP, "page up"},
    {117, KEY_DELETE, "delete"},
    {118, KEY_F4, "f4"},
    {119, KEY_END, "end"},
    {120, KEY_F2, "f2"},
    {121, KEY_PAGEDOWN, "page down"},
    {122, KEY_F1, "f1"},
    {123, KEY_LEFT, "left"},
    {124, KEY_RIGHT, "right"},
    {125, KEY_DOWN, "down"},
    {126, KEY_UP, "up"},
};

// Direct index by key code, built once from the table above.
constexpr auto kIndexByKeyCode = [] {
  std::array<int, 256> index{};
  index.fill(-1);
  for (int i = 0; i < static_cast<int>(std::size(kTranslations)); ++i) {
    index[kTranslations[i].keyCode] = i;
  }
  return index;
}();

}  // namespace

std::span<const KeyCodeTranslation> keyCodeTranslations() { return kTranslations; }

std::optional<KeyCodeTranslation> translateKeyCode(std::uint16_t keyCode) {
  if (keyCode >= kIndexByKeyCode.size() || kIndexByKeyCode[keyCode] < 0) {
    return std::nullopt;
  }
  return kTranslations[kIndexByKeyCode[keyCode]];
}

}  // namespace quillmote
