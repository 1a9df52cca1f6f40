// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/layout/layout_table.h"

struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display
struct xkb_context;
struct xkb_keymap;

namespace quillmote {

// The X server's keyboard layout, followed while translation runs: the keymap through XKB,
// the active group, and the changes the server announces (a new layout, a new mapping, a
// group switch). Also lends spare key codes for symbols the layout has no key for, as X
// clients commonly do; they are given back when this object goes. One thread at a time.
class ServerLayout {
 public:
  // Nothing, and why, when the server's keymap cannot be read.
  static std::unique_ptr<ServerLayout> read(_XDisplay* display, std::string& error);
  ~ServerLayout();

  // The table for the active group, after every change announced so far.
  std::shared_ptr<const LayoutTable> current();

  // A spare key code that now types `keysym` at every level. When every spare code is
  // lent, the one lent longest ago that `isDown` says is up is lent again, once clients
  // have had time to read the keys typed with it (this may wait); nothing when none is up.
  std::optional<std::uint32_t> lend(std::uint32_t keysym,
                                    const std::function<bool(std::uint32_t)>& isDown);

  // The server has gone: the end asks it nothing more (a call on a display whose
  // server has gone can wait forever), and nothing lent is given back.
  void serverGone() {
    lentKeyCodes_.clear();
    serverGone_ = true;
  }

  // The layout's name and, where there are several, which group is active.
  std::string description() const;

 private:
  ServerLayout(_XDisplay* display, int xkbEventType, std::int32_t device, xkb_context* context);
  bool reload();
  void readAnnouncements();

  _XDisplay* display_;
  int xkbEventType_;
  std::int32_t device_;
  xkb_context* context_;
  xkb_keymap* keymap_ = nullptr;
  std::uint32_t group_ = 0;
  bool keymapChanged_ = false;
  bool groupChanged_ = false;
  std::shared_ptr<const LayoutTable> table_;
  struct LentKeyCode {
    std::uint32_t keyCode;
    std::uint64_t lastLent;  // of lendCount_, to find the one lent longest ago
    std::chrono::steady_clock::time_point lentAt;
  };
  std::map<std::uint32_t, LentKeyCode> lentKeyCodes_;  // by keysym
  bool serverGone_ = false;
  std::uint64_t lendCount_ = 0;
};

}  // namespace quillmote
