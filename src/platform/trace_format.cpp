// SPDX-License-Identifier: MIT
#include "platform/trace_format.h"

#include <cmath>
#include <cstdio>

#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

// Whole numbers print as such; anything else with %g.
std::string coordinate(float value) {
  char text[64];
  if (std::isfinite(value) && std::trunc(value) == value) {
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value));
  } else {
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  }
  return text;
}

}  // namespace

std::string keyEventLine(std::uint16_t keyCode, bool keyDown) {
  std::string line = "key " + std::to_string(keyCode) + (keyDown ? " down" : " up");
  if (std::optional<KeyCodeTranslation> key = translateKeyCode(keyCode)) {
    line += "  # ";
    line += key->name;
  }
  return line;
}

std::string mouseEventLine(Point position, bool update, bool leftButton, bool rightButton,
                           bool thirdButton) {
  return "mouse " + coordinate(position.x) + ' ' + coordinate(position.y) +
         " update=" + (update ? '1' : '0') + " buttons=" + (leftButton ? '1' : '0') + ' ' +
         (rightButton ? '1' : '0') + ' ' + (thirdButton ? '1' : '0');
}

std::string warpLine(Point position) {
  return "warp " + coordinate(position.x) + ' ' + coordinate(position.y);
}

}  // namespace quillmote
