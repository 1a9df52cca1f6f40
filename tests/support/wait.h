// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <thread>

namespace quillmote::test {

// How long a test waits for what it expects: it bounds waits only, generously for
// sanitizer builds on a loaded machine.
inline constexpr std::chrono::milliseconds kPatience{5000};

// Looks at `done` every few milliseconds (a file that grows or a child that ends wakes no
// thread) until it holds or `timeout` has passed; returns its last answer.
inline bool waitUntil(const auto& done, std::chrono::milliseconds timeout = kPatience) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace quillmote::test
