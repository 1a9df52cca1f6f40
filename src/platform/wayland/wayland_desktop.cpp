// SPDX-License-Identifier: MIT
#include "platform/wayland/wayland_desktop.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <system_error>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace quillmote {

DesktopBox boundingBox(const std::vector<DesktopBox>& outputs) {
  if (outputs.empty()) return {};
  int left = outputs[0].x, top = outputs[0].y;
  int right = left + outputs[0].width, bottom = top + outputs[0].height;
  for (const DesktopBox& output : outputs) {
    left = std::min(left, output.x);
    top = std::min(top, output.y);
    right = std::max(right, output.x + output.width);
    bottom = std::max(bottom, output.y + output.height);
  }
  return DesktopBox{left, top, right - left, bottom - top};
}

struct Output {
  wl_output* output = nullptr;
  zxdg_output_v1* logical = nullptr;
  std::uint32_t name = 0;  // the registry's, to tell which output went
  DesktopBox box;          // logical pixels once xdg-output told them, else the mode's
  std::int32_t scale = 1;
};

struct WaylandDesktop::Globals {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  zxdg_output_manager_v1* outputManager = nullptr;
  std::list<Output> outputs;  // a list: listeners hold pointers to its elements
};

// The compositor's events, as plain functions Wayland's listener tables can hold.
struct WaylandListeners {
  static WaylandDesktop& desktop(void* data) { return *static_cast<WaylandDesktop*>(data); }

  static void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                     std::uint32_t size) {
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
      void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (text != MAP_FAILED) {
        // The text ends with a NUL that the size counts.
        desktop(data).keymap_.assign(static_cast<const char*>(text),
                                     strnlen(static_cast<const char*>(text), size));
        ++desktop(data).keymapsReceived_;
        munmap(text, size);
      }
    }
    close(fd);
  }
  static void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
  static void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
  static void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  }
  static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t, std::uint32_t group) {
    desktop(data).group_ = group;
  }
  static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

  static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    WaylandDesktop::Globals& globals = *desktop(data).globals_;
    const bool hasKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (hasKeyboard && globals.keyboard == nullptr) {
      // A keymap comes with the keyboard, and again whenever the layout changes.
      static const wl_keyboard_listener kKeyboard = {keymap, enter,     leave,
                                                     key,    modifiers, repeatInfo};
      globals.keyboard = wl_seat_get_keyboard(seat);
      wl_keyboard_add_listener(globals.keyboard, &kKeyboard, data);
    } else if (!hasKeyboard && globals.keyboard != nullptr) {
      wl_keyboard_destroy(globals.keyboard);
      globals.keyboard = nullptr;
    }
  }
  static void seatName(void*, wl_seat*, const char*) {}

  static Output& output(void* data) { return *static_cast<Output*>(data); }
  static void geometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t,
                       std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {
    if (output(data).logical == nullptr) output(data).box.x = x, output(data).box.y = y;
  }
  static void mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                   std::int32_t height, std::int32_t) {
    Output& shown = output(data);
    if (shown.logical == nullptr && (flags & WL_OUTPUT_MODE_CURRENT) != 0) {
      shown.box.width = width / std::max(1, shown.scale);
      shown.box.height = height / std::max(1, shown.scale);
    }
  }
  static void outputDone(void*, wl_output*) {}
  static void scale(void* data, wl_output*, std::int32_t factor) { output(data).scale = factor; }
  static void outputName(void*, wl_output*, const char*) {}
  static void outputDescription(void*, wl_output*, const char*) {}

  static void logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    output(data).box.x = x;
    output(data).box.y = y;
  }
  static void logicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
    output(data).box.width = width;
    output(data).box.height = height;
  }
  static void logicalDone(void*, zxdg_output_v1*) {}
  static void logicalName(void*, zxdg_output_v1*, const char*) {}
  static void logicalDescription(void*, zxdg_output_v1*, const char*) {}

  // The position and size a compositor gives an output in the layout, scaling included.
  static void describeLogically(WaylandDesktop::Globals& globals, Output& shown) {
    static const zxdg_output_v1_listener kLogical = {logicalPosition, logicalSize, logicalDone,
                                                     logicalName, logicalDescription};
    if (globals.outputManager == nullptr || shown.logical != nullptr) return;
    shown.logical = zxdg_output_manager_v1_get_xdg_output(globals.outputManager, shown.output);
    zxdg_output_v1_add_listener(shown.logical, &kLogical, &shown);
  }

  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    WaylandDesktop::Globals& globals = *desktop(data).globals_;
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals.seat == nullptr) {
      static const wl_seat_listener kSeat = {capabilities, seatName};
      globals.seat = static_cast<wl_seat*>(
          wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
      wl_seat_add_listener(globals.seat, &kSeat, data);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
      static const wl_output_listener kOutput = {geometry, mode,       outputDone,
                                                 scale,    outputName, outputDescription};
      Output& added = globals.outputs.emplace_back();
      added.name = name;
      added.output = static_cast<wl_output*>(
          wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
      wl_output_add_listener(added.output, &kOutput, &added);
      describeLogically(globals, added);
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
      globals.outputManager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
          registry, name, &zxdg_output_manager_v1_interface, std::min(version, 2u)));
      for (Output& shown : globals.outputs) describeLogically(globals, shown);
    }
  }
  static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
    WaylandDesktop::Globals& globals = *desktop(data).globals_;
    globals.outputs.remove_if([name](Output& gone) {
      if (gone.name != name) return false;
      if (gone.logical != nullptr) zxdg_output_v1_destroy(gone.logical);
      wl_output_destroy(gone.output);
      return true;
    });
  }
};

