#include "support/live_trace.h"

#include <algorithm>

#include "support/interpreter_harness.h"

namespace quillmote::test {

bool LiveTrace::waitFor(const std::string& line, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [&] { return std::ranges::find(lines_, line) != lines_.end(); });
}

void LiveTrace::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

std::string LiveTrace::text() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const std::string& line : lines_) out += line + '\n';
  return out;
}

LiveTrace::int_type LiveTrace::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::lock_guard lock(mutex_);
  if (traits_type::to_char_type(c) != '\n') {
    partial_ += traits_type::to_char_type(c);
    return c;
  }
  std::string line = withoutComments(partial_);
  if (!line.empty()) line.pop_back();  // withoutComments ends each line with a newline
  lines_.push_back(std::move(line));
  partial_.clear();
  changed_.notify_all();
  return c;
}

}  // namespace quillmote::test
