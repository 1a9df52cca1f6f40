// SPDX-License-Identifier: MIT
#include "platform/uinput/uinput_event_services.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

// XKB key codes are evdev codes plus 8.
constexpr std::uint32_t kEvdevToXkb = 8;
// Left, right, third: the order of the button flags.
constexpr unsigned int kButtons[3] = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};

// Desktops miss the first events of a brand-new input device while they set it up.
constexpr auto kNewDeviceSettleTime = std::chrono::milliseconds(500);

std::int16_t toPointerField(float value) {
  if (std::isnan(value)) return 0;
  return static_cast<std::int16_t>(std::clamp(value, -32768.0f, 32767.0f));
}

std::string accessAdvice(const char* uinputPath, int error) {
  std::string advice = std::string("cannot create the virtual keyboard and mouse through ") +
                       uinputPath + ": " + std::strerror(error) + ". ";
  if (error == ENOENT || error == ENODEV) {
    return advice + "Load the uinput module (sudo modprobe uinput; to load it at every boot, "
                    "add the line uinput to /etc/modules-load.d/uinput.conf).";
  }
  return advice +
         "Give your user write access to it: a udev rule such as "
         "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\" in "
         "/etc/udev/rules.d/70-quillmote-uinput.rules, then sudo udevadm trigger "
         "(or add your user to a group that owns /dev/uinput and log in again).";
}

}  // namespace

struct UInputEventServices::Device {
  libevdev* description = nullptr;
  libevdev_uinput* device = nullptr;
  GlobalMousePoint pointer{};
  std::array<bool, 3> postedButtons{};

  ~Device() {
    if (device) libevdev_uinput_destroy(device);
    if (description) libevdev_free(description);
  }
  void emit(unsigned int type, unsigned int code, int value) {
    libevdev_uinput_write_event(device, type, code, value);
  }
  void report() { emit(EV_SYN, SYN_REPORT, 0); }
};

std::unique_ptr<UInputEventServices> UInputEventServices::open(
    const char* uinputPath, std::shared_ptr<const LayoutTable> layout, std::string& error) {
  int uinput = ::open(uinputPath, O_RDWR | O_CLOEXEC);
  if (uinput < 0) {
    error = accessAdvice(uinputPath, errno);
    return nullptr;
  }
  auto device = std::make_unique<Device>();
  device->description = libevdev_new();
  libevdev_set_name(device->description, kVirtualDeviceName);
  libevdev_enable_event_type(device->description, EV_KEY);
  for (const KeyCodeTranslation& key : keyCodeTranslations()) {
    libevdev_enable_event_code(device->description, EV_KEY, key.evdevCode, nullptr);
  }
  if (layout) {
    for (std::uint32_t keyCode : layout->keyCodesUsed()) {
      libevdev_enable_event_code(device->description, EV_KEY, keyCode - kEvdevToXkb, nullptr);
    }
  }
  for (unsigned int button : kButtons) {
    libevdev_enable_event_code(device->description, EV_KEY, button, nullptr);
  }
  libevdev_enable_event_type(device->description, EV_REL);
  libevdev_enable_event_code(device->description, EV_REL, REL_X, nullptr);
  libevdev_enable_event_code(device->description, EV_REL, REL_Y, nullptr);

  int created = libevdev_uinput_create_from_device(device->description, uinput,
                                                   &device->device);
  if (created != 0) {
    error = std::string("cannot create the virtual keyboard and mouse \"") +
            kVirtualDeviceName + "\": " + std::strerror(-created) + ".";
    close(uinput);
    return nullptr;
  }
  std::this_thread::sleep_for(kNewDeviceSettleTime);
  std::unique_ptr<UInputEventServices> services(new UInputEventServices(std::move(device), uinput));
  services->layout_ = std::move(layout);
  services->setKeyPositions(false);
  return services;
}

UInputEventServices::UInputEventServices(std::unique_ptr<Device> device, int uinputDescriptor)
    : device_(std::move(device)), uinputDescriptor_(uinputDescriptor) {}

UInputEventServices::~UInputEventServices() {
  device_.reset();
  close(uinputDescriptor_);
}

std::string UInputEventServices::deviceNode() const {
  const char* node = libevdev_uinput_get_devnode(device_->device);
  return node ? node : "";
}

void UInputEventServices::postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool keyDown) {
  keyboard_.postKey(keyCode, keyDown);
}

void UInputEventServices::sendKey(std::uint32_t keyCode, bool down) {
  device_->emit(EV_KEY, keyCode - kEvdevToXkb, down ? 1 : 0);
  device_->report();
}

void UInputEventServices::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                         std::uint32_t, bool leftButton, bool rightButton,
                                         bool thirdButton) {
  if (updateMouseCursorPosition) {
    GlobalMousePoint target{toPointerField(position.y), toPointerField(position.x)};
    if (int dx = target.h - device_->pointer.h; dx != 0) device_->emit(EV_REL, REL_X, dx);
    if (int dy = target.v - device_->pointer.v; dy != 0) device_->emit(EV_REL, REL_Y, dy);
    device_->pointer = target;
  }
  const bool buttons[3] = {leftButton, rightButton, thirdButton};
  for (int i = 0; i < 3; ++i) {
    if (buttons[i] == device_->postedButtons[i]) continue;
    device_->emit(EV_KEY, kButtons[i], buttons[i] ? 1 : 0);
    device_->postedButtons[i] = buttons[i];
  }
  device_->report();
}

void UInputEventServices::warpMouseCursorPosition(Point position) {
  // No event: only where the next relative motion starts from.
  device_->pointer = GlobalMousePoint{toPointerField(position.y), toPointerField(position.x)};
}

GlobalMousePoint UInputEventServices::getGlobalMouse() { return device_->pointer; }

}  // namespace quillmote
