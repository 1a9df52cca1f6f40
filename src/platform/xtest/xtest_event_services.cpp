// SPDX-License-Identifier: MIT
#include "platform/xtest/xtest_event_services.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

// X button numbers of the left, right and third button.
constexpr unsigned int kXButtons[3] = {1, 3, 2};

// Names the keys the device can send that this server's keymap has no symbol for.
std::string keysWithoutSymbol(Display* display) {
  int minKeyCode = 0, maxKeyCode = 0;
  XDisplayKeycodes(display, &minKeyCode, &maxKeyCode);
  std::string missing;
  for (const KeyCodeTranslation& key : keyCodeTranslations()) {
    int xKeyCode = static_cast<int>(key.evdevCode + kXkbKeyCodeOffset);
    bool mapped = xKeyCode >= minKeyCode && xKeyCode <= maxKeyCode &&
                  XkbKeycodeToKeysym(display, static_cast<KeyCode>(xKeyCode), 0, 0) != NoSymbol;
    if (!mapped) missing += std::string(missing.empty() ? "" : ", ") + key.name;
  }
  return missing;
}

// Whether the server numbers keys as the evdev rules do. Asked of the keys' XKB names,
// which say where a key sits, not of the symbols on them: on AZERTY the key with code 38
// types q and on Russian a Cyrillic letter, yet it is still the key right of Caps Lock.
bool usesEvdevKeyCodes(Display* display) {
  struct NamedKey {
    int keyCode;
    const char* name;
  };
  static constexpr NamedKey kKeys[] = {{38, "AC01"}, {24, "AD01"}, {52, "AB01"}, {10, "AE01"}};
  XkbDescPtr keyboard = XkbGetMap(display, 0, XkbUseCoreKbd);
  if (keyboard == nullptr) return false;
  bool evdev = XkbGetNames(display, XkbKeyNamesMask, keyboard) == Success &&
               keyboard->names != nullptr && keyboard->names->keys != nullptr;
  for (const NamedKey& key : kKeys) {
    if (!evdev) break;
    evdev = key.keyCode >= keyboard->min_key_code && key.keyCode <= keyboard->max_key_code &&
            std::strncmp(keyboard->names->keys[key.keyCode].name, key.name, XkbKeyNameLength) == 0;
  }
  XkbFreeKeyboard(keyboard, 0, True);
  return evdev;
}

// Xlib's default on a broken connection prints its own message and ends the process from
// inside the library, on whichever thread posted, leaving the serial line raw. Both
// handlers return instead: Xlib then marks the display dead and makes every later call
// on it a no-op, and the program, watching the connection, stops in order.
int keepGoingOnIOError(Display*) { return 0; }
void noteConnectionLost(Display*, void* lost) {
  static_cast<std::atomic<bool>*>(lost)->store(true, std::memory_order_relaxed);
}

}  // namespace

std::unique_ptr<XTestEventServices> XTestEventServices::open(const char* displayName,
                                                             bool keyPositions, std::string& error,
                                                             std::string& warnings) {
  const char* shownName = displayName ? displayName : XDisplayName(nullptr);
  Display* display = XOpenDisplay(displayName);
  if (display == nullptr) {
    error = std::string("cannot connect to the X display \"") + shownName +
            "\": is an X11 session running, and is DISPLAY set? (Under Wayland use "
            "QUILLMOTE_BACKEND=uinput.)";
    return nullptr;
  }
  XSetIOErrorHandler(keepGoingOnIOError);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
    error = std::string("the X display \"") + shownName +
            "\" does not offer the XTest extension, which Quillmote needs to type and "
            "click; use QUILLMOTE_BACKEND=uinput instead.";
    XCloseDisplay(display);
    return nullptr;
  }
  if (!usesEvdevKeyCodes(display)) {
    error = std::string("the X display \"") + shownName +
            "\" does not use evdev key codes (key code 38 is not the A key), so keys "
            "would arrive as the wrong keys; use QUILLMOTE_BACKEND=uinput instead.";
    XCloseDisplay(display);
    return nullptr;
  }
  if (std::string missing = keysWithoutSymbol(display); !missing.empty()) {
    warnings = "These keys have no symbol in the X keymap and will do nothing: " + missing + ".";
  }
  std::unique_ptr<XTestEventServices> services(new XTestEventServices(display));
  XSetIOErrorExitHandler(display, noteConnectionLost, &services->connectionLost_);
  std::string layoutError;
  services->serverLayout_ = ServerLayout::read(display, layoutError);
  if (!services->serverLayout_ && !keyPositions) {
    error = layoutError;
    return nullptr;
  }
  services->setKeyPositions(keyPositions);
  return services;
}

