// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace quillmote {

// A position in global display coordinates: origin at the top-left corner of the
// main display, y growing downwards.
struct Point {
  float x = 0;
  float y = 0;
};

// The pointer position as the platform reports it: two signed 16-bit fields,
// the vertical one first.
struct GlobalMousePoint {
  std::int16_t v = 0;
  std::int16_t h = 0;
};

// A coordinate as one of the platform's signed 16-bit pointer fields: whole pixels towards
// zero, clamped to the field, NaN (a device's nonsense) as 0.
inline std::int16_t toPointerField(float value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int16_t>(std::clamp(value, -32768.0f, 32767.0f));
}

// The left, right and third button flags of a mouse post.
using ButtonFlags = std::array<bool, 3>;

// Calls `change(index, down)` for each button of `wanted` that differs from `posted`, in
// flag order, and notes it in `posted`: the platform hears a press or release only when a
// button's state really changes.
template <typename Change>
void postButtonChanges(ButtonFlags& posted, const ButtonFlags& wanted, Change change) {
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i] == posted[i]) continue;
    change(i, wanted[i]);
    posted[i] = wanted[i];
  }
}

// The four window-system operations through which all synthetic input leaves the
// program and the pointer position comes back. Called on the reader thread only;
// results are never examined, so a backend that cannot deliver simply loses the event.
class EventServices {
 public:
  virtual ~EventServices() = default;

  // One key transition. `charCode` is always 0; `keyCode` is a US-layout virtual key
  // code; `keyDown` is 1 for a press, 0 for a release.
  virtual void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) = 0;

  // The complete mouse state. With `updateMouseCursorPosition` the pointer moves to
  // `position`; a button flag that differs from the last post is delivered as a press
  // or release there. `buttonCount` is always 3; flags are left, right, third.
  virtual void postMouseEvent(Point position, bool updateMouseCursorPosition,
                              std::uint32_t buttonCount, bool leftButton, bool rightButton,
                              bool thirdButton) = 0;

  // Moves the pointer without delivering an event; the platform confines it to the
  // displays.
  virtual void warpMouseCursorPosition(Point position) = 0;

  // Where the pointer really is, after any confinement of an earlier warp.
  virtual GlobalMousePoint getGlobalMouse() = 0;

  // Where the events go while nobody watches them: this backend itself, or, for something
  // that watches events on their way, the backend it passes them to. The interpreter posts
  // there directly while it has no observer, so a closed monitor costs nothing per event.
  virtual EventServices& unwatched() { return *this; }
};

}  // namespace quillmote
