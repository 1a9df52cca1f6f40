// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

struct _XDisplay;

namespace quillmote::test {

// An Xvfb of the caller's own (1280x800, on a free display, keeping what is left pressed when
// clients go), ready for them once constructed or else std::runtime_error; killed with it.
class XvfbServer {
 public:
  XvfbServer();
  const std::string& displayName() const { return displayName_; }  // ":N", for DISPLAY

 private:
  std::string displayName_;
  std::unique_ptr<ChildProcess> process_;
};

// Connects to `displayName` as an application hearing every key, button and motion (the root
// window gets them: no window manager runs); XCloseDisplay ends it. Throws std::runtime_error.
_XDisplay* listenToInput(const std::string& displayName);

// Adds what the application hears to `heard` until `done`, asked every 10 ms, holds (true) or
// `timeout` passes (false): "down A" (the keysym as the client's keymap and the modifiers give
// it), "down Control+z" (with Control), "up A", "press 3", "motion 5,9".
bool hearUntil(_XDisplay* display, std::vector<std::string>& heard,
               const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace quillmote::test
