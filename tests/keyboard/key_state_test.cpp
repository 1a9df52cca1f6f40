// The key state table: every operation from every reachable state word, and the order
// in which the sweeping operations let keys up.
#include "keyboard/key_state.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmote {
namespace {

// Key transitions as "+42" and "-42"; anything else posted shows as "?".
class KeyEvents final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool down) override {
    log += (charCode != 0 ? "?" : "") + std::string(down ? " +" : " -") + std::to_string(keyCode);
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override { log += "?"; }
  void warpMouseCursorPosition(Point) override { log += "?"; }
  GlobalMousePoint getGlobalMouse() override { return {}; }
  std::string log;
};

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
      KeyEvents events;
      KeyState keys(events);
      // Reached as the commands reach it: 1 by a press, 3 by a hold, 5 by a lock, 7 by both.
      if (row.before == kKeyDown) keys.key_press(kKey);
      if (row.before & kKeyHeld) keys.key_hold(kKey);
      if (row.before & kKeyLocked) keys.key_lock(kKey);
      ASSERT_EQ(keys.state(kKey), row.before);
      events.log.clear();
      kOperations[op](keys, kKey);
      const std::string cell = row.cells[op];
      EXPECT_EQ(keys.state(kKey), cell[0] - '0');
      EXPECT_EQ(events.log, cell.size() == 1 ? "" : std::string(" ") + cell[1] + "42");
      for (int other = 0; other < 256; ++other) {
        ASSERT_EQ(keys.state(other), other == kKey ? keys.state(kKey) : 0) << "key " << other;
      }
    }
  }
}

// Keys 0 and 255 in every sweep, so that a sweep stopping short of either end shows.
TEST(KeyState, sweeps_go_in_key_code_order_and_spare_what_they_do_not_own) {
  const struct {
    Operation sweep;
    const char* events;
    const char* after;  // state words of keys 0, 12, 55, 56, 58, 59, 255
  } cases[] = {
      {kOperations[6], " -12 -55 -255", "3 0 0 3 7 5 0"},  // release all: pressed keys
      {kOperations[4], " -0 -56 -255", "0 1 1 0 5 5 0"},       // unhold: held, not locked
      {kOperations[7], " -0 -12 -55 -56 -58 -59 -255", "0 0 0 0 0 0 0"},  // unlock all
  };
  for (const auto& c : cases) {
    KeyEvents events;
    KeyState keys(events);
    keys.key_press(255);
    keys.key_press(55);
    keys.key_press(12);
    keys.key_press(0);  // down before it was held: the hold alone ends it
    keys.key_hold(0);
    keys.key_hold(56);
    keys.key_hold(58);
    keys.key_lock(58);
    keys.key_lock(59);
    if (c.sweep != kOperations[6]) keys.key_hold(255);
    events.log.clear();
    c.sweep(keys, 0);
    EXPECT_EQ(events.log, c.events);
    std::string after;
    for (int code : {0, 12, 55, 56, 58, 59, 255}) after += std::to_string(keys.state(code)) + " ";
    EXPECT_EQ(after, std::string(c.after) + " ");
  }
}

}  // namespace
}  // namespace quillmote
