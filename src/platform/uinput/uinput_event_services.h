// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/event_services.h"
#include "platform/layout/layout_keyboard.h"
#include "platform/wayland/compositor_layout.h"
#include "platform/wayland/wayland_desktop.h"

namespace quillmote {

// The names of the two virtual devices, as the desktop and `libinput list-devices` show
// them. Two, not one device with both: desktops treat a keyboard that is also a mouse
// badly (an on-screen keyboard that never appears, a keyboard handler that refuses it).
inline constexpr const char* kVirtualKeyboardName = "Quillmote virtual keyboard";
inline constexpr const char* kVirtualPointerName = "Quillmote virtual pointer";

// How the virtual pointer moves the desktop's pointer.
enum class PointerMode {
  kAbsolute,  // to the exact spot, over the desktop's bounding box; needs its size
  kRelative,  // by steps from where it was, shaped by the desktop's acceleration
};

// "absolute" or "relative".
const char* pointerModeName(PointerMode mode);

// What the virtual devices type and point into.
struct UInputDesktop {
  // The layout keys are typed for when it is named outright (or the console's); nothing:
  // the compositor's keymap, or plain positions without a compositor.
  std::shared_ptr<const LayoutTable> layout;
  // The running compositor, when there is one: its keymap and its outputs.
  std::unique_ptr<WaylandDesktop> compositor;
  // The desktop's size where no compositor tells it (the desktop program's screens).
  std::optional<DesktopBox> size;
  // Where the compositor does not say which group of its keymap is active, the desktop's
  // own record of the layout in use, if it keeps one.
  DesktopLayoutRecord layoutRecord;
  // Absolute needs a size; without one the pointer is relative whatever this says.
  PointerMode pointer = PointerMode::kAbsolute;
};

// Delivers events through two virtual devices made with uinput, a keyboard and a pointer:
// works under Wayland, on the console and under X11. No program may ask a Wayland desktop
// where the pointer is, so the backend keeps its own pointer position: a warp only sets it,
// and a post with the update flag moves the pointer there, exactly with an absolute
// pointer, by the difference with a relative one. Every operation ends with SYN_REPORT.
// The devices are destroyed with the object, and the kernel then releases whatever they
// still have down. Keys type the symbols they have on a US keyboard in the desktop's layout.
class UInputEventServices final : public EventServices, private KeySink {
 public:
  // Creates the devices through `uinputPath` (normally "/dev/uinput") and returns once the
  // desktop has opened them (or after a few seconds, when nothing does, as on a console),
  // so that the first event is not lost. Nothing, and a message saying why and how to fix
  // it, when they cannot be made.
  static std::unique_ptr<UInputEventServices> open(const char* uinputPath, UInputDesktop desktop,
                                                   std::string& error);
  ~UInputEventServices() override;

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override;
  void postMouseEvent(Point position, bool updateMouseCursorPosition, std::uint32_t buttonCount,
                      bool leftButton, bool rightButton, bool thirdButton) override;
  void warpMouseCursorPosition(Point position) override;
  GlobalMousePoint getGlobalMouse() override;

  // Makes the pointer move by relative steps, or again absolutely where the desktop's size
  // is known; the position and the buttons down are kept.
  void setPointerMode(PointerMode mode);

  // Plain US positions from now on, or the desktop's layout again.
  void setKeyPositions(bool keyPositions);

  // The layout keys are typed for, for people; "" when keys are plain positions.
  std::string layoutDescription();
  // The pointer's mode and, when absolute, the size it points over.
  PointerMode pointerMode() const;
  DesktopBox pointerArea() const;
  // The device nodes the kernel made, such as /dev/input/event5 (for tests).
  std::string keyboardNode() const;
  std::string pointerNode() const;

 private:
  struct Device;
  struct Pointer;
  UInputEventServices(std::string uinputPath, UInputDesktop desktop);
  void sendKey(std::uint32_t keyCode, bool down) override;
  std::shared_ptr<const LayoutTable> currentLayout();
  bool followDesktopSize();
  bool replacePointer(PointerMode mode, DesktopBox area);
  // Waits for the compositor once either device has written enough to fill half the
  // kernel's queue for a reader.
  void letCompositorCatchUp();

  std::string uinputPath_;  // where a pointer made again for a new desktop size comes from
  UInputDesktop desktop_;
  std::unique_ptr<CompositorLayout> compositorLayout_;
  std::unique_ptr<Device> keyboardDevice_;
  std::unique_ptr<Pointer> pointer_;
  bool keyPositions_ = false;
  LayoutKeyboard keyboard_{*this};
};

}  // namespace quillmote
