// SPDX-License-Identifier: MIT
#include "mouse/mouse_state.h"

namespace quillmote {

Point MouseState::mouse_position() {
  GlobalMousePoint global = events().getGlobalMouse();
  return Point{static_cast<float>(global.h), static_cast<float>(global.v)};
}

void MouseState::mouse_post() {
  events().postMouseEvent(MousePos, false, 3, MBState[0] != 0, MBState[1] != 0, MBState[2] != 0);
}

void MouseState::mouse_warp() {
  Point start = mouse_position();
  // Warp to the target only to learn where the platform confines it, then put the
  // pointer back: the posted event is what moves it, so applications see a motion
  // (or a drag) rather than a jump.
  events().warpMouseCursorPosition(MousePos);
  MousePos = mouse_position();
  events().warpMouseCursorPosition(start);
  events().postMouseEvent(MousePos, true, 3, MBState[0] != 0, MBState[1] != 0, MBState[2] != 0);
}

}  // namespace quillmote
