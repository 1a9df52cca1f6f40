// SPDX-License-Identifier: MIT
#include "platform/uinput/uinput_event_services.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/key_code_translation.h"
#include "platform/uinput/device_opened.h"

namespace quillmote {
namespace {

// Left, right, third: the order of the button flags.
constexpr unsigned int kButtons[3] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
// The highest key code a layout can need: XKB reaches key code 255, evdev 247.
constexpr unsigned int kHighestKey = 255 - kXkbKeyCodeOffset;
// How long a desktop may take to open a new device before the first event is sent anyway:
// nothing opens it on a console, and a slow desktop is better late than never.
constexpr auto kOpenPatience = std::chrono::milliseconds(3000);
// libinput takes a button's release and press within 25 ms of its last change for a switch
// bouncing and drops them: a double-click's second click would vanish. Changes of one
// button are kept this far apart.
constexpr auto kButtonSettleTime = std::chrono::milliseconds(30);
// A relative motion that reaches an edge from anywhere on any desktop, acceleration or not.
constexpr int kFarMotion = 65535;
// The kernel keeps 64 events of a device for each reader, and when a burst overflows that
// while the reader is busy (a compositor drawing, or compiling a new keymap) it throws the
// whole queue away: half a line of text gone. After half a queue the compositor is asked
// to answer, which it does once it has read what waits.
constexpr int kUnansweredEventLimit = 32;
// A compositor that has not answered by then is hung; the events go on regardless.
constexpr auto kCompositorPatience = std::chrono::milliseconds(2000);

std::string accessAdvice(const char* uinputPath, int error) {
  std::string advice = std::string("cannot create the virtual keyboard and mouse through ") +
                       uinputPath + ": " + std::generic_category().message(error) + ". ";
  if (error == ENOENT || error == ENODEV) {
    return advice +
           "Load the uinput module (sudo modprobe uinput; to load it at every boot, "
           "add the line uinput to /etc/modules-load.d/uinput.conf).";
  }
  return advice +
         "Give your user write access to it: a udev rule such as "
         "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\" in "
         "/etc/udev/rules.d/70-quillmote-uinput.rules, then sudo udevadm trigger "
         "(or add your user to a group that owns /dev/uinput and log in again).";
}

}  // namespace

const char* pointerModeName(PointerMode mode) {
  switch (mode) {
    case PointerMode::kAbsolute:
      return "absolute";
    case PointerMode::kRelative:
      return "relative";
  }
  return "?";
}

// One virtual device, made from a description and gone with the object.
struct UInputEventServices::Device {
  libevdev* description = libevdev_new();
  libevdev_uinput* device = nullptr;
  int uinput = -1;
  int unanswered = 0;  // events written since the compositor last answered

  ~Device() {
    if (device) libevdev_uinput_destroy(device);
    libevdev_free(description);
    if (uinput >= 0) close(uinput);
  }
  bool create(const char* uinputPath, std::string& error) {
    uinput = ::open(uinputPath, O_RDWR | O_CLOEXEC);
    if (uinput < 0) {
      error = accessAdvice(uinputPath, errno);
      return false;
    }
    int created = libevdev_uinput_create_from_device(description, uinput, &device);
    if (created != 0) {
      error = std::string("cannot create the virtual device \"") + libevdev_get_name(description) +
              "\": " + std::generic_category().message(-created) + ".";
      return false;
    }
    return true;
  }
  std::string node() const {
    const char* path = libevdev_uinput_get_devnode(device);
    return path ? path : "";
  }
  void emit(unsigned int type, unsigned int code, int value) {
    libevdev_uinput_write_event(device, type, code, value);
    ++unanswered;
  }
  void report() { emit(EV_SYN, SYN_REPORT, 0); }
};

// The pointer device and what the backend knows of the pointer.
struct UInputEventServices::Pointer {
  Device device;
  PointerMode mode = PointerMode::kRelative;
  DesktopBox area;  // absolute: the box the axes span, one step a logical pixel
  GlobalMousePoint position{};
  ButtonFlags postedButtons{};
  std::array<std::chrono::steady_clock::time_point, 3> lastChanged{};
  std::array<int, 2> postedAxes{};  // absolute: what the device last said (0 when new)

