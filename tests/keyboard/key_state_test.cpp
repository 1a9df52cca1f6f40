// The key state table: every operation from every reachable state word, and the order
// in which the sweeping operations post their releases. Each key is brought into its
// start state by the operations themselves, so the table cannot hold a value that the
// program could never reach.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "keyboard/key_state.h"

namespace quillmote {
namespace {

// Records each key transition as "key N down" / "key N up"; anything else posted
// through the keyboard model is recorded as a fault.
class KeyEventRecorder final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode,
                         bool keyDown) override {
    std::string line = "key " + std::to_string(keyCode) + (keyDown ? " down" : " up");
    // Key events never carry a character: the window system takes it from the key.
    if (charCode != 0) line += " char=" + std::to_string(charCode);
    events.push_back(line);
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override {
    events.push_back("mouse");
  }
  void warpMouseCursorPosition(Point) override { events.push_back("warp"); }
  GlobalMousePoint getGlobalMouse() override { return {}; }

  std::vector<std::string> events;
};

enum class Operation {
  key_press,
  key_release,
  key_hold,
  key_lock,
  key_unhold,
  key_unlock,
  key_release_all,
  key_unlock_all,
};

const char* operationName(Operation operation) {
  switch (operation) {
    case Operation::key_press: return "key_press";
    case Operation::key_release: return "key_release";
    case Operation::key_hold: return "key_hold";
    case Operation::key_lock: return "key_lock";
    case Operation::key_unhold: return "key_unhold";
    case Operation::key_unlock: return "key_unlock";
    case Operation::key_release_all: return "key_release_all";
    case Operation::key_unlock_all: return "key_unlock_all";
  }
  return "?";
}

void apply(KeyState& keys, Operation operation, std::int16_t keyCode) {
  switch (operation) {
    case Operation::key_press: keys.key_press(keyCode); return;
    case Operation::key_release: keys.key_release(keyCode); return;
    case Operation::key_hold: keys.key_hold(keyCode); return;
    case Operation::key_lock: keys.key_lock(keyCode); return;
    case Operation::key_unhold: keys.key_unhold(); return;
    case Operation::key_unlock: keys.key_unlock(keyCode); return;
    case Operation::key_release_all: keys.key_release_all(); return;
    case Operation::key_unlock_all: keys.key_unlock_all(); return;
  }
}

// Brings `keyCode` from 0 to `state` the way the commands do: 1 by a press, 3 by a
// hold, 5 by a lock, 7 by a hold and then a lock.
void bringInto(KeyState& keys, std::int16_t keyCode, std::int32_t state) {
  if (state == kKeyDown) keys.key_press(keyCode);
  if (state & kKeyHeld) keys.key_hold(keyCode);
  if (state & kKeyLocked) keys.key_lock(keyCode);
}

enum class Posted { nothing, press, release };

struct TransitionCase {
  std::int32_t before;
  Operation operation;
  std::int32_t after;
  Posted posted;
};

using enum Operation;
constexpr Posted N = Posted::nothing;
constexpr Posted P = Posted::press;
constexpr Posted R = Posted::release;

// One row per start state, one cell per operation: the value after, and the event.
const TransitionCase kTransitions[] = {
    {0, key_press, 1, P}, {0, key_release, 0, N}, {0, key_hold, 3, P},
    {0, key_lock, 5, P}, {0, key_unhold, 0, N}, {0, key_unlock, 0, N},
    {0, key_release_all, 0, N}, {0, key_unlock_all, 0, N},

    {1, key_press, 1, N}, {1, key_release, 0, R}, {1, key_hold, 3, N},
    {1, key_lock, 5, N}, {1, key_unhold, 1, N}, {1, key_unlock, 1, N},
    {1, key_release_all, 0, R}, {1, key_unlock_all, 0, R},

    {3, key_press, 3, N}, {3, key_release, 3, N}, {3, key_hold, 3, N},
    {3, key_lock, 7, N}, {3, key_unhold, 0, R}, {3, key_unlock, 3, N},
    {3, key_release_all, 3, N}, {3, key_unlock_all, 0, R},

    {5, key_press, 5, N}, {5, key_release, 5, N}, {5, key_hold, 7, N},
    {5, key_lock, 5, N}, {5, key_unhold, 5, N}, {5, key_unlock, 0, R},
    {5, key_release_all, 5, N}, {5, key_unlock_all, 0, R},

    {7, key_press, 7, N}, {7, key_release, 7, N}, {7, key_hold, 7, N},
    {7, key_lock, 7, N}, {7, key_unhold, 5, N}, {7, key_unlock, 3, N},
    {7, key_release_all, 7, N}, {7, key_unlock_all, 0, R},
};

void PrintTo(const TransitionCase& cell, std::ostream* out) {
  *out << operationName(cell.operation) << " from " << cell.before;
}

class KeyStateTransition : public testing::TestWithParam<TransitionCase> {};

TEST_P(KeyStateTransition, gives_value_and_event_of_the_table) {
  const TransitionCase& cell = GetParam();
  // A key code away from both ends of the table, so an off-by-one sweep would show.
  constexpr std::int16_t kKey = 42;
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  bringInto(keys, kKey, cell.before);
  ASSERT_EQ(keys.state(kKey), cell.before) << "could not reach the start state";
  recorder.events.clear();

  apply(keys, cell.operation, kKey);

  std::vector<std::string> expected;
  if (cell.posted == Posted::press) expected.push_back("key 42 down");
  if (cell.posted == Posted::release) expected.push_back("key 42 up");
  EXPECT_EQ(keys.state(kKey), cell.after);
  EXPECT_EQ(recorder.events, expected);
  for (int other = 0; other < 256; ++other) {
    if (other != kKey) {
      ASSERT_EQ(keys.state(other), 0) << "key " << other << " touched";
    }
  }
}

std::string transitionName(const testing::TestParamInfo<TransitionCase>& info) {
  return "from_" + std::to_string(info.param.before) + "_" +
         operationName(info.param.operation);
}

INSTANTIATE_TEST_SUITE_P(AllStatesAllOperations, KeyStateTransition,
                         testing::ValuesIn(kTransitions), transitionName);

TEST(KeyStateSweep, release_all_goes_in_ascending_key_code_order) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  // Pressed in the opposite order, so press order and code order disagree.
  keys.key_press(55);
  keys.key_press(12);
  recorder.events.clear();