std::unique_ptr<WaylandDesktop> WaylandDesktop::connect(const char* displayName,
                                                        std::string& error) {
  wl_display* display = wl_display_connect(displayName);
  if (display == nullptr) {
    error = std::string("cannot connect to the Wayland compositor \"") +
            (displayName ? displayName : "") + "\": " + std::generic_category().message(errno) +
            ".";
    return nullptr;
  }
  std::unique_ptr<WaylandDesktop> desktop(new WaylandDesktop());
  desktop->globals_ = std::make_unique<Globals>();
  desktop->globals_->display = display;
  static const wl_registry_listener kRegistry = {WaylandListeners::global,
                                                 WaylandListeners::globalRemove};
  desktop->globals_->registry = wl_display_get_registry(display);
  wl_registry_add_listener(desktop->globals_->registry, &kRegistry, desktop.get());
  // The globals, then their first events (the outputs' sizes, the seat's capabilities),
  // then the keymap of a keyboard bound in answer to those.
  for (int round = 0; round < 3; ++round) wl_display_roundtrip(display);
  return desktop;
}

WaylandDesktop::~WaylandDesktop() {
  if (!globals_) return;
  for (Output& output : globals_->outputs) {
    if (output.logical != nullptr) zxdg_output_v1_destroy(output.logical);
    wl_output_destroy(output.output);
  }
  if (globals_->keyboard != nullptr) wl_keyboard_destroy(globals_->keyboard);
  if (globals_->seat != nullptr) wl_seat_destroy(globals_->seat);
  if (globals_->outputManager != nullptr) zxdg_output_manager_v1_destroy(globals_->outputManager);
  wl_registry_destroy(globals_->registry);
  wl_display_disconnect(globals_->display);
}

void WaylandDesktop::readAnnouncements(std::chrono::milliseconds timeout) {
  wl_display* display = globals_->display;
  // A connection the compositor closed keeps what it last said.
  if (wl_display_get_error(display) != 0) return;
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return;
  }
  wl_display_flush(display);
  pollfd connection{wl_display_get_fd(display), POLLIN, 0};
  if (poll(&connection, 1, static_cast<int>(timeout.count())) > 0) {
    wl_display_read_events(display);
  } else {
    wl_display_cancel_read(display);
  }
  wl_display_dispatch_pending(display);
}

bool WaylandDesktop::waitUntilCaughtUp(std::chrono::milliseconds patience) {
  using Clock = std::chrono::steady_clock;
  wl_display* display = globals_->display;
  bool answered = false;
  static const wl_callback_listener kAnswer = {
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback* question = wl_display_sync(display);
  wl_callback_add_listener(question, &kAnswer, &answered);
  const Clock::time_point deadline = Clock::now() + patience;
  while (!answered && wl_display_get_error(display) == 0 && Clock::now() < deadline) {
    readAnnouncements(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
  }
  // An answer that comes after this is dropped with the object.
  wl_callback_destroy(question);
  return answered;
}

DesktopBox WaylandDesktop::desktop() const {
  std::vector<DesktopBox> boxes;
  for (const Output& output : globals_->outputs) {
    if (output.box.width > 0 && output.box.height > 0) boxes.push_back(output.box);
  }
  return boundingBox(boxes);
}

}  // namespace quillmote
