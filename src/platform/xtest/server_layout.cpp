// SPDX-License-Identifier: MIT
#include "platform/xtest/server_layout.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <thread>

namespace quillmote {
namespace {

constexpr std::uint32_t kLowestXKeyCode = 8;
constexpr std::uint32_t kHighestXKeyCode = 255;
// A client decodes a key with the mapping it holds when it reads the key, not the one the
// key was sent under. A code lent again within this time could reach a busy client after
// its new symbol, and type that instead. Long enough for a client on a loaded machine;
// only a burst of more distinct symbols than there are spare codes waits for it (on an
// evdev keymap, about 19 codes, so Latin text on a Greek layout slows to some 45 new
// symbols a second while a person's typing never waits).
constexpr auto kClientCatchUpTime = std::chrono::milliseconds(400);

}  // namespace

std::unique_ptr<ServerLayout> ServerLayout::read(Display* display, std::string& error) {
  int opcode = 0, eventType = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
  xcb_connection_t* connection = XGetXCBConnection(display);
  if (!XkbQueryExtension(display, &opcode, &eventType, &errorBase, &major, &minor) ||
      !xkb_x11_setup_xkb_extension(
          connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
    error =
        "the X display does not offer the XKB extension, so Quillmote cannot tell which "
        "keys type which characters; use --key-positions to press plain US key positions.";
    return nullptr;
  }
  std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
  std::unique_ptr<ServerLayout> layout(
      new ServerLayout(display, eventType, device, xkb_context_new(XKB_CONTEXT_NO_FLAGS)));
  if (device < 0 || layout->context_ == nullptr || !layout->reload()) {
    error =
        "cannot read the X server's keyboard layout; use --key-positions to press plain US "
        "key positions.";
    return nullptr;
  }
  // A new layout (setxkbmap), a changed mapping, and switches of the group.
  unsigned int mapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  XkbSelectEvents(display, XkbUseCoreKbd, mapChanges, mapChanges);
  XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                        XkbGroupStateMask);
  return layout;
}

ServerLayout::ServerLayout(Display* display, int xkbEventType, std::int32_t device,
                           xkb_context* context)
    : display_(display), xkbEventType_(xkbEventType), device_(device), context_(context) {}

ServerLayout::~ServerLayout() {
  // Only key codes that still type what they were lent for: a new layout replaced the rest.
  for (const auto& [keysym, lent] : lentKeyCodes_) {
    const std::uint32_t keyCode = lent.keyCode;
    int perKeyCode = 0;
    KeySym* now = XGetKeyboardMapping(display_, static_cast<KeyCode>(keyCode), 1, &perKeyCode);
    if (now != nullptr && perKeyCode > 0 && now[0] == keysym) {
      KeySym nothing = NoSymbol;
      XChangeKeyboardMapping(display_, static_cast<int>(keyCode), 1, &nothing, 1);
    }
    if (now != nullptr) XFree(now);
  }
  if (!serverGone_) XSync(display_, False);
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  if (context_ != nullptr) xkb_context_unref(context_);
}

bool ServerLayout::reload() {
  xcb_connection_t* connection = XGetXCBConnection(display_);
  xkb_keymap* keymap =
      xkb_x11_keymap_new_from_device(context_, connection, device_, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) return false;
  if (xkb_state* state = xkb_x11_state_new_from_device(keymap, connection, device_)) {
    group_ = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
    xkb_state_unref(state);
  }
  if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
  keymap_ = keymap;
  // A new layout from outside takes back the key codes lent before it.
  std::erase_if(lentKeyCodes_, [this](const auto& lent) {
    const xkb_keysym_t* syms = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(keymap_, lent.second.keyCode, 0, 0, &syms);
    return count != 1 || syms[0] != lent.first;
  });
  table_ = std::make_shared<const LayoutTable>(keymap_, group_, description());
  return true;
}

void ServerLayout::readAnnouncements() {
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != xkbEventType_) continue;
    const auto& announcement = reinterpret_cast<const XkbEvent&>(event);
    switch (announcement.any.xkb_type) {
      case XkbNewKeyboardNotify:
      case XkbMapNotify:
        keymapChanged_ = true;
        break;
      case XkbStateNotify:
        groupChanged_ = group_ != static_cast<std::uint32_t>(announcement.state.group);
        group_ = static_cast<std::uint32_t>(announcement.state.group);
        break;
      default:
        break;
    }
  }
}

std::shared_ptr<const LayoutTable> ServerLayout::current() {
  readAnnouncements();
  if (keymapChanged_) {
    reload();  // a keymap that cannot be read keeps the last one
  } else if (groupChanged_) {
    table_ = std::make_shared<const LayoutTable>(keymap_, group_, description());
  }
  keymapChanged_ = groupChanged_ = false;
  return table_;
}

std::optional<std::uint32_t> ServerLayout::lend(std::uint32_t keysym,
                                                const std::function<bool(std::uint32_t)>& isDown) {
  ++lendCount_;
  if (auto lent = lentKeyCodes_.find(keysym); lent != lentKeyCodes_.end()) {
    lent->second.lastLent = lendCount_;
    lent->second.lentAt = std::chrono::steady_clock::now();
    return lent->second.keyCode;
  }
  std::optional<std::uint32_t> spare;
  // The highest key code with no symbols at all, so no key of a real keyboard changes.
  for (std::uint32_t keyCode = std::min(kHighestXKeyCode, xkb_keymap_max_keycode(keymap_));
       keyCode >= std::max(kLowestXKeyCode, xkb_keymap_min_keycode(keymap_)); --keyCode) {
    bool lent = false;
    for (const auto& entry : lentKeyCodes_) lent = lent || entry.second.keyCode == keyCode;
    if (lent || xkb_keymap_num_layouts_for_key(keymap_, keyCode) != 0) continue;
    spare = keyCode;
    break;
  }
  if (!spare) {
    // A layout without Latin letters needs more symbols than an evdev keymap has spare
    // codes. The code lent longest ago is taken back: every client has long decoded the
    // keys typed with it, so its new symbol changes nothing already typed.
    auto oldest = lentKeyCodes_.end();
    for (auto entry = lentKeyCodes_.begin(); entry != lentKeyCodes_.end(); ++entry) {
      if (isDown(entry->second.keyCode)) continue;
      if (oldest == lentKeyCodes_.end() || entry->second.lastLent < oldest->second.lastLent) {
        oldest = entry;
      }
    }
    if (oldest == lentKeyCodes_.end()) return std::nullopt;
    std::this_thread::sleep_until(oldest->second.lentAt + kClientCatchUpTime);
    spare = oldest->second.keyCode;
    lentKeyCodes_.erase(oldest);
  }
  KeySym atEveryLevel[2] = {keysym, keysym};
  XChangeKeyboardMapping(display_, static_cast<int>(*spare), 2, atEveryLevel, 1);
  lentKeyCodes_[keysym] = LentKeyCode{*spare, lendCount_, std::chrono::steady_clock::now()};
  return spare;
}

std::string ServerLayout::description() const {
  const char* name = xkb_keymap_layout_get_name(keymap_, group_);
  std::string text = name ? name : "unnamed layout";
  if (xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap_); groups > 1) {
    text += " (group " + std::to_string(group_ + 1) + " of " + std::to_string(groups) + ")";
  }
  return text;
}

}  // namespace quillmote