  keys.key_release_all();

  EXPECT_EQ(recorder.events, (std::vector<std::string>{"key 12 up", "key 55 up"}));
  EXPECT_EQ(keys.state(12), 0);
  EXPECT_EQ(keys.state(55), 0);
}

TEST(KeyStateSweep, release_all_leaves_held_and_locked_keys_down) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  keys.key_press(0);
  keys.key_hold(56);
  keys.key_lock(59);
  keys.key_press(255);
  recorder.events.clear();

  keys.key_release_all();

  EXPECT_EQ(recorder.events, (std::vector<std::string>{"key 0 up", "key 255 up"}));
  EXPECT_EQ(keys.state(56), 3);
  EXPECT_EQ(keys.state(59), 5);
}

TEST(KeyStateSweep, unhold_goes_in_ascending_order_and_spares_other_reasons) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  keys.key_hold(59);
  keys.key_hold(0);
  keys.key_press(12);
  keys.key_hold(58);
  keys.key_lock(58);
  keys.key_hold(255);
  recorder.events.clear();

  keys.key_unhold();

  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"key 0 up", "key 59 up", "key 255 up"}));
  EXPECT_EQ(keys.state(12), 1);
  EXPECT_EQ(keys.state(58), 5);
}

TEST(KeyStateSweep, unlock_all_releases_held_then_locked_and_clears_every_word) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  keys.key_lock(59);
  keys.key_hold(56);
  recorder.events.clear();

  keys.key_unlock_all();

  EXPECT_EQ(recorder.events, (std::vector<std::string>{"key 56 up", "key 59 up"}));
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    ASSERT_EQ(keys.state(keyCode), 0) << "key " << keyCode;
  }
}

TEST(KeyStateSweep, unlock_all_reaches_both_ends_of_the_table) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  keys.key_hold(255);
  keys.key_lock(0);
  recorder.events.clear();

  keys.key_unlock_all();

  EXPECT_EQ(recorder.events, (std::vector<std::string>{"key 0 up", "key 255 up"}));
}

TEST(KeyStateSweep, unlock_all_on_all_up_table_posts_nothing) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);

  keys.key_unlock_all();
  keys.key_release_all();
  keys.key_unhold();

  EXPECT_TRUE(recorder.events.empty());
}

TEST(KeyStateSweep, release_after_all_released_posts_nothing) {
  KeyEventRecorder recorder;
  KeyState keys(recorder);
  keys.key_hold(56);
  keys.key_unlock_all();
  recorder.events.clear();

  keys.key_release(56);
  keys.key_unhold();
  keys.key_unlock_all();

  EXPECT_TRUE(recorder.events.empty());
}

}  // namespace
}  // namespace quillmote
