// SPDX-License-Identifier: MIT
// The monitor's words for a stream: each command with the start condition its action left,
// where that changed, and its notes; the events its action posted after it.
#include "monitor/monitor_lines.h"

#include <gtest/gtest.h>

#include <sstream>

#include "interpreter/interpreter.h"
#include "monitor/monitor_tap.h"
#include "platform/trace_event_services.h"
#include "support/interpreter_harness.h"

namespace quillmote::test {
namespace {

struct Kept final : MonitorSink {
  void take(const MonitorRecord* records, std::size_t count) override {
    kept.insert(kept.end(), records, records + count);
  }
  std::vector<MonitorRecord> kept;
};

TEST(MonitorLines, commands_carry_the_condition_their_action_left_and_their_notes) {
  struct {
    const char* stream;
    const char* lines;  // all but the byte lines, " | " between them
  } cases[] = {
      {"{ESC}enter.",
       "command ESC  -> COMMAND | command enter.  -> INITIAL | key 36 down  # return"
       " | key 36 up  # return"},
      {"{ESC}{ESC}x",
       "command ESC  -> COMMAND | command ESC | command x | key 7 down  # x"
       " | key 7 up  # x"},
      {"{CR}a",
       "command 0x0D  (typed nothing: no key types it) | command a | key 0 down  # a"
       " | key 0 up  # a"},
      {"{ESC}nokey.",
       "command ESC  -> COMMAND | command nokey.  -> INITIAL  (no key has this name)"},
      {"{ESC},combine,nokey.{CR}",
       "command ESC  -> COMMAND | command ,combine  -> COMBINE_LIST | command ,nokey  (no key has"
       " this name) | command .  -> INITIAL | command 0x0D  (typed nothing: no key types it)"},
      {"{ESC},lock{CR}",
       "command ESC  -> COMMAND | command ,lock  -> LOCK_LIST"
       " | command 0x0D  -> INITIAL"},
      {"{ESC},click,left{CR}",
       "command ESC  -> COMMAND | command ,click  -> MOUSE_BUTTON"
       " | command ,left | command 0x0D  -> INITIAL"},
      {"{ESC}abcdefghijklmnopqrstuvwxyz.",
       "command ESC  -> COMMAND | command abcdefghijklmnopqrst… (27 bytes)  -> INITIAL  (no key has"
       " this name)"},
  };
  for (const auto& c : cases) {
    std::ostringstream traced;
    TraceEventServices trace(traced, ScreenSize{}, GlobalMousePoint{});
    MonitorTap tap(trace);
    Kept sink;
    tap.attach(&sink);
    Interpreter interpreter(tap);
    interpreter.setTokenObserver(&tap);
    std::string streamBytes = bytes(c.stream);
    MemoryByteSource source(streamBytes);
    interpreter.do_quillmote(source);
    MonitorLines words;
    std::vector<std::string> lines;
    for (const MonitorRecord& record : sink.kept) words.add(record, lines);
    std::string shown;
    for (const std::string& line : lines) {
      if (!line.starts_with("byte ")) shown += (shown.empty() ? "" : " | ") + line;
    }
    EXPECT_EQ(shown, c.lines) << c.stream;
  }
}

}  // namespace
}  // namespace quillmote::test
