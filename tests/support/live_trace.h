#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <streambuf>
#include <string>

namespace quillmote::test {

// A trace backend's output collected line by line, without comments, as the reader
// thread writes it, so a test can wait for an event while translation runs.
class LiveTrace final : public std::streambuf {
 public:
  // True once `line` has been written, false after `timeout`.
  bool waitFor(const std::string& line, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      return ("\n" + lines_).find("\n" + line + "\n") != std::string::npos;
    });
  }
  // Every complete line so far, each ending in a newline.
  std::string text() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  int_type overflow(int_type c) override;  // no put area: every character comes here
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string partial_, lines_;
};

}  // namespace quillmote::test