  static std::unique_ptr<Pointer> create(const char* uinputPath, PointerMode mode, DesktopBox area,
                                         std::string& error) {
    auto pointer = std::make_unique<Pointer>();
    pointer->mode = area.width > 0 && area.height > 0 ? mode : PointerMode::kRelative;
    pointer->area = area;
    libevdev* description = pointer->device.description;
    libevdev_set_name(description, kVirtualPointerName);
    libevdev_enable_event_type(description, EV_KEY);
    for (unsigned int button : kButtons) {
      libevdev_enable_event_code(description, EV_KEY, button, nullptr);
    }
    if (pointer->mode == PointerMode::kAbsolute) {
      // A range as wide as the desktop: the compositor scales the axis onto its layout
      // box, so each step lands on one whole logical pixel.
      libevdev_enable_event_type(description, EV_ABS);
      input_absinfo x{0, 0, area.width - 1, 0, 0, 0};
      input_absinfo y{0, 0, area.height - 1, 0, 0, 0};
      libevdev_enable_event_code(description, EV_ABS, ABS_X, &x);
      libevdev_enable_event_code(description, EV_ABS, ABS_Y, &y);
    } else {
      libevdev_enable_event_type(description, EV_REL);
      libevdev_enable_event_code(description, EV_REL, REL_X, nullptr);
      libevdev_enable_event_code(description, EV_REL, REL_Y, nullptr);
    }
    if (!pointer->device.create(uinputPath, error)) return nullptr;
    return pointer;
  }

  GlobalMousePoint confine(Point target) const {
    GlobalMousePoint to{toPointerField(target.y), toPointerField(target.x)};
    if (mode == PointerMode::kAbsolute) {
      to.h = static_cast<std::int16_t>(std::clamp<int>(to.h, 0, area.width - 1));
      to.v = static_cast<std::int16_t>(std::clamp<int>(to.v, 0, area.height - 1));
    } else {
      // The desktop's top and left edges are known even where its size is not: a move past
      // them stops there, and so does the position kept here.
      to.h = std::max<std::int16_t>(to.h, 0);
      to.v = std::max<std::int16_t>(to.v, 0);
    }
    return to;
  }

  void moveTo(GlobalMousePoint target) {
    if (mode == PointerMode::kAbsolute) {
      const std::array<int, 2> axes = {target.h, target.v};
      for (int i = 0; i < 2; ++i) {
        const unsigned int axis = i == 0 ? ABS_X : ABS_Y;
        // The kernel drops a value equal to the last one; the desktop's pointer may have
        // moved since (another mouse), so a step aside first makes the value count.
        if (axes[i] == postedAxes[i]) device.emit(EV_ABS, axis, axes[i] == 0 ? 1 : axes[i] - 1);
        device.emit(EV_ABS, axis, axes[i]);
        postedAxes[i] = axes[i];
      }
    } else {
      // A target on the top or left edge is reached by a motion far past it: the backend
      // cannot know where the pointer is, but the edge stops it there.
      int dx = target.h == 0 ? -kFarMotion : target.h - position.h;
      int dy = target.v == 0 ? -kFarMotion : target.v - position.v;
      if (dx != 0) device.emit(EV_REL, REL_X, dx);
      if (dy != 0) device.emit(EV_REL, REL_Y, dy);
    }
    position = target;
  }

  void pressButtons(const ButtonFlags& buttons) {
    postButtonChanges(postedButtons, buttons, [this](std::size_t i, bool down) {
      const auto settled = lastChanged[i] + kButtonSettleTime;
      if (std::chrono::steady_clock::now() < settled) {
        report();  // what came before goes out before the wait
        std::this_thread::sleep_until(settled);
      }
      device.emit(EV_KEY, kButtons[i], down ? 1 : 0);
      lastChanged[i] = std::chrono::steady_clock::now();
    });
  }
  void report() { device.report(); }
};

std::unique_ptr<UInputEventServices> UInputEventServices::open(const char* uinputPath,
                                                               UInputDesktop desktop,
                                                               std::string& error) {
  std::unique_ptr<UInputEventServices> services(
      new UInputEventServices(uinputPath, std::move(desktop)));
  UInputDesktop& shown = services->desktop_;
  auto keyboard = std::make_unique<Device>();
  libevdev_set_name(keyboard->description, kVirtualKeyboardName);
  libevdev_enable_event_type(keyboard->description, EV_KEY);
  // Every key a layout may need: which ones, only the compositor's keymap tells, and it
  // sends that only once this keyboard exists.
  for (unsigned int key = KEY_ESC; key <= kHighestKey; ++key) {
    libevdev_enable_event_code(keyboard->description, EV_KEY, key, nullptr);
  }
  if (!keyboard->create(uinputPath, error)) return nullptr;
  DesktopBox area =
      shown.compositor ? shown.compositor->desktop() : shown.size.value_or(DesktopBox{});
  auto pointer = Pointer::create(uinputPath, shown.pointer, area, error);
  if (!pointer) return nullptr;
  waitUntilOpened({keyboard->node(), pointer->device.node()}, kOpenPatience);
  if (shown.compositor && !shown.layout) {
    // The compositor's keymap for the seat arrives once it has taken the keyboard on.
    const auto deadline = std::chrono::steady_clock::now() + kOpenPatience;
    while (shown.compositor->keymapsReceived() == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      shown.compositor->readAnnouncements(std::chrono::milliseconds(50));
    }
    services->compositorLayout_ =
        std::make_unique<CompositorLayout>(*shown.compositor, shown.layoutRecord);
  }
  services->keyboardDevice_ = std::move(keyboard);
  services->pointer_ = std::move(pointer);
  services->setKeyPositions(false);
  return services;
}

UInputEventServices::UInputEventServices(std::string uinputPath, UInputDesktop desktop)
    : uinputPath_(std::move(uinputPath)), desktop_(std::move(desktop)) {}

UInputEventServices::~UInputEventServices() {
  pointer_.reset();
  keyboardDevice_.reset();
  compositorLayout_.reset();
}

std::shared_ptr<const LayoutTable> UInputEventServices::currentLayout() {
  if (!compositorLayout_) return desktop_.layout;
  desktop_.compositor->readAnnouncements();
  return compositorLayout_->current();
}

void UInputEventServices::setKeyPositions(bool keyPositions) {
  keyPositions_ = keyPositions;
  keyboard_.useLayout(keyPositions ? nullptr : currentLayout());
}

std::string UInputEventServices::layoutDescription() {
  std::shared_ptr<const LayoutTable> layout = currentLayout();
  return layout ? layout->name() : "";
}

PointerMode UInputEventServices::pointerMode() const { return pointer_->mode; }
DesktopBox UInputEventServices::pointerArea() const { return pointer_->area; }
std::string UInputEventServices::keyboardNode() const { return keyboardDevice_->node(); }
std::string UInputEventServices::pointerNode() const { return pointer_->device.node(); }

void UInputEventServices::postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool keyDown) {
  if (!keyPositions_ && compositorLayout_) keyboard_.useLayout(currentLayout());
  keyboard_.postKey(keyCode, keyDown);
}