XTestEventServices::XTestEventServices(Display* display) : display_(display) {}

XTestEventServices::~XTestEventServices() {
  // A server that has gone took the lent key codes with it; closing its display would
  // wait forever for replies, so the display is kept, reachable, until the process ends.
  pollfd connection{ConnectionNumber(display_), POLLRDHUP, 0};
  bool hungUp = poll(&connection, 1, 0) == 1 && (connection.revents & ~POLLIN) != 0;
  if (gone() || hungUp) {
    if (serverLayout_) serverLayout_->serverGone();
    serverLayout_.reset();
    static std::vector<Display*> abandoned;
    abandoned.push_back(display_);
    return;
  }
  serverLayout_.reset();  // gives lent key codes back while the connection is open
  XCloseDisplay(display_);
}

int XTestEventServices::connectionDescriptor() const { return ConnectionNumber(display_); }

void XTestEventServices::setKeyPositions(bool keyPositions) {
  keyPositions_ = keyPositions || !serverLayout_;
  keyboard_.useLayout(keyPositions_ ? nullptr : serverLayout_->current());
}

void XTestEventServices::postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool keyDown) {
  if (gone()) return;
  if (!keyPositions_) keyboard_.useLayout(serverLayout_->current());
  keyboard_.postKey(keyCode, keyDown);
  if (!gone()) XFlush(display_);
}

void XTestEventServices::sendKey(std::uint32_t keyCode, bool down) {
  if (gone()) return;
  XTestFakeKeyEvent(display_, keyCode, down ? True : False, CurrentTime);
  if (keyCode < keysDown_.size()) keysDown_[keyCode] = down;
}

std::optional<std::uint32_t> XTestEventServices::lendKeyCode(std::uint32_t keysym) {
  if (!serverLayout_ || gone()) return std::nullopt;
  return serverLayout_->lend(keysym, [this](std::uint32_t keyCode) {
    return keyCode < keysDown_.size() && keysDown_[keyCode];
  });
}

std::string XTestEventServices::layoutDescription() const {
  return serverLayout_ ? serverLayout_->description() : "unknown";
}

void XTestEventServices::postMouseEvent(Point position, bool updateMouseCursorPosition,
                                        std::uint32_t, bool leftButton, bool rightButton,
                                        bool thirdButton) {
  if (gone()) return;
  if (updateMouseCursorPosition) {
    warpedTo_.reset();
    XTestFakeMotionEvent(display_, DefaultScreen(display_), toPointerField(position.x),
                         toPointerField(position.y), CurrentTime);
  }
  postButtonChanges(postedButtons_, {leftButton, rightButton, thirdButton},
                    [this](std::size_t i, bool down) {
                      if (!gone()) XTestFakeButtonEvent(display_, kXButtons[i], down, CurrentTime);
                    });
  if (!gone()) XFlush(display_);
}

void XTestEventServices::warpMouseCursorPosition(Point position) {
  // Confined as the server confines the pointer: to the root window, which spans every
  // monitor (asked each time: monitors come and go). Nothing is sent to the server, so
  // no application sees the pointer move; XWarpPointer would send them motion.
  if (gone()) return;
  Window root = 0;
  int rootX = 0, rootY = 0;
  unsigned int width = 1, height = 1, border = 0, depth = 0;
  XGetGeometry(display_, DefaultRootWindow(display_), &root, &rootX, &rootY, &width, &height,
               &border, &depth);
  int x = std::clamp<int>(toPointerField(position.x), 0, static_cast<int>(width) - 1);
  int y = std::clamp<int>(toPointerField(position.y), 0, static_cast<int>(height) - 1);
  warpedTo_ = GlobalMousePoint{static_cast<std::int16_t>(y), static_cast<std::int16_t>(x)};
}

GlobalMousePoint XTestEventServices::getGlobalMouse() {
  if (warpedTo_ || gone()) return warpedTo_.value_or(GlobalMousePoint{});
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
  unsigned int mask = 0;
  XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &windowX,
                &windowY, &mask);
  return GlobalMousePoint{static_cast<std::int16_t>(std::clamp(rootY, -32768, 32767)),
                          static_cast<std::int16_t>(std::clamp(rootX, -32768, 32767))};
}

}  // namespace quillmote
