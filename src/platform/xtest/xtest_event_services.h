// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_services.h"

struct _XDisplay;

namespace quillmote {

// Delivers events to an X11 server through the XTest extension, as if from the real
// keyboard and mouse: key codes are translated to evdev codes + 8, pointer reads and
// warps use the root window of the default screen (which spans every monitor). Every
// operation is flushed at once, so no event waits in Xlib's buffer. Used by one thread
// at a time: the reader thread while translation runs, the main thread otherwise.
class XTestEventServices final : public EventServices {
 public:
  // Connects to `displayName` (nullptr: $DISPLAY). Nothing and a message saying why
  // when there is no usable display. `warnings` receives one line when keys the
  // device can name have no key code on this server.
  static std::unique_ptr<XTestEventServices> open(const char* displayName, std::string& error,
                                                  std::string& warnings);
  ~XTestEventServices() override;

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition,
                      std::uint32_t buttonCount, bool leftButton, bool rightButton,
                      bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override;

 private:
  explicit XTestEventServices(_XDisplay* display);

  _XDisplay* display_;
  // The button states of the last post: only a change becomes a button event.
  std::array<bool, 3> postedButtons_{};
  // Where the last warp put the pointer, confined to the root window, until a post with
  // the update flag moves the real one. XWarpPointer would send motion to applications.
  std::optional<GlobalMousePoint> warpedTo_;
};

}  // namespace quillmote
