// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/event_services.h"

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

struct StartedBackend {
  std::unique_ptr<EventServices> events;  // nothing when it could not start
  std::string error;                      // why it could not start, and what to do
  std::string warnings;                   // started, but something will not work
  std::string layout;  // the layout keys are typed for, and where that came from
  // Switches between plain positions (true) and layout symbols; only while no thread posts.
  std::function<void(bool)> setKeyPositions = [](bool) {};
};

// Starts the backend; the trace backend prints to `traceOut`, a line at a time, and
// always shows positions. The uinput backend's layout is the one assumeLayout finds.
StartedBackend startBackend(BackendKind kind, std::ostream& traceOut,
                            const KeyboardChoice& keys = {});

}  // namespace quillmote
