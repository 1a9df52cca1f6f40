// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <streambuf>
#include <string>

#include "support/interpreter_harness.h"

namespace quillmote::test {

// A trace backend's output collected as the reader thread writes it, so that a test can
// wait for an event while translation runs. Lines come without their comments.
class LiveTrace final : public std::streambuf {
 public:
  // True once `line` has been written, false after `timeout`.
  bool waitFor(const std::string& line, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return written_.wait_for(lock, timeout, [&] {
      return ("\n" + withoutComments(text_)).find("\n" + line + "\n") != std::string::npos;
    });
  }
  // Every line so far, each ending in a newline.
  std::string text() const {
    std::lock_guard lock(mutex_);
    return withoutComments(text_);
  }

 private:
  int_type overflow(int_type c) override {  // no put area: every character comes here
    std::lock_guard lock(mutex_);
    text_ += traits_type::to_char_type(c);
    if (c == '\n') written_.notify_all();
    return c;
  }
  mutable std::mutex mutex_;
  std::condition_variable written_;
  std::string text_;
};

}  // namespace quillmote::test
