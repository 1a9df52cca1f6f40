#include "support/live_trace.h"

#include "support/interpreter_harness.h"

namespace quillmote::test {

LiveTrace::int_type LiveTrace::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::lock_guard lock(mutex_);
  partial_ += traits_type::to_char_type(c);
  if (partial_.back() == '\n') {
    lines_ += withoutComments(partial_);  // keeps the newline
    partial_.clear();
    changed_.notify_all();
  }
  return c;
}

}  // namespace quillmote::test
