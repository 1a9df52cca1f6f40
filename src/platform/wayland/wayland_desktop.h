// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmote {

// A rectangle of the desktop in the compositor's logical pixels.
struct DesktopBox {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const DesktopBox&) const = default;
};

// The smallest box around `outputs`; empty (zero size) when there are none.
DesktopBox boundingBox(const std::vector<DesktopBox>& outputs);

// A connection to the Wayland compositor as an ordinary client, for what any client may
// learn of the desktop: the keymap the seat's keyboard types with, the active group where
// the compositor says it, and where the outputs lie. Nothing is read until asked; one
// thread at a time.
class WaylandDesktop {
 public:
  // Nothing, and why, when no compositor answers at `displayName` (nullptr: the one
  // WAYLAND_DISPLAY names).
  static std::unique_ptr<WaylandDesktop> connect(const char* displayName, std::string& error);
  ~WaylandDesktop();
  WaylandDesktop(const WaylandDesktop&) = delete;
  WaylandDesktop& operator=(const WaylandDesktop&) = delete;

  // Takes in whatever the compositor has sent, waiting at most `timeout` for something
  // to arrive when nothing has.
  void readAnnouncements(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

  // Asks the compositor to answer and waits up to `patience` for it: true once it has.
  // A compositor answers when its loop comes round to its clients, and in the same round
  // it reads the input devices whose events are waiting, so an answer says that what was
  // posted before the question has been read.
  bool waitUntilCaughtUp(std::chrono::milliseconds patience);

  // The keymap (xkb_v1 text) the compositor last sent for the seat's keyboard, and how
  // many it has sent: a new one means new text. Empty, 0, until the seat has a keyboard.
  const std::string& keymap() const { return keymap_; }
  std::uint32_t keymapsReceived() const { return keymapsReceived_; }
  // The active group, which a compositor tells only a client with the keyboard focus.
  std::optional<std::uint32_t> group() const { return group_; }
  // The box around every output; zero size until the outputs are known.
  DesktopBox desktop() const;

  struct Globals;  // the compositor's objects this client bound

 private:
  WaylandDesktop() = default;

  std::unique_ptr<Globals> globals_;
  std::string keymap_;
  std::uint32_t keymapsReceived_ = 0;
  std::optional<std::uint32_t> group_;

  friend struct WaylandListeners;
};

}  // namespace quillmote
