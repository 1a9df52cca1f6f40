// The key state table: every operation from every reachable state word, and the order
// in which the sweeping operations post their releases.
#include "keyboard/key_state.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmote {
namespace {

// Key transitions as trace lines; anything else the keyboard model posts shows too.
class KeyEvents final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool down) override {
    // Key events never carry a character: the window system takes it from the key.
    log += "key " + std::to_string(keyCode) + (down ? " down" : " up") +
           (charCode != 0 ? " char=" + std::to_string(charCode) : "") + "\n";
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override { log += "mouse\n"; }
  void warpMouseCursorPosition(Point) override { log += "warp\n"; }
  GlobalMousePoint getGlobalMouse() override { return {}; }
  std::string log;
};

struct Operation {
  const char* name;
  void (*apply)(KeyState&, std::int16_t);
};

const Operation kOperations[8] = {
    {"key_press", [](KeyState& k, std::int16_t c) { k.key_press(c); }},
    {"key_release", [](KeyState& k, std::int16_t c) { k.key_release(c); }},
    {"key_hold", [](KeyState& k, std::int16_t c) { k.key_hold(c); }},
    {"key_lock", [](KeyState& k, std::int16_t c) { k.key_lock(c); }},
    {"key_unhold", [](KeyState& k, std::int16_t) { k.key_unhold(); }},
    {"key_unlock", [](KeyState& k, std::int16_t c) { k.key_unlock(c); }},
    {"key_release_all", [](KeyState& k, std::int16_t) { k.key_release_all(); }},
    {"key_unlock_all", [](KeyState& k, std::int16_t) { k.key_unlock_all(); }},
};

// One row per state before, one cell per operation in kOperations order: the state
// after, then "+" for a press posted, "-" for a release posted.
struct Row {
  std::int32_t before;
  const char* cells[8];
};
const Row kTransitions[] = {
    {0, {"1+", "0", "3+", "5+", "0", "0", "0", "0"}},
    {1, {"1", "0-", "3", "5", "1", "1", "0-", "0-"}},
    {3, {"3", "3", "3", "7", "0-", "3", "3", "0-"}},
    {5, {"5", "5", "7", "5", "5", "0-", "5", "0-"}},
    {7, {"7", "7", "7", "7", "5", "3", "7", "0-"}},
};

TEST(KeyState, every_operation_from_every_state_gives_the_tables_value_and_event) {
  // Away from both ends of the table, so an off-by-one sweep would show.
  constexpr std::int16_t kKey = 42;
  for (const Row& row : kTransitions) {
    for (int op = 0; op < 8; ++op) {
      SCOPED_TRACE(std::string(kOperations[op].name) + " from " + std::to_string(row.before));
      KeyEvents events;
      KeyState keys(events);
      // Reached the way the commands reach it: 1 by a press, 3 by a hold, 5 by a lock,
      // 7 by a hold and then a lock.
      if (row.before == kKeyDown) keys.key_press(kKey);
      if (row.before & kKeyHeld) keys.key_hold(kKey);
      if (row.before & kKeyLocked) keys.key_lock(kKey);
      ASSERT_EQ(keys.state(kKey), row.before);
      events.log.clear();

      kOperations[op].apply(keys, kKey);

      const std::string cell = row.cells[op];
      EXPECT_EQ(keys.state(kKey), cell[0] - '0');
      EXPECT_EQ(events.log, cell.size() == 1 ? ""
                            : cell[1] == '+' ? "key 42 down\n"
                                             : "key 42 up\n");
      for (int other = 0; other < 256; ++other) {
        if (other != kKey) {
          ASSERT_EQ(keys.state(other), 0) << "key " << other;
        }
      }
    }
  }
}

TEST(KeyState, release_all_goes_up_in_key_code_order_sparing_held_and_locked) {
  KeyEvents events;
  KeyState keys(events);
  keys.key_press(255);
  keys.key_press(55);
  keys.key_press(12);
  keys.key_hold(56);
  keys.key_lock(59);
  events.log.clear();

  keys.key_release_all();

  EXPECT_EQ(events.log, "key 12 up\nkey 55 up\nkey 255 up\n");
  EXPECT_EQ(keys.state(56), 3);
  EXPECT_EQ(keys.state(59), 5);
}

TEST(KeyState, unhold_goes_in_key_code_order_and_spares_keys_down_for_another_reason) {
  KeyEvents events;
  KeyState keys(events);
  keys.key_hold(59);
  keys.key_press(0);  // down before it was held: the hold alone ends it
  keys.key_hold(0);
  keys.key_press(12);
  keys.key_hold(58);
  keys.key_lock(58);
  keys.key_hold(255);
  events.log.clear();

  keys.key_unhold();

  EXPECT_EQ(events.log, "key 0 up\nkey 59 up\nkey 255 up\n");
  EXPECT_EQ(keys.state(12), 1);
  EXPECT_EQ(keys.state(58), 5);
}

TEST(KeyState, unlock_all_releases_every_reason_in_key_code_order_and_clears_the_table) {
  KeyEvents events;
  KeyState keys(events);
  keys.key_lock(59);
  keys.key_hold(56);
  keys.key_hold(255);
  keys.key_lock(0);
  events.log.clear();

  keys.key_unlock_all();

  EXPECT_EQ(events.log, "key 0 up\nkey 56 up\nkey 59 up\nkey 255 up\n");
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    ASSERT_EQ(keys.state(keyCode), 0) << "key " << keyCode;
  }
}

}  // namespace
}  // namespace quillmote