void UInputEventServices::sendKey(std::uint32_t keyCode, bool down) {
  keyboardDevice_->emit(EV_KEY, keyCode - kXkbKeyCodeOffset, down ? 1 : 0);
  keyboardDevice_->report();
  letCompositorCatchUp();
}

void UInputEventServices::letCompositorCatchUp() {
  if (!desktop_.compositor || (keyboardDevice_->unanswered < kUnansweredEventLimit &&
                               pointer_->device.unanswered < kUnansweredEventLimit)) {
    return;
  }
  desktop_.compositor->waitUntilCaughtUp(kCompositorPatience);
  keyboardDevice_->unanswered = pointer_->device.unanswered = 0;
}

// A monitor that came or went changes the box the absolute axes must span: their range is
// fixed when a device is made, so the pointer is made again, its buttons kept down.
bool UInputEventServices::followDesktopSize() {
  if (!desktop_.compositor || pointer_->mode != PointerMode::kAbsolute) return true;
  desktop_.compositor->readAnnouncements();
  DesktopBox now = desktop_.compositor->desktop();
  if (now.width <= 0 || now.height <= 0 || now == pointer_->area) return true;
  return replacePointer(PointerMode::kAbsolute, now);
}

bool UInputEventServices::replacePointer(PointerMode mode, DesktopBox area) {
  std::string error;
  auto replacement = Pointer::create(uinputPath_.c_str(), mode, area, error);
  if (!replacement) return false;
  replacement->position = replacement->confine(
      Point{static_cast<float>(pointer_->position.h), static_cast<float>(pointer_->position.v)});
  const ButtonFlags held = pointer_->postedButtons;
  pointer_ = std::move(replacement);
  waitUntilOpened({pointer_->device.node()}, kOpenPatience);
  pointer_->pressButtons(held);
  pointer_->device.report();
  return true;
}

void UInputEventServices::setPointerMode(PointerMode mode) {
  DesktopBox area =
      desktop_.compositor ? desktop_.compositor->desktop() : desktop_.size.value_or(DesktopBox{});
  if (area.width <= 0 || area.height <= 0) mode = PointerMode::kRelative;
  if (mode != pointer_->mode) replacePointer(mode, area);
}

void UInputEventServices::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                         std::uint32_t, bool leftButton, bool rightButton,
                                         bool thirdButton) {
  followDesktopSize();
  if (updateMouseCursorPosition) pointer_->moveTo(pointer_->confine(position));
  pointer_->pressButtons({leftButton, rightButton, thirdButton});
  pointer_->device.report();
  letCompositorCatchUp();
}

void UInputEventServices::warpMouseCursorPosition(Point position) {
  // No event: only where the next post puts the pointer.
  pointer_->position = pointer_->confine(position);
}

GlobalMousePoint UInputEventServices::getGlobalMouse() { return pointer_->position; }

}  // namespace quillmote
