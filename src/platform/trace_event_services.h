// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>

#include "platform/event_services.h"

namespace quillmote {

struct ScreenSize {
  int width = 1920;
  int height = 1080;
};

// Prints one line per operation instead of delivering events, over a simulated screen:
//   key 56 down  # shift
//   warp 510 295
//   mouse 510 295 update=1 buttons=1 0 0
// Pointer reads print nothing. A warp or an update post confines the simulated pointer
// to the screen, truncated to whole pixels, as a real display would.
class TraceEventServices final : public EventServices {
 public:
  TraceEventServices(std::ostream& out, ScreenSize screen, GlobalMousePoint pointer);

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition, std::uint32_t buttonCount,
                      bool leftButton, bool rightButton, bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override;

  // Each line is flushed as written, for a reader watching live.
  void setFlushEachLine(bool flush) { flushEachLine_ = flush; }

 private:
  void moveSimulatedPointer(Point position);
  void endLine();

  std::ostream& out_;
  ScreenSize screen_;
  GlobalMousePoint pointer_;
  bool flushEachLine_ = false;
};

}  // namespace quillmote
