// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/event_services.h"
#include "platform/layout/assumed_layout.h"
#include "platform/uinput/uinput_event_services.h"

namespace quillmote {

enum class BackendKind { kXTest, kUInput, kTrace };

// "xtest", "uinput" or "trace".
const char* backendName(BackendKind kind);

// QUILLMOTE_BACKEND when set (`requested`); otherwise xtest in an X11 session (`display`
// set and no `waylandDisplay`), otherwise uinput. Nothing, and the reason, when
// `requested` names no backend.
std::optional<BackendKind> chooseBackend(const char* requested, const char* display,
                                         const char* waylandDisplay, std::string& error);

// How the keys a device names are meant: by default as the symbols they carry on a US
// keyboard, typed as such on whatever layout the desktop uses.
struct KeyboardChoice {
  bool keyPositions = false;  // plain US key positions instead, whatever the layout
  std::string layout;         // the --layout option (LAYOUT[:VARIANT]), for uinput
};

// QUILLMOTE_KEYS: unset or "symbols" is false, "positions" true; nothing, and the
// reason, for anything else.
std::optional<bool> keyPositionsRequested(const char* value, std::string& error);

// The file where Debian keeps the system's keyboard layout.
inline constexpr const char* kSystemKeyboardFile = "/etc/default/keyboard";

// What the process's environment says about the desktop, read once by the caller.
struct DesktopEnvironment {
  std::optional<std::string> layout;          // QUILLMOTE_LAYOUT
  std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY
  std::optional<std::string> pointer;         // QUILLMOTE_POINTER
  std::optional<std::string> currentDesktop;  // XDG_CURRENT_DESKTOP ("GNOME", "sway", ...)
  static DesktopEnvironment ofThisProcess();
};

// The layout the uinput backend types for when one is named: the --layout option
// (`option`), else QUILLMOTE_LAYOUT, else, with no compositor to ask, the system keyboard
// file, else us. Nothing when a compositor runs: its own keymap is followed.
std::optional<LayoutNames> namedUInputLayout(const std::string& option,
                                             const DesktopEnvironment& environment,
                                             const std::string& keyboardFile);

// The pointer mode `value` names ("absolute" or "relative"); nothing, and why, for anything
// else. `origin` names where the value came from, for the message.
std::optional<PointerMode> pointerModeNamed(const std::string& value, const std::string& origin,
                                            std::string& error);

// The uinput pointer's mode: `asked` (the option or a preference), else QUILLMOTE_POINTER,
// else absolute; but absolute only where the desktop's size is known (`desktop` not empty).
// Nothing, and why, when QUILLMOTE_POINTER names no mode.
std::optional<PointerMode> choosePointerMode(std::optional<PointerMode> asked,
                                             const DesktopEnvironment& environment,
                                             DesktopBox desktop, std::string& error);

// How the uinput backend's pointer moves and over what.
struct PointerChoice {
  std::optional<PointerMode> mode;  // the --pointer option or a preference; else QUILLMOTE_POINTER
  std::optional<DesktopBox> size;   // where no compositor tells it
};

struct StartedBackend {
  std::unique_ptr<EventServices> events;  // nothing when it could not start
  std::string error;                      // why it could not start, and what to do
  std::string warnings;                   // started, but something will not work
  std::string layout;                     // the layout keys are typed for, and where that came from
  std::string pointer;  // how the pointer moves: "absolute over 1280x720", "relative"
  // The xtest backend's connection to the X server, to watch for its hang-up (see
  // XTestEventServices::connectionDescriptor); -1 for the other backends.
  int displayConnection = -1;
  // Switches between plain positions (true) and layout symbols; only while no thread posts.
  std::function<void(bool)> setKeyPositions = [](bool) {};
  // Switches the uinput pointer to relative steps (true) or back; only while no thread posts.
  std::function<void(bool)> setRelativePointer = [](bool) {};
};

// Starts the backend; the trace backend prints to `traceOut`, a line at a time, and
// always shows positions. The uinput backend types for the named layout, else the
// compositor's; it fails when QUILLMOTE_POINTER names no mode.
StartedBackend startBackend(
    BackendKind kind, std::ostream& traceOut, const KeyboardChoice& keys = {},
    const PointerChoice& pointer = {},
    const DesktopEnvironment& environment = DesktopEnvironment::ofThisProcess());

}  // namespace quillmote
