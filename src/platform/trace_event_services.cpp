// SPDX-License-Identifier: MIT
#include "platform/trace_event_services.h"

#include <algorithm>
#include <cmath>

#include "platform/trace_format.h"

namespace quillmote {
namespace {

int confine(float value, int size) { return std::clamp<int>(toPointerField(value), 0, size - 1); }

}  // namespace

TraceEventServices::TraceEventServices(std::ostream& out, ScreenSize screen,
                                       GlobalMousePoint pointer)
    : out_(out), screen_(screen), pointer_(pointer) {}

void TraceEventServices::endLine() {
  out_ << '\n';
  if (flushEachLine_) out_.flush();
}

void TraceEventServices::postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool keyDown) {
  out_ << keyEventLine(keyCode, keyDown);
  endLine();
}

void TraceEventServices::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                        std::uint32_t, bool leftButton, bool rightButton,
                                        bool thirdButton) {
  if (updateMouseCursorPosition) moveSimulatedPointer(position);
  out_ << mouseEventLine(position, updateMouseCursorPosition, leftButton, rightButton, thirdButton);
  endLine();
}

void TraceEventServices::warpMouseCursorPosition(Point position) {
  moveSimulatedPointer(position);
  out_ << warpLine(position);
  endLine();
}

GlobalMousePoint TraceEventServices::getGlobalMouse() { return pointer_; }

void TraceEventServices::moveSimulatedPointer(Point position) {
  pointer_.h = static_cast<std::int16_t>(confine(position.x, screen_.width));
  pointer_.v = static_cast<std::int16_t>(confine(position.y, screen_.height));
}

}  // namespace quillmote
