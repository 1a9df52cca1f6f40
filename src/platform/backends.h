// SPDX-License-Identifier: MIT
#pragma once

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

struct StartedBackend {
  std::unique_ptr<EventServices> events;  // nothing when it could not start
  std::string error;                      // why it could not start, and what to do
  std::string warnings;                   // started, but something will not work
};

// Starts the backend; the trace backend prints to `traceOut`, a line at a time.
StartedBackend startBackend(BackendKind kind, std::ostream& traceOut);

}  // namespace quillmote
