#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct _XDisplay;

namespace quillmote::test {

// Connects to `displayName` as an application hearing every key, button and motion (the root
// window gets them: no window manager runs); XCloseDisplay ends it. Throws std::runtime_error.
_XDisplay* listenToInput(const std::string& displayName);

// Adds what the application hears, in order, to `heard` until `done` holds (true) or
// `timeout` passes (false); `done` is asked after each batch and every 10 ms. Each event as
// "down A" (the keysym, shift applied), "up A", "press 3", "release 3" or "motion 5,9".
bool hearUntil(_XDisplay* display, std::vector<std::string>& heard,
               const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace quillmote::test
