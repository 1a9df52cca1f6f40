// SPDX-License-Identifier: MIT
#include "platform/backends.h"

#include <cstring>

#include <cstdlib>

#include "platform/layout/assumed_layout.h"
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

std::optional<bool> keyPositionsRequested(const char* value, std::string& error) {
  if (value == nullptr || value[0] == '\0' || std::strcmp(value, "symbols") == 0) return false;
  if (std::strcmp(value, "positions") == 0) return true;
  error = std::string("QUILLMOTE_KEYS=") + value + " is not a way to mean keys; use symbols "
          "(type what a US keyboard types, on any layout) or positions.";
  return std::nullopt;
}

StartedBackend startBackend(BackendKind kind, std::ostream& traceOut, const KeyboardChoice& keys) {
  StartedBackend started;
  switch (kind) {
    case BackendKind::kXTest: {
      auto xtest = XTestEventServices::open(nullptr, keys.keyPositions, started.error,
                                            started.warnings);
      if (!xtest) break;
      started.layout = xtest->layoutDescription() + " (from the X server)";
      started.setKeyPositions = [services = xtest.get()](bool on) {
        services->setKeyPositions(on);
      };
      started.events = std::move(xtest);
      break;
    }
    case BackendKind::kUInput: {
      LayoutNames names = assumeLayout(keys.layout, std::getenv("QUILLMOTE_LAYOUT"),
                                       kSystemKeyboardFile);
      std::shared_ptr<const LayoutTable> layout = compileLayout(names, started.error);
      if (!layout && !keys.keyPositions) break;
      started.error.clear();
      auto uinput = UInputEventServices::open("/dev/uinput", layout, started.error);
      if (!uinput) break;
      started.layout = describeLayout(names) + " (from " + names.source + ")";
      uinput->setKeyPositions(keys.keyPositions);
      started.setKeyPositions = [services = uinput.get()](bool on) {
        services->setKeyPositions(on);
      };
      started.events = std::move(uinput);
      break;
    }
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
