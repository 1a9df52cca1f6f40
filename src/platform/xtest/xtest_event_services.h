// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_services.h"
#include "platform/layout/layout_keyboard.h"
#include "platform/xtest/server_layout.h"

struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display

namespace quillmote {

// Delivers events to an X11 server through the XTest extension, as if from the real
// keyboard and mouse: key codes are translated to evdev codes + 8, pointer reads and
// warps use the root window of the default screen (which spans every monitor). Every
// operation is flushed at once, so no event waits in Xlib's buffer. Keys type the symbols
// they have on a US keyboard in the server's active layout, unless `keyPositions` asks
// for the plain positions. Used by one thread at a time: the reader thread while
// translation runs, the main thread otherwise.
class XTestEventServices final : public EventServices, private KeySink {
 public:
  // Connects to `displayName` (nullptr: $DISPLAY). Nothing and a message saying why
  // when there is no usable display. `warnings` receives one line when keys the
  // device can name have no key code on this server.
  static std::unique_ptr<XTestEventServices> open(const char* displayName, bool keyPositions,
                                                  std::string& error, std::string& warnings);
  ~XTestEventServices() override;

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition, std::uint32_t buttonCount,
                      bool leftButton, bool rightButton, bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override;

  // The connection to the X server, to be watched for a hang-up (poll with POLLRDHUP;
  // never read it): that is how the server's going away is learnt while nothing is
  // posted. Once Xlib has found it gone, every operation does nothing: Xlib neither
  // prints nor ends the process, and is not called again (a request on a dead display
  // would crash it).
  int connectionDescriptor() const;

  // Plain US positions from now on, or the symbols of the server's layout again.
  void setKeyPositions(bool keyPositions);
  // The server's layout as people know it, and its table (nothing when it cannot be read).
  std::string layoutDescription() const;
  std::shared_ptr<const LayoutTable> layoutTable() {
    return serverLayout_ ? serverLayout_->current() : nullptr;
  }

 private:
  explicit XTestEventServices(_XDisplay* display);
  void sendKey(std::uint32_t keyCode, bool down) override;
  std::optional<std::uint32_t> lendKeyCode(std::uint32_t keysym) override;
  bool gone() const { return connectionLost_.load(std::memory_order_relaxed); }

  _XDisplay* display_;
  // Set by Xlib's I/O error, on the thread whose call found the server gone.
  std::atomic<bool> connectionLost_{false};
  std::unique_ptr<ServerLayout> serverLayout_;  // nothing when the server's cannot be read
  bool keyPositions_ = true;
  LayoutKeyboard keyboard_{*this};
  // The button states of the last post: only a change becomes a button event.
  ButtonFlags postedButtons_{};
  std::bitset<256> keysDown_;  // by X key code, for lending only codes that are up
  // Where the last warp put the pointer, confined to the root window, until a post with
  // the update flag moves the real one. XWarpPointer would send motion to applications.
  std::optional<GlobalMousePoint> warpedTo_;
};

}  // namespace quillmote
