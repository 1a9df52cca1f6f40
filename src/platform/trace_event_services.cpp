// SPDX-License-Identifier: MIT
#include "platform/trace_event_services.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

// Whole numbers print as such; anything else with %g.
void printCoordinate(std::ostream& out, float value) {
  char text[64];
  if (std::isfinite(value) && std::trunc(value) == value) {
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value));
  } else {
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  }
  out << text;
}

int confine(float value, int size) {
  // NaN cannot come from whole offsets, but must not reach the integer conversion.
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::clamp(value, 0.0f, static_cast<float>(size - 1)));
}

}  // namespace

TraceEventServices::TraceEventServices(std::ostream& out, ScreenSize screen,
                                       GlobalMousePoint pointer)
    : out_(out), screen_(screen), pointer_(pointer) {}

void TraceEventServices::endLine() {
  out_ << '\n';
  if (flushEachLine_) out_.flush();
}

void TraceEventServices::postKeyboardEvent(std::uint16_t, std::uint16_t keyCode,
                                           bool keyDown) {
  out_ << "key " << keyCode << (keyDown ? " down" : " up");
  if (std::optional<KeyCodeTranslation> key = translateKeyCode(keyCode)) {
    out_ << "  # " << key->name;
  }
  endLine();
}

void TraceEventServices::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                        std::uint32_t, bool leftButton,
                                        bool rightButton, bool thirdButton) {
  if (updateMouseCursorPosition) moveSimulatedPointer(position);
  out_ << "mouse ";
  printCoordinate(out_, position.x);
  out_ << ' ';
  printCoordinate(out_, position.y);
  out_ << " update=" << (updateMouseCursorPosition ? 1 : 0) << " buttons="
       << (leftButton ? 1 : 0) << ' ' << (rightButton ? 1 : 0) << ' '
       << (thirdButton ? 1 : 0);
  endLine();
}

void TraceEventServices::warpMouseCursorPosition(Point position) {
  moveSimulatedPointer(position);
  out_ << "warp ";
  printCoordinate(out_, position.x);
  out_ << ' ';
  printCoordinate(out_, position.y);
  endLine();
}

GlobalMousePoint TraceEventServices::getGlobalMouse() { return pointer_; }

void TraceEventServices::moveSimulatedPointer(Point position) {
  pointer_.h = static_cast<std::int16_t>(confine(position.x, screen_.width));
  pointer_.v = static_cast<std::int16_t>(confine(position.y, screen_.height));
}

}  // namespace quillmote
