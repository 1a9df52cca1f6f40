// The scanner's input buffer and its end of input, over bytes from memory: a memory
// stream ends the way a stop ends a run on the port.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interpreter/byte_feed.h"
#include "interpreter/interpreter.h"
#include "keyboard/key_state.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

using test::bytes;
using test::TokenLog;
using test::TracedInterpreter;

constexpr int kInitialCapacity = 16384;

// ESC and then a key name of `letters` letters ended by a full stop: after the ESC,
// every letter leaves the token undecided, so all of them are pending when the full
// stop is requested.
std::string longKeyName(std::size_t letters) { return std::string(letters, 'x') + "."; }

// A token is logged as "rule 'text' condition"; comparing the whole entry of a token
// this long would flood a failure message, so this checks it piece by piece.
void expectOneNamedKeyToken(const std::vector<std::string>& entries,
                            const std::string& name) {
  ASSERT_EQ(entries.size(), 2u) << "the key name was split into several tokens";
  EXPECT_EQ(entries[0], "1 '{ESC}' COMMAND");
  const std::string expected = "8 '" + name + "' INITIAL";
  EXPECT_EQ(entries[1].size(), expected.size());
  EXPECT_TRUE(entries[1] == expected)
      << "token begins " << entries[1].substr(0, 40) << " and ends "
      << entries[1].substr(entries[1].size() > 40 ? entries[1].size() - 40 : 0);
}

TEST(ScannerBuffer, first_run_starts_with_16384) {
  TracedInterpreter traced;
  traced.run("a");
  EXPECT_EQ(traced.interpreter().bufferCapacity(), kInitialCapacity);
}

// Every letter scanned while a long token is pending costs a rescan of the token so
// far, so these tokens are kept no longer than the boundaries they test.

TEST(ScannerBuffer, key_name_longer_than_buffer_is_one_token_and_buffer_stays_grown) {
  TracedInterpreter traced;
  TokenLog tokens;
  traced.interpreter().setTokenObserver(&tokens);
  const std::string name = longKeyName(16384);

  EXPECT_EQ(traced.run(bytes("{ESC}") + name), "") << "no key has that name";

  expectOneNamedKeyToken(tokens.entries, name);
  EXPECT_EQ(traced.interpreter().bufferCapacity(), 2 * kInitialCapacity);
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::INITIAL);

  // Later runs keep the grown buffer, with bytes or without.
  EXPECT_EQ(traced.run("a"), "key 0 down\nkey 0 up\n");
  EXPECT_EQ(traced.interpreter().bufferCapacity(), 2 * kInitialCapacity);
  EXPECT_EQ(traced.run(""), "");
  EXPECT_EQ(traced.interpreter().bufferCapacity(), 2 * kInitialCapacity);
}

// The buffer grows when a byte is requested while at least capacity - 1 bytes are
// pending: the last letter of the name is requested with all the others pending.
TEST(ScannerBuffer, grows_only_when_pending_bytes_reach_capacity_minus_one) {
  struct Case {
    std::size_t pendingLetters;
    int capacityAfter;
  };
  const Case cases[] = {
      {16382, kInitialCapacity},      // one short of the threshold: room enough
      {16383, 2 * kInitialCapacity},  // at the threshold: doubled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("pending letters: " + std::to_string(c.pendingLetters));
    TracedInterpreter traced;
    TokenLog tokens;
    traced.interpreter().setTokenObserver(&tokens);
    const std::string name = longKeyName(c.pendingLetters);
    traced.run(bytes("{ESC}") + name);
    expectOneNamedKeyToken(tokens.entries, name);
    EXPECT_EQ(traced.interpreter().bufferCapacity(), c.capacityAfter);
  }
}

TEST(ScannerBuffer, end_of_input_runs_pending_hold) {
  TracedInterpreter traced;
  TokenLog tokens;
  traced.interpreter().setTokenObserver(&tokens);

  // ",shift" could still grow into a longer name; only the end of input decides it.
  EXPECT_EQ(traced.run(bytes("{ESC},hold,shift")), "key 56 down\n");

  EXPECT_EQ(tokens.entries, (std::vector<std::string>{
                                "1 '{ESC}' COMMAND", "9 ',hold' HOLD_LIST",
                                "13 ',shift' HOLD_LIST"}));
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::HOLD_LIST);
  EXPECT_EQ(traced.interpreter().keyState().state(56), kKeyDown | kKeyHeld);
}

TEST(ScannerBuffer, run_without_bytes_changes_nothing) {
  TracedInterpreter traced;
  // Leave some state behind: a locked key, a moved pointer, a locked mouse button, a
  // held key and an open hold list.
  traced.run(bytes("{ESC},lock,ctrl.{ESC},move,5,7.{ESC},moulock.{ESC},hold,shift"));
  Interpreter& interpreter = traced.interpreter();
  const StartCondition conditionBefore = interpreter.startCondition();
  const int capacityBefore = interpreter.bufferCapacity();
  std::vector<std::int32_t> keysBefore;
  for (int code = 0; code < 256; ++code) keysBefore.push_back(interpreter.keyState().state(code));
  const MouseState& mouse = interpreter.mouseState();
  const auto buttonsBefore = mouse.MBState;
  const Point positionBefore = mouse.MousePos;
  ASSERT_EQ(conditionBefore, StartCondition::HOLD_LIST);
  ASSERT_EQ(keysBefore[56], kKeyDown | kKeyHeld);
  ASSERT_NE(keysBefore[59], 0) << "control is not locked";

  TokenLog tokens;
  interpreter.setTokenObserver(&tokens);
  traced.output().str("");
  MemoryByteSource nothing("");
  EXPECT_EQ(interpreter.do_quillmote(nothing), 0);

  EXPECT_EQ(traced.output().str(), "");
  EXPECT_TRUE(tokens.entries.empty());
  EXPECT_EQ(interpreter.startCondition(), conditionBefore);
  EXPECT_EQ(interpreter.bufferCapacity(), capacityBefore);
  std::vector<std::int32_t> keysAfter;
  for (int code = 0; code < 256; ++code) keysAfter.push_back(interpreter.keyState().state(code));
  EXPECT_EQ(keysAfter, keysBefore);
  EXPECT_EQ(mouse.MBState, buttonsBefore);
  EXPECT_EQ(mouse.MousePos.x, positionBefore.x);
  EXPECT_EQ(mouse.MousePos.y, positionBefore.y);
}

TEST(ScannerBuffer, first_run_without_bytes_starts_in_initial) {
  TracedInterpreter traced;
  MemoryByteSource nothing("");
  EXPECT_EQ(traced.interpreter().do_quillmote(nothing), 0);
  EXPECT_EQ(traced.output().str(), "");
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::INITIAL);
  EXPECT_EQ(traced.interpreter().bufferCapacity(), kInitialCapacity);
  // The next run types plainly, as a first run would.
  EXPECT_EQ(traced.run("a"), "key 0 down\nkey 0 up\n");
}

}  // namespace
}  // namespace quillmote
