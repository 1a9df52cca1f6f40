// The keyboard commands as a device sends them: byte streams through a real
// interpreter over the trace backend, compared as whole traces. Each case also names
// the start condition the stream leaves and the keys still down at its end, so a key
// left down by mistake, or a list left open, fails as surely as a wrong event.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/key_code_translation.h"
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
    if (!out.empty()) out += ' ';
    out += std::to_string(keyCode) + "=" + std::to_string(keys.state(keyCode));
  }
  return out;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "key 56 down" becomes "key 56 down (shift)", for reading a failed trace.
std::string withKeyName(const std::string& line) {
  unsigned keyCode = 0;
  char direction[8] = {};
  if (std::sscanf(line.c_str(), "key %u %7s", &keyCode, direction) == 2) {
    if (std::optional<KeyCodeTranslation> key =
            translateKeyCode(static_cast<std::uint16_t>(keyCode))) {
      return line + " (" + key->name + ")";
    }
  }
  return line;
}

// The stream in notation, then expected and actual traces side by side.
std::string sideBySide(std::string_view stream, const std::string& expected,
                       const std::string& actual) {
  std::vector<std::string> left = splitLines(expected);
  std::vector<std::string> right = splitLines(actual);
  std::ostringstream out;
  out << "bytes: " << notation(stream) << "\n";
  out << "  expected                         | actual\n";
  for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    std::string l = i < left.size() ? withKeyName(left[i]) : "";
    std::string r = i < right.size() ? withKeyName(right[i]) : "";
    out << (l == r ? "  " : "! ") << l << std::string(l.size() < 33 ? 33 - l.size() : 1, ' ')
        << "| " << r << "\n";
  }
  return out.str();
}

struct KeyboardCase {
  const char* what;
  const char* stream;  // in the harness notation
  const char* trace;
  StartCondition after;
  const char* keysDownAfter;
};

// Names the case in gtest's messages instead of dumping the struct's bytes.
void PrintTo(const KeyboardCase& c, std::ostream* out) { *out << c.what; }

class KeyboardCommand : public testing::TestWithParam<KeyboardCase> {};

TEST_P(KeyboardCommand, posts_exactly_these_key_events) {
  const KeyboardCase& c = GetParam();
  TracedInterpreter traced;
  std::string stream = bytes(c.stream);

  std::string actual = traced.run(stream);

  EXPECT_EQ(actual, c.trace) << sideBySide(stream, c.trace, actual);
  EXPECT_STREQ(startConditionName(traced.interpreter().startCondition()),
               startConditionName(c.after))
      << "bytes: " << notation(stream);
  EXPECT_EQ(keysDown(traced.interpreter().keyState()), c.keysDownAfter)
      << "bytes: " << notation(stream);
}

std::string caseName(const testing::TestParamInfo<KeyboardCase>& info) {
  return info.param.what;
}

constexpr StartCondition INITIAL = StartCondition::INITIAL;
constexpr StartCondition COMMAND = StartCondition::COMMAND;
constexpr StartCondition HOLD_LIST = StartCondition::HOLD_LIST;

