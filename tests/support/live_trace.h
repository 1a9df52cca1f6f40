#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

namespace quillmote::test {

// A trace backend's output collected line by line, without comments, as the reader
// thread writes it, so a test can wait for an event while translation runs.
class LiveTrace final : public std::streambuf {
 public:
  // True once `line` has been written, false after `timeout`.
  bool waitFor(const std::string& line, std::chrono::milliseconds timeout);
  // Every complete line so far, each ending in a newline.
  std::string text() const;
  // Forgets the lines so far.
  void clear();

 protected:
  // No put area, so every character comes through here.
  int_type overflow(int_type c) override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string partial_;
  std::vector<std::string> lines_;
};

}  // namespace quillmote::test
