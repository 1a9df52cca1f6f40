// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <string>
#include <vector>

namespace quillmote {

// A key the program has down for the device between commands.
struct HeldKey {
  int keyCode = 0;
  bool locked = false;  // else held for the next key, or down in an unfinished combination
  bool operator==(const HeldKey&) const = default;
};

// Every key and mouse button the program has down: what a person needs to know when
// the computer types capitals or drags the pointer.
struct HeldSet {
  std::vector<HeldKey> keys;      // ascending key code
  std::array<bool, 3> buttons{};  // left, right, third
  bool empty() const { return keys.empty() && !buttons[0] && !buttons[1] && !buttons[2]; }
  bool operator==(const HeldSet&) const = default;
};

// For people: "Shift (locked), Control, left button"; empty when nothing is held.
std::string heldText(const HeldSet& held);

// Told of every change of what is held, on the thread that made it.
class HeldObserver {
 public:
  virtual ~HeldObserver() = default;
  virtual void heldChanged(const HeldSet& held) = 0;
};

}  // namespace quillmote