// The five sequences a device most often sends, each from an all-up keyboard.
INSTANTIATE_TEST_SUITE_P(
    Typical, KeyboardCommand,
    testing::Values(
        KeyboardCase{"capital_typed_with_shift_around_it", "A",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"named_enter", "{ESC}enter.",
                     "key 36 down\nkey 36 up\n", INITIAL, ""},
        KeyboardCase{"hold_shift_then_lower_a_gives_capital", "{ESC},hold,shift.a",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"lock_control_type_c_then_release_all",
                     "{ESC},lock,control.c{ESC},rel.",
                     "key 59 down\nkey 8 down\nkey 8 up\nkey 59 up\n", INITIAL, ""},
        KeyboardCase{"combination_releases_in_key_code_order",
                     "{ESC},combine,command,q.",
                     "key 55 down\nkey 12 down\nkey 12 up\nkey 55 up\n", INITIAL, ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    NamedKeys, KeyboardCommand,
    testing::Values(
        KeyboardCase{"named_capital_a_is_shifted", "{ESC}A.",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"named_lower_a_is_plain", "{ESC}a.",
                     "key 0 down\nkey 0 up\n", INITIAL, ""},
        KeyboardCase{"name_in_capitals", "{ESC}ENTER.",
                     "key 36 down\nkey 36 up\n", INITIAL, ""},
        KeyboardCase{"name_with_capital_initial", "{ESC}Enter.",
                     "key 36 down\nkey 36 up\n", INITIAL, ""},
        KeyboardCase{"name_with_digits", "{ESC}f12.",
                     "key 111 down\nkey 111 up\n", INITIAL, ""},
        KeyboardCase{"named_shift_taps_shift_alone", "{ESC}shift.",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"named_right_alt_taps_option", "{ESC}rightalt.",
                     "key 58 down\nkey 58 up\n", INITIAL, ""},
        KeyboardCase{"named_tilde_presses_shift_around_grave", "{ESC}tilde.",
                     "key 56 down\nkey 50 down\nkey 50 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"held_control_with_named_tilde",
                     "{ESC},hold,control.{ESC}tilde.",
                     "key 59 down\nkey 56 down\nkey 50 down\nkey 50 up\nkey 56 up\n"
                     "key 59 up\n",
                     INITIAL, ""},
        KeyboardCase{"held_shift_with_named_function_key", "{ESC},hold,shift.{ESC}f1.",
                     "key 56 down\nkey 122 down\nkey 122 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"kpins_posts_nothing_but_ends_holds",
                     "{ESC},hold,shift.{ESC}kpins.",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"unknown_name_posts_nothing_but_ends_holds",
                     "{ESC},hold,shift.{ESC}xyz.",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"unknown_name_with_digits_posts_nothing", "{ESC}f13.", "", INITIAL,
                     ""},
        KeyboardCase{"named_key_leaves_locks_down", "{ESC},lock,alt.{ESC}enter.",
                     "key 58 down\nkey 36 down\nkey 36 up\n", INITIAL, "58=5"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    TypedCharacters, KeyboardCommand,
    testing::Values(
        // Shift is already held: it is not pressed again, and it comes up only in the
        // hold sweep, after the key.
        KeyboardCase{"held_shift_with_capital", "{ESC},hold,shift.A",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n", INITIAL, ""},
        // With q held too, the sweep shows shift was not released by the typed key:
        // q (12) goes up before shift (56).
        KeyboardCase{"held_shift_survives_the_capital_until_the_sweep",
                     "{ESC},hold,shift,q.A",
                     "key 56 down\nkey 12 down\nkey 0 down\nkey 0 up\nkey 12 up\n"
                     "key 56 up\n",
                     INITIAL, ""},
        KeyboardCase{"locked_shift_types_capitals_until_release_all",
                     "{ESC},lock,shift.ab",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 11 down\nkey 11 up\n",
                     INITIAL, "56=5"},
        KeyboardCase{"locked_shift_goes_up_at_release_all",
                     "{ESC},lock,shift.ab{ESC},rel.",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 11 down\nkey 11 up\n"
                     "key 56 up\n",
                     INITIAL, ""},
        KeyboardCase{"held_control_with_capital",
                     "{ESC},hold,control.A",
                     "key 59 down\nkey 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n"
                     "key 59 up\n",
                     INITIAL, ""},
        KeyboardCase{"byte_31_is_shift_control_minus", "{x1F}",
                     "key 56 down\nkey 59 down\nkey 27 down\nkey 27 up\nkey 59 up\n"
                     "key 56 up\n",
                     INITIAL, ""},
        KeyboardCase{"tab_byte_is_control_i", "{x09}",
                     "key 59 down\nkey 34 down\nkey 34 up\nkey 59 up\n", INITIAL, ""},
        KeyboardCase{"line_feed_is_control_j", "\n",
                     "key 59 down\nkey 38 down\nkey 38 up\nkey 59 up\n", INITIAL, ""},
        KeyboardCase{"escape_in_initial_types_nothing", "{ESC}", "", COMMAND, ""},
        KeyboardCase{"byte_typed_after_escape_stays_in_command", "{ESC}1",
                     "key 18 down\nkey 18 up\n", COMMAND, ""},
        KeyboardCase{"key_typed_while_itself_held", "{ESC},hold,a.a",
                     "key 0 down\nkey 0 up\n", INITIAL, ""},
        // q (12) held beside a (0): if typing q released it, q would go up before a.
        KeyboardCase{"key_typed_while_itself_held_goes_up_in_the_sweep",
                     "{ESC},hold,a,q.q",
                     "key 0 down\nkey 12 down\nkey 0 up\nkey 12 up\n", INITIAL, ""},
        KeyboardCase{"key_typed_while_itself_locked_posts_nothing", "{ESC},lock,a.a",
                     "key 0 down\n", INITIAL, "0=5"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Lists, KeyboardCommand,
    testing::Values(
        KeyboardCase{"release_all_goes_in_key_code_order_not_press_order",
                     "{ESC},lock,control.{ESC},hold,shift.{ESC},rel.",
                     "key 59 down\nkey 56 down\nkey 56 up\nkey 59 up\n", INITIAL, ""},
        KeyboardCase{"release_all_with_nothing_down", "{ESC},rel.", "", INITIAL, ""},
        KeyboardCase{"combination_lets_lower_modifier_up_first",
                     "{ESC},combine,control,up.",
                     "key 59 down\nkey 126 down\nkey 59 up\nkey 126 up\n", INITIAL, ""},
        // The combination's own keys go up before the holds end.
        KeyboardCase{"combination_releases_its_keys_then_ends_holds",
                     "{ESC},hold,alt.{ESC},combine,zzz,x.",
                     "key 58 down\nkey 7 down\nkey 7 up\nkey 58 up\n", INITIAL, ""},
        KeyboardCase{"combination_of_a_held_modifier_leaves_it_to_the_sweep",
                     "{ESC},hold,shift.{ESC},combine,shift,a.",
                     "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"lock_list_skips_unknown_names", "{ESC},lock,foo,shift.a",
                     "key 56 down\nkey 0 down\nkey 0 up\n", INITIAL, "56=5"},
        KeyboardCase{"lock_list_of_two_released_together",
                     "{ESC},lock,shift,alt.ab{ESC},rel.",
                     "key 56 down\nkey 58 down\nkey 0 down\nkey 0 up\nkey 11 down\n"
                     "key 11 up\nkey 56 up\nkey 58 up\n",
                     INITIAL, ""},
        KeyboardCase{"capital_in_hold_list_holds_shift_and_the_key",
                     "{ESC},hold,A.b",
                     "key 56 down\nkey 0 down\nkey 11 down\nkey 11 up\nkey 0 up\n"
                     "key 56 up\n",
                     INITIAL, ""},
        KeyboardCase{"hold_list_ended_holds_until_next_key", "{ESC},hold,shift.",
                     "key 56 down\n", INITIAL, "56=3"},
        // The line feed is typed with shift held, which ends the hold; the list is
        // still open for alt.
        KeyboardCase{"line_feed_inside_hold_list_types_and_ends_holds",
                     "{ESC},hold,shift\n,alt.a",
                     "key 56 down\nkey 59 down\nkey 38 down\nkey 38 up\nkey 59 up\n"
                     "key 56 up\nkey 58 down\nkey 0 down\nkey 0 up\nkey 58 up\n",
                     INITIAL, ""},
        KeyboardCase{"line_feed_leaves_hold_list_open", "{ESC},hold,shift\n",
                     "key 56 down\nkey 59 down\nkey 38 down\nkey 38 up\nkey 59 up\n"
                     "key 56 up\n",
                     HOLD_LIST, ""},
        KeyboardCase{"hold_newline_then_shift", "{ESC},hold\n,shift.",
                     "key 59 down\nkey 38 down\nkey 38 up\nkey 59 up\nkey 56 down\n",
                     INITIAL, "56=3"},
        // ",f" is held when the "1" arrives; the "1" abandons the list untyped and the
        // "2" is typed, ending the hold.
        KeyboardCase{"digit_in_hold_list_holds_f_then_types_2", "{ESC},hold,f12",
                     "key 3 down\nkey 19 down\nkey 19 up\nkey 3 up\n", INITIAL, ""},
        KeyboardCase{"space_abandons_hold_list_keeping_the_hold", "{ESC},hold,shift x",
                     "key 56 down\nkey 7 down\nkey 7 up\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"high_byte_abandons_combination_keys_stay_down",
                     "{ESC},combine,control,a{x80}",
                     "key 59 down\nkey 0 down\n", INITIAL, "0=1 59=1"},
        KeyboardCase{"abandoned_combination_leaves_command_down_for_typing",
                     "{ESC},combine,command xy",
                     "key 55 down\nkey 7 down\nkey 7 up\nkey 16 down\nkey 16 up\n",
                     INITIAL, "55=1"},
        KeyboardCase{"abandoned_combination_key_up_at_release_all",
                     "{ESC},combine,command xy{ESC},rel.",
                     "key 55 down\nkey 7 down\nkey 7 up\nkey 16 down\nkey 16 up\n"
                     "key 55 up\n",
                     INITIAL, ""},
        KeyboardCase{"abandoned_combination_key_up_at_next_combination",
                     "{ESC},combine,command x{ESC},combine,v.",
                     "key 55 down\nkey 7 down\nkey 7 up\nkey 9 down\nkey 9 up\n"
                     "key 55 up\n",
                     INITIAL, ""},
        KeyboardCase{"abandoned_combination_key_up_when_named_again",
                     "{ESC},combine,command x{ESC}command.",
                     "key 55 down\nkey 7 down\nkey 7 up\nkey 55 up\n", INITIAL, ""}),
    caseName);

// 13, 127 and 128 to 255 have no US key. Typing one posts nothing for the byte, but it
// is still a typed character and ends the holds like any other.
INSTANTIATE_TEST_SUITE_P(
    BytesWithoutKey, KeyboardCommand,
    testing::Values(
        KeyboardCase{"carriage_return_ends_holds_only", "{ESC},hold,shift.{x0D}",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"delete_char_ends_holds_only", "{ESC},hold,shift.{x7F}",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"byte_80_ends_holds_only", "{ESC},hold,shift.{x80}",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"byte_ff_ends_holds_only", "{ESC},hold,shift.{xFF}",
                     "key 56 down\nkey 56 up\n", INITIAL, ""},
        KeyboardCase{"carriage_return_leaves_locks_down", "{ESC},lock,control.{x0D}",
                     "key 59 down\n", INITIAL, "59=5"},
        KeyboardCase{"high_bytes_alone_post_nothing", "{x0D}{x7F}{x80}{xC3}{xA9}{xFF}",
                     "", INITIAL, ""},
        KeyboardCase{"carriage_return_after_escape_stays_in_command", "{ESC}{x0D}", "",
                     COMMAND, ""}),
    caseName);

// One interpreter across two runs, as translation across a stop and a start: the key
// table is not reset, so a key down at the stop is still down afterwards.
TEST(KeyboardAcrossRuns, key_held_in_one_run_is_still_down_in_the_next) {
  TracedInterpreter traced;
  ASSERT_EQ(traced.run(bytes("{ESC},hold,shift.")), "key 56 down\n");

  std::string stream = bytes("A");
  std::string actual = traced.run(stream);

  // Shift is not pressed again; the hold sweep releases it.
  std::string expected = "key 0 down\nkey 0 up\nkey 56 up\n";
  EXPECT_EQ(actual, expected) << sideBySide(stream, expected, actual);
  EXPECT_EQ(keysDown(traced.interpreter().keyState()), "");
}

TEST(KeyboardAcrossRuns, key_locked_in_one_run_is_released_by_release_all_in_the_next) {
  TracedInterpreter traced;
  ASSERT_EQ(traced.run(bytes("{ESC},lock,alt.")), "key 58 down\n");

  std::string stream = bytes("{ESC},combine,alt.{ESC},rel.");
  std::string actual = traced.run(stream);

  std::string expected = "key 58 up\n";
  EXPECT_EQ(actual, expected) << sideBySide(stream, expected, actual);
}

// The run ends with ",shift" pending: it is acted on at the end of input, and the next
// run goes on inside the same hold list.
TEST(KeyboardAcrossRuns, hold_list_cut_by_a_stop_goes_on_in_the_next_run) {
  TracedInterpreter traced;
  ASSERT_EQ(traced.run(bytes("{ESC},hold,shift")), "key 56 down\n");
  ASSERT_EQ(traced.interpreter().startCondition(), StartCondition::HOLD_LIST);

  std::string stream = bytes(".a");
  std::string actual = traced.run(stream);

  std::string expected = "key 0 down\nkey 0 up\nkey 56 up\n";
  EXPECT_EQ(actual, expected) << sideBySide(stream, expected, actual);
}

}  // namespace
}  // namespace quillmote
