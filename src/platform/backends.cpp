// SPDX-License-Identifier: MIT
#include "platform/backends.h"

#include <cstdlib>
#include <cstring>

#include "platform/layout/assumed_layout.h"
#include "platform/trace_event_services.h"
#include "platform/uinput/uinput_event_services.h"
#include "platform/xtest/xtest_event_services.h"

namespace quillmote {

const char* backendName(BackendKind kind) {
  switch (kind) {
    case BackendKind::kXTest:
      return "xtest";
    case BackendKind::kUInput:
      return "uinput";
    case BackendKind::kTrace:
      return "trace";
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
  error = std::string("QUILLMOTE_KEYS=") + value +
          " is not a way to mean keys; use symbols "
          "(type what a US keyboard types, on any layout) or positions.";
  return std::nullopt;
}

DesktopEnvironment DesktopEnvironment::ofThisProcess() {
  auto value = [](const char* name) -> std::optional<std::string> {
    // At start, before any thread of ours runs; nothing in the program sets the environment.
    const char* set = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    if (set == nullptr || set[0] == '\0') return std::nullopt;
    return set;
  };
  return {value("QUILLMOTE_LAYOUT"), value("WAYLAND_DISPLAY"), value("QUILLMOTE_POINTER"),
          value("XDG_CURRENT_DESKTOP")};
}

std::optional<LayoutNames> namedUInputLayout(const std::string& option,
                                             const DesktopEnvironment& environment,
                                             const std::string& keyboardFile) {
  if (option.empty() && !environment.layout && environment.waylandDisplay) return std::nullopt;
  return assumeLayout(option, environment.layout ? environment.layout->c_str() : nullptr,
                      keyboardFile);
}

std::optional<PointerMode> pointerModeNamed(const std::string& value, const std::string& origin,
                                            std::string& error) {
  for (PointerMode mode : {PointerMode::kAbsolute, PointerMode::kRelative}) {
    if (value == pointerModeName(mode)) return mode;
  }
  error = origin + " " + value +
          " is not a way to move the pointer; use absolute (to the "
          "exact spot) or relative (by steps, for use beside another mouse).";
  return std::nullopt;
}

std::optional<PointerMode> choosePointerMode(std::optional<PointerMode> asked,
                                             const DesktopEnvironment& environment,
                                             DesktopBox desktop, std::string& error) {
  if (!asked && environment.pointer) {
    asked = pointerModeNamed(*environment.pointer, "QUILLMOTE_POINTER=", error);
    if (!asked) return std::nullopt;
  }
  if (desktop.width <= 0 || desktop.height <= 0) return PointerMode::kRelative;
  return asked.value_or(PointerMode::kAbsolute);
}

namespace {

// The uinput backend on the desktop the environment describes.
void startUInput(StartedBackend& started, const KeyboardChoice& keys, const PointerChoice& pointer,
                 const DesktopEnvironment& environment) {
  UInputDesktop desktop;
  desktop.size = pointer.size;
  std::string unreachable;
  if (environment.waylandDisplay) {
    desktop.compositor = WaylandDesktop::connect(environment.waylandDisplay->c_str(), unreachable);
  }
  DesktopBox size =
      desktop.compositor ? desktop.compositor->desktop() : desktop.size.value_or(DesktopBox{});
  std::optional<PointerMode> mode =
      choosePointerMode(pointer.mode, environment, size, started.error);
  if (!mode) return;
  desktop.pointer = *mode;
  // Without a compositor to ask, the layout is named or assumed.
  DesktopEnvironment asked = environment;
  if (!desktop.compositor) asked.waylandDisplay.reset();
  std::optional<LayoutNames> names = namedUInputLayout(keys.layout, asked, kSystemKeyboardFile);
  if (names) {
    desktop.layout = compileLayout(*names, started.error);
    if (!desktop.layout && !keys.keyPositions) return;
    started.error.clear();
  }
  // GNOME alone keeps a record of the input source in use that others may read.
  if (environment.currentDesktop &&
      environment.currentDesktop->find("GNOME") != std::string::npos) {
    desktop.layoutRecord = gnomeInputSource;
  }
  auto uinput = UInputEventServices::open("/dev/uinput", std::move(desktop), started.error);
  if (!uinput) return;
  if (names) {
    started.layout = describeLayout(*names) + " (from " + names->source + ")";
  } else {
    std::string fromCompositor = uinput->layoutDescription();
    started.layout = fromCompositor.empty() ? "unknown: the Wayland compositor sent no keymap"
                                            : fromCompositor + " (from the Wayland compositor)";
  }
  DesktopBox area = uinput->pointerArea();
  started.pointer =
      uinput->pointerMode() == PointerMode::kAbsolute
          ? "absolute over " + std::to_string(area.width) + "x" + std::to_string(area.height)
          : "relative";
  if (!unreachable.empty()) started.warnings = unreachable;
  uinput->setKeyPositions(keys.keyPositions);
  started.setKeyPositions = [services = uinput.get()](bool on) { services->setKeyPositions(on); };
  // A relative pointer asked for at start stays one; a preference can ask for it later.
  started.setRelativePointer = [services = uinput.get(), chosen = *mode](bool relative) {
    services->setPointerMode(relative ? PointerMode::kRelative : chosen);
  };
  started.events = std::move(uinput);
}

}  // namespace

StartedBackend startBackend(BackendKind kind, std::ostream& traceOut, const KeyboardChoice& keys,
                            const PointerChoice& pointer, const DesktopEnvironment& environment) {
  StartedBackend started;
  switch (kind) {
    case BackendKind::kXTest: {
      auto xtest =
          XTestEventServices::open(nullptr, keys.keyPositions, started.error, started.warnings);
      if (!xtest) break;
      started.layout = xtest->layoutDescription() + " (from the X server)";
      started.displayConnection = xtest->connectionDescriptor();
      started.setKeyPositions = [services = xtest.get()](bool on) {
        services->setKeyPositions(on);
      };
      started.events = std::move(xtest);
      break;
    }
    case BackendKind::kUInput:
      startUInput(started, keys, pointer, environment);
      break;
    case BackendKind::kTrace: {
      auto trace = std::make_unique<TraceEventServices>(traceOut, ScreenSize{}, GlobalMousePoint{});
      trace->setFlushEachLine(true);
      started.events = std::move(trace);
      break;
    }
  }
  return started;
}

}  // namespace quillmote
