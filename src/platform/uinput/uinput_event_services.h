// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/event_services.h"
#include "platform/layout/layout_keyboard.h"

namespace quillmote {

// The name of the virtual device, as the desktop and `libinput list-devices` show it.
inline constexpr const char* kVirtualDeviceName = "Quillmote virtual input";

// Delivers events through one virtual keyboard-and-pointer device made with uinput:
// works under Wayland, on the console and under X11. Linux offers no global pointer
// query under Wayland, so the backend keeps its own pointer position: a warp only sets
// it, and a post with the update flag sends the relative motion from it to the new
// position. Every operation ends with SYN_REPORT. The device is destroyed with the
// object, and the kernel then releases whatever it still has down. Keys type the symbols
// they have on a US keyboard in `layout`, the layout the desktop is assumed to use
// (nothing: plain positions).
class UInputEventServices final : public EventServices, private KeySink {
 public:
  // Creates the device through `uinputPath` (normally "/dev/uinput"). Nothing, and a
  // message saying why and how to fix it, when that is not possible.
  static std::unique_ptr<UInputEventServices> open(const char* uinputPath,
                                                   std::shared_ptr<const LayoutTable> layout,
                                                   std::string& error);
  ~UInputEventServices() override;

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition,
                      std::uint32_t buttonCount, bool leftButton, bool rightButton,
                      bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override;

  // Plain US positions from now on, or the symbols of the layout given at the start again.
  void setKeyPositions(bool keyPositions) { keyboard_.useLayout(keyPositions ? nullptr : layout_); }

  // The device node the kernel made, such as /dev/input/event5 (for tests).
  std::string deviceNode() const;

 private:
  struct Device;
  UInputEventServices(std::unique_ptr<Device> device, int uinputDescriptor);
  void sendKey(std::uint32_t keyCode, bool down) override;

  std::unique_ptr<Device> device_;
  int uinputDescriptor_;
  std::shared_ptr<const LayoutTable> layout_;
  LayoutKeyboard keyboard_{*this};
};

}  // namespace quillmote
