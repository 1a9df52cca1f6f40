// The keyboard commands as a device sends them: byte streams through a real
// interpreter over the trace backend, compared as whole traces, with the start
// condition and the keys still down at the end, so a key left down or a list left open
// fails as surely as a wrong event.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

using test::bytes;
using test::notation;
using test::TracedInterpreter;

// "55=1 56=5": every key whose state word is not 0, ascending.
std::string keysDown(const KeyState& keys) {
  std::string out;
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    if (keys.state(keyCode) == 0) continue;
    out += (out.empty() ? "" : " ") + std::to_string(keyCode) + "=" +
           std::to_string(keys.state(keyCode));
  }
  return out;
}

// For failure messages: the stream, and the last run's trace with key names.
std::string explain(TracedInterpreter& traced, const std::string& stream) {
  return "bytes: " + notation(stream) + "\nwith key names:\n" + traced.output().str();
}

struct KeyboardCase {
  const char* what;
  const char* stream;  // in the harness notation
  const char* trace;
  StartCondition after = StartCondition::INITIAL;
  const char* keysDownAfter = "";
};

void PrintTo(const KeyboardCase& c, std::ostream* out) { *out << c.what; }

class KeyboardCommand : public testing::TestWithParam<KeyboardCase> {};

TEST_P(KeyboardCommand, posts_exactly_these_key_events) {
  const KeyboardCase& c = GetParam();
  TracedInterpreter traced;
  const std::string stream = bytes(c.stream);
  EXPECT_EQ(traced.run(stream), c.trace) << explain(traced, stream);
  EXPECT_STREQ(startConditionName(traced.interpreter().startCondition()),
               startConditionName(c.after));
  EXPECT_EQ(keysDown(traced.interpreter().keyState()), c.keysDownAfter);
}

constexpr StartCondition COMMAND = StartCondition::COMMAND;
constexpr StartCondition INITIAL = StartCondition::INITIAL;

