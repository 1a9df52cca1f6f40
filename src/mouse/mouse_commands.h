// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>

#include "mouse/mouse_state.h"

namespace quillmote {

struct MoveOffsets {
  std::int32_t x;
  std::int32_t y;
};

// Reads the two offsets of a ",move,X,Y." token as scanf's "%d" would: each field is
// an optionally signed decimal integer and scanning stops at the first byte that does
// not fit, so ",move,1,5-3." yields 1 and 5. Nothing when either offset is missing
// (a lone sign, "+-", "1-2" as the first field). Values beyond 32 bits are clamped.
std::optional<MoveOffsets> parse_move_offsets(const char* token);

// The mouse actions of the command language. The arm actions post nothing; the
// choice of button waits for the closing period, which carries the command out.
class MouseCommands {
 public:
  explicit MouseCommands(EventServices& events) : mouse(events) {}

  // A token whose offsets cannot both be read does nothing at all.
  void move_pointer(const char* token);
  void arm_click();
  void arm_double_click();
  void arm_button_lock();
  void arm_button_release();
  void reset_pointer();
  void choose_left_button();
  void choose_right_button();
  void perform_mouse_action();

  const MouseState& mouseState() const { return mouse; }
  MouseState& mouseState() { return mouse; }

 private:
  MouseState mouse;
};

}  // namespace quillmote
