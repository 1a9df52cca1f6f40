// SPDX-License-Identifier: MIT
#include "platform/backends.h"

#include <cstring>

#include "platform/trace_event_services.h"
#include "platform/uinput/uinput_event_services.h"
#include "platform/xtest/xtest_event_services.h"

namespace quillmote {

const char* backendName(BackendKind kind) {
  switch (kind) {
    case BackendKind::kXTest: return "xtest";
    case BackendKind::kUInput: return "uinput";
    case BackendKind::kTrace: return "trace";
  }
  return "?";
}

std::optional<BackendKind> chooseBackend(const char* requested, const char* display,
                                         const char* waylandDisplay, std::string& error) {
  auto isSet = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  if (isSet(requested)) {
    for (BackendKind kind : {BackendKind::kXTest, BackendKind::kUInput, BackendKind::kTrace}) {
      if (std::strcmp(requested, backendName(kind)) == 0) return kind;
    }
    error = std::string("QUILLMOTE_BACKEND=") + requested +
            " names no backend; use xtest, uinput or trace.";
    return std::nullopt;
  }
  if (isSet(display) && !isSet(waylandDisplay)) return BackendKind::kXTest;
  return BackendKind::kUInput;
}

StartedBackend startBackend(BackendKind kind, std::ostream& traceOut) {
  StartedBackend started;
  switch (kind) {
    case BackendKind::kXTest:
      started.events = XTestEventServices::open(nullptr, started.error, started.warnings);
      break;
    case BackendKind::kUInput:
      started.events = UInputEventServices::open("/dev/uinput", started.error);
      break;
    case BackendKind::kTrace: {
      auto trace = std::make_unique<TraceEventServices>(traceOut, ScreenSize{},
                                                        GlobalMousePoint{});
      trace->setFlushEachLine(true);
      started.events = std::move(trace);
      break;
    }
  }
  return started;
}

}  // namespace quillmote
