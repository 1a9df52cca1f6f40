// SPDX-License-Identifier: MIT
// The key state table, every operation from every reachable state word (the order in which
// the sweeps let several keys up shows in the golden cases); the key-code translation.
#include "keyboard/key_state.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/key_code_translation.h"
#include "platform/trace_event_services.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

using Operation = void (*)(KeyState&, std::int16_t);
const Operation kOperations[8] = {
    [](KeyState& k, std::int16_t c) { k.key_press(c); },
    [](KeyState& k, std::int16_t c) { k.key_release(c); },
    [](KeyState& k, std::int16_t c) { k.key_hold(c); },
    [](KeyState& k, std::int16_t c) { k.key_lock(c); },
    [](KeyState& k, std::int16_t) { k.key_unhold(); },
    [](KeyState& k, std::int16_t c) { k.key_unlock(c); },
    [](KeyState& k, std::int16_t) { k.key_release_all(); },
    [](KeyState& k, std::int16_t) { k.key_unlock_all(); },
};

// One row per state before; one cell per operation, in the order above (press, release,
// hold, lock, unhold, unlock, release all, unlock all): the state after, then "+" for a
// press posted, "-" for a release posted.
const struct {
  std::int32_t before;
  const char* cells[8];
} kTransitions[] = {
    {0, {"1+", "0", "3+", "5+", "0", "0", "0", "0"}},
    {1, {"1", "0-", "3", "5", "1", "1", "0-", "0-"}},
    {3, {"3", "3", "3", "7", "0-", "3", "3", "0-"}},
    {5, {"5", "5", "7", "5", "5", "0-", "5", "0-"}},
    {7, {"7", "7", "7", "7", "5", "3", "7", "0-"}},
};

TEST(KeyState, every_operation_from_every_state_gives_the_tables_word_and_event) {
  constexpr std::int16_t kKey = 42;  // away from both ends, so an off-by-one sweep shows
  for (const auto& row : kTransitions) {
    for (int op = 0; op < 8; ++op) {
      SCOPED_TRACE("operation " + std::to_string(op) + " from " + std::to_string(row.before));
      std::ostringstream events;
      TraceEventServices trace(events, ScreenSize{}, GlobalMousePoint{});
      KeyState keys(trace);
      // Reached as the commands reach it: 1 by a press, 3 by a hold, 5 by a lock, 7 by both.
      if (row.before == kKeyDown) keys.key_press(kKey);
      if (row.before & kKeyHeld) keys.key_hold(kKey);
      if (row.before & kKeyLocked) keys.key_lock(kKey);
      ASSERT_EQ(keys.state(kKey), row.before);
      events.str("");
      kOperations[op](keys, kKey);
      const std::string cell = row.cells[op];
      EXPECT_EQ(keys.state(kKey), cell[0] - '0');
      EXPECT_EQ(test::withoutComments(events.str()),
                cell.size() == 1 ? "" : cell[1] == '+' ? "key 42 down\n" : "key 42 up\n");
      for (int other = 0; other < 256; ++other) {
        ASSERT_EQ(keys.state(other), other == kKey ? keys.state(kKey) : 0) << "key " << other;
      }
    }
  }
}

// Every key the tables produce has an entry: the golden cases name each one ("#N" if not).
TEST(KeyCodeTranslation, is_ascending_on_distinct_evdev_keys_and_ends_at_255) {
  std::set<int> evdevCodes;
  int previous = -1;
  for (const KeyCodeTranslation& translation : keyCodeTranslations()) {
    EXPECT_GT(translation.keyCode, previous);
    previous = translation.keyCode;
    EXPECT_TRUE(evdevCodes.insert(translation.evdevCode).second) << translation.evdevCode;
    EXPECT_TRUE(translateKeyCode(translation.keyCode)) << translation.keyCode;
  }
  for (int keyCode : {52, 255, 256, 0xFFFF}) EXPECT_FALSE(translateKeyCode(keyCode)) << keyCode;
}

}  // namespace
}  // namespace quillmote
