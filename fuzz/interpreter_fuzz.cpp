// SPDX-License-Identifier: MIT
// The whole interpreter under libFuzzer: bytes in through the memory feed, events out
// through the trace backend, with the promises the keyboard and mouse models make
// checked after every input. Any broken promise aborts, and libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"
#include "support/promise_checker.h"

namespace {

using namespace quillmote;

[[noreturn]] void broken(const std::string& promise) {
  std::fprintf(stderr, "broken promise: %s\n", promise.c_str());
  std::abort();
}

// Runs the input as two runs split where its first byte says (a stop in the middle),
// checks the models, and returns the trace.
std::string runAndCheck(std::string_view input) {
  std::ostringstream out;
  TraceEventServices trace(out, ScreenSize{}, GlobalMousePoint{300, 500});
  test::PromiseChecker events(trace);
  Interpreter interpreter(events);
  std::size_t split = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % (input.size() + 1);
  for (std::string_view run : {input.substr(0, split), input.substr(split)}) {
    MemoryByteSource feed(run);
    if (interpreter.do_quillmote(feed) != 0) broken("a run returns 0");
    events.checkModels(interpreter);
    if (!events.brokenPromises().empty()) broken(events.brokenPromises().front());
  }
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string first = runAndCheck(input);
  if (runAndCheck(input) != first) broken("the same bytes on fresh state give the same trace");
  return 0;
}
