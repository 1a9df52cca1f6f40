// SPDX-License-Identifier: MIT
#include "mouse/mouse_commands.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quillmote {
namespace {

// One "%d" conversion: optional sign, then at least one digit. Advances `text` past
// what it took; nothing when no digit follows the sign.
std::optional<std::int32_t> scanDecimal(const char*& text) {
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return std::nullopt;
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    // Saturate past the 32-bit range instead of overflowing; any digits may follow.
    magnitude = std::min<std::int64_t>(magnitude * 10 + (*p - '0'), kMax + 1);
  }
  text = p;
  std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp(value, kMin, kMax));
}

}  // namespace

std::optional<MoveOffsets> parse_move_offsets(const char* token) {
  constexpr char kPrefix[] = ",move,";
  if (std::strncmp(token, kPrefix, sizeof kPrefix - 1) != 0) return std::nullopt;
  const char* p = token + sizeof kPrefix - 1;
  std::optional<std::int32_t> x = scanDecimal(p);
  if (!x || *p++ != ',') return std::nullopt;
  std::optional<std::int32_t> y = scanDecimal(p);
  if (!y) return std::nullopt;
  return MoveOffsets{*x, *y};
}

void MouseCommands::move_pointer(const char* token) {
  std::optional<MoveOffsets> offsets = parse_move_offsets(token);
  if (!offsets) return;
  mouse.MousePos = mouse.mouse_position();
  mouse.MousePos.x = static_cast<float>(offsets->x) + mouse.MousePos.x;
  mouse.MousePos.y = static_cast<float>(offsets->y) + mouse.MousePos.y;
  mouse.mouse_warp();
}

void MouseCommands::arm_click() {
  mouse.mouse_button = kLeftButton;
  mouse.mouse_click = MouseClick::kClick;
}

void MouseCommands::arm_double_click() {
  mouse.mouse_button = kLeftButton;
  mouse.mouse_click = MouseClick::kDoubleClick;
}

void MouseCommands::arm_button_lock() {
  mouse.mouse_button = kLeftButton;
  mouse.mouse_click = MouseClick::kLock;
}

void MouseCommands::arm_button_release() {
  mouse.mouse_button = kLeftAndRightButtons;
  mouse.mouse_click = MouseClick::kRelease;
}

void MouseCommands::choose_left_button() { mouse.mouse_button = kLeftButton; }

void MouseCommands::choose_right_button() { mouse.mouse_button = kRightButton; }

void MouseCommands::reset_pointer() {
  mouse.MousePos = Point{0, 0};
  // The warp's event still carries the buttons as they were; the second post lets
  // them all up at the corner.
  mouse.mouse_warp();
  mouse.MBState = {0, 0, 0};
  mouse.mouse_post();
}

void MouseCommands::perform_mouse_action() {
  mouse.MousePos = mouse.mouse_position();
  const std::int32_t button = mouse.mouse_button;
  auto post = [&](std::int32_t down) {
    mouse.MBState[button] = down;
    mouse.mouse_post();
  };
  switch (mouse.mouse_click) {
    case MouseClick::kRelease:
      if (button == kLeftAndRightButtons) {
        mouse.MBState[0] = 0;
        mouse.MBState[1] = 0;
        mouse.mouse_post();
      } else {
        post(0);
      }
      return;
    case MouseClick::kLock:
      post(1);
      return;
    case MouseClick::kClick:
      post(1);
      post(0);
      return;
    case MouseClick::kDoubleClick:
      post(1);
      post(0);
      post(1);
      post(0);
      return;
  }
}

}  // namespace quillmote