const KeyboardCase kCases[] = {
    // The worked examples, each from an all-up keyboard.
    {"capital_typed_with_shift_around_it", "A", "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"},
    {"named_enter", "{ESC}enter.", "key 36 down\nkey 36 up\n"},
    {"hold_shift_then_lower_a_gives_capital", "{ESC},hold,shift.a",
     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"},
    {"lock_control_type_c_then_release_all", "{ESC},lock,control.c{ESC},rel.",
     "key 59 down\nkey 8 down\nkey 8 up\nkey 59 up\n"},
    {"combination_releases_in_key_code_order", "{ESC},combine,command,q.",
     "key 55 down\nkey 12 down\nkey 12 up\nkey 55 up\n"},

    // Named keys.
    {"named_capital_a_is_shifted", "{ESC}A.", "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"},
    {"named_lower_a_is_plain", "{ESC}a.", "key 0 down\nkey 0 up\n"},
    {"named_shift_taps_shift_alone", "{ESC}shift.", "key 56 down\nkey 56 up\n"},
    {"named_tilde_presses_shift_around_grave", "{ESC}tilde.",
     "key 56 down\nkey 50 down\nkey 50 up\nkey 56 up\n"},
    {"held_shift_with_named_function_key", "{ESC},hold,shift.{ESC}f1.",
     "key 56 down\nkey 122 down\nkey 122 up\nkey 56 up\n"},
    {"kpins_posts_nothing_but_ends_holds", "{ESC},hold,shift.{ESC}kpins.",
     "key 56 down\nkey 56 up\n"},
    {"unknown_name_posts_nothing_but_ends_holds", "{ESC},hold,shift.{ESC}xyz.",
     "key 56 down\nkey 56 up\n"},
    {"named_key_leaves_locks_down", "{ESC},lock,alt.{ESC}enter.",
     "key 58 down\nkey 36 down\nkey 36 up\n", INITIAL, "58=5"},

    // Typed characters.
    {"held_shift_with_capital", "{ESC},hold,shift.A",
     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"},
    // q (12) held too: shift (56) going up after q shows the capital did not release it.
    {"held_shift_survives_the_capital_until_the_sweep", "{ESC},hold,shift,q.A",
     "key 56 down\nkey 12 down\nkey 0 down\nkey 0 up\nkey 12 up\nkey 56 up\n"},
    {"locked_shift_types_capitals_until_release_all", "{ESC},lock,shift.ab{ESC},rel.",
     "key 56 down\nkey 0 down\nkey 0 up\nkey 11 down\nkey 11 up\nkey 56 up\n"},
    {"held_control_with_capital", "{ESC},hold,control.A",
     "key 59 down\nkey 56 down\nkey 0 down\nkey 0 up\nkey 56 up\nkey 59 up\n"},
    {"byte_31_is_shift_control_minus", "{x1F}",
     "key 56 down\nkey 59 down\nkey 27 down\nkey 27 up\nkey 59 up\nkey 56 up\n"},
    {"tab_and_line_feed_are_control_i_and_j", "{x09}\n",
     "key 59 down\nkey 34 down\nkey 34 up\nkey 59 up\n"
     "key 59 down\nkey 38 down\nkey 38 up\nkey 59 up\n"},
    {"byte_typed_after_escape_stays_in_command", "{ESC}1", "key 18 down\nkey 18 up\n", COMMAND},
    {"key_typed_while_itself_held", "{ESC},hold,a.a", "key 0 down\nkey 0 up\n"},
    // q (12) held beside a (0): if typing q released it, q would go up before a.
    {"key_typed_while_itself_held_goes_up_in_the_sweep", "{ESC},hold,a,q.q",
     "key 0 down\nkey 12 down\nkey 0 up\nkey 12 up\n"},
    {"key_typed_while_itself_locked_posts_nothing", "{ESC},lock,a.a", "key 0 down\n", INITIAL,
     "0=5"},

    // Lists and combinations.
    {"release_all_goes_in_key_code_order_not_press_order",
     "{ESC},lock,control.{ESC},hold,shift.{ESC},rel.",
     "key 59 down\nkey 56 down\nkey 56 up\nkey 59 up\n"},
    {"combination_lets_lower_modifier_up_first", "{ESC},combine,control,up.",
     "key 59 down\nkey 126 down\nkey 59 up\nkey 126 up\n"},
    {"combination_releases_its_keys_then_ends_holds_but_not_locks",
     "{ESC},lock,shift.{ESC},hold,alt.{ESC},combine,zzz,x.",
     "key 56 down\nkey 58 down\nkey 7 down\nkey 7 up\nkey 58 up\n", INITIAL, "56=5"},
    {"lock_list_skips_unknown_names", "{ESC},lock,foo,shift.a",
     "key 56 down\nkey 0 down\nkey 0 up\n", INITIAL, "56=5"},
    {"capital_in_hold_list_holds_shift_and_the_key", "{ESC},hold,A.b",
     "key 56 down\nkey 0 down\nkey 11 down\nkey 11 up\nkey 0 up\nkey 56 up\n"},
    // The line feed is typed with shift held, which ends the hold; the list stays open.
    {"line_feed_inside_hold_list_types_and_ends_holds", "{ESC},hold,shift\n,alt.a",
     "key 56 down\nkey 59 down\nkey 38 down\nkey 38 up\nkey 59 up\nkey 56 up\n"
     "key 58 down\nkey 0 down\nkey 0 up\nkey 58 up\n"},
    {"space_abandons_hold_list_keeping_the_hold", "{ESC},hold,shift x",
     "key 56 down\nkey 7 down\nkey 7 up\nkey 56 up\n"},
    {"abandoned_combination_key_down_for_typing_until_release_all",
     "{ESC},combine,command xy{ESC},rel.",
     "key 55 down\nkey 7 down\nkey 7 up\nkey 16 down\nkey 16 up\nkey 55 up\n"},
    {"abandoned_combination_key_up_at_next_combination", "{ESC},combine,command x{ESC},combine,v.",
     "key 55 down\nkey 7 down\nkey 7 up\nkey 9 down\nkey 9 up\nkey 55 up\n"},
    {"abandoned_combination_key_up_when_named_again", "{ESC},combine,command x{ESC}command.",
     "key 55 down\nkey 7 down\nkey 7 up\nkey 55 up\n"},

    // 13, 127 and 128 to 255 have no US key: nothing is posted for the byte, but it is
    // still a typed character and ends the holds.
    {"carriage_return_ends_holds_but_not_locks", "{ESC},lock,control.{ESC},hold,shift.{x0D}",
     "key 59 down\nkey 56 down\nkey 56 up\n", INITIAL, "59=5"},
    {"high_bytes_post_nothing_but_end_holds", "{x7F}{x80}{xC3}{xA9}{ESC},hold,shift.{xFF}",
     "key 56 down\nkey 56 up\n"},
};

INSTANTIATE_TEST_SUITE_P(Streams, KeyboardCommand, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<KeyboardCase>& info) {
                           return info.param.what;
                         });

// One interpreter across two runs, as translation across a stop and a start: the key
// table and the start condition carry over.
TEST(KeyboardAcrossRuns, keys_and_lists_carry_into_the_next_run) {
  const struct {
    const char* first;
    const char* firstTrace;
    const char* second;
    const char* secondTrace;
  } cases[] = {
      // Shift is not pressed again; the hold sweep releases it.
      {"{ESC},hold,shift.", "key 56 down\n", "A", "key 0 down\nkey 0 up\nkey 56 up\n"},
      {"{ESC},lock,alt.", "key 58 down\n", "{ESC},combine,alt.{ESC},rel.", "key 58 up\n"},
      // ",shift" is pending at the stop: acted on then, and the list goes on.
      {"{ESC},hold,shift", "key 56 down\n", ".a", "key 0 down\nkey 0 up\nkey 56 up\n"},
  };
  for (const auto& c : cases) {
    TracedInterpreter traced;
    ASSERT_EQ(traced.run(bytes(c.first)), c.firstTrace) << notation(bytes(c.first));
    const std::string stream = bytes(c.second);
    EXPECT_EQ(traced.run(stream), c.secondTrace) << explain(traced, stream);
    EXPECT_EQ(keysDown(traced.interpreter().keyState()), "") << notation(stream);
  }
}

}  // namespace
}  // namespace quillmote
