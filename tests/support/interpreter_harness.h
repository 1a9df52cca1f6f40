#pragma once

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"

namespace quillmote::test {

// Test notation for byte streams: {ESC}, {NUL}, {CR}, {LF}, {TAB}, {SP}, {DEL} for those
// bytes, {xHH} any byte in hex; everything else stands for itself. Any other "{" throws
// std::invalid_argument (write it {x7B}).
std::string bytes(std::string_view notation);

// Drops the " # ..." comments of trace lines, so expectations list events only.
std::string withoutComments(const std::string& trace);

// A real interpreter over the trace backend, its output collected. The same object
// can run several times, as translation does across stops and starts.
class TracedInterpreter {
 public:
  explicit TracedInterpreter(GlobalMousePoint pointer = {}, ScreenSize screen = {});

  // One run over `streamBytes` (raw bytes, not notation); returns the trace lines it
  // produced, without comments.
  std::string run(std::string_view streamBytes);

  Interpreter& interpreter() { return interpreter_; }
  std::ostringstream& output() { return out_; }
  TraceEventServices& events() { return events_; }

 private:
  std::ostringstream out_;
  TraceEventServices events_;
  Interpreter interpreter_;
};

// Records each token with its rule and the start condition its action left, as
// "26 'a' INITIAL"; bytes outside printable ASCII appear as {xHH} or {ESC}.
class TokenLog final : public TokenObserver {
 public:
  void tokenDecided(int rule, std::string_view token) override;
  void actionDone(StartCondition after) override;
  std::vector<std::string> entries;
};

// Shows a byte stream in the test notation, a space as {SP} when asked.
std::string notation(std::string_view streamBytes, bool spaceAsSP = false);

}  // namespace quillmote::test
