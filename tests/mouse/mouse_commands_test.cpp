// The mouse commands as a device sends them: byte streams through a real interpreter
// over the trace backend, compared as whole traces. The pointer starts at 500,300 on
// the default 1920x1080 screen with every button up.
#include "mouse/mouse_commands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

using test::bytes;
using test::TracedInterpreter;

constexpr GlobalMousePoint kStartPointer{.v = 300, .h = 500};

struct MouseCase {
  const char* name;
  const char* stream;  // in the harness notation
  const char* trace;
  StartCondition after = StartCondition::INITIAL;
};

void PrintTo(const MouseCase& c, std::ostream* out) { *out << c.name; }

class MouseCommand : public testing::TestWithParam<MouseCase> {};

TEST_P(MouseCommand, posts_exactly_these_events) {
  const MouseCase& c = GetParam();
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes(c.stream)), c.trace) << "stream: " << c.stream;
  EXPECT_STREQ(startConditionName(traced.interpreter().startCondition()),
               startConditionName(c.after));
}

const MouseCase kCases[] = {
    // Buttons.
    {"click_presses_and_releases_left", "{ESC},click.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"double_click_of_right_posts_four_events", "{ESC},dblclick,right.",
     "mouse 500 300 update=0 buttons=0 1 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"
     "mouse 500 300 update=0 buttons=0 1 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"double_click_defaults_to_left", "{ESC},dblclick.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"last_choice_counts", "{ESC},click,right,left.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"lock_then_drag_then_release", "{ESC},moulock.{ESC},move,10,-5.{ESC},mourel.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "warp 510 295\n"
     "warp 500 300\n"
     "mouse 510 295 update=1 buttons=1 0 0\n"
     "mouse 510 295 update=0 buttons=0 0 0\n"},
    // Released one at a time; then both down again, a left choice narrows the release
    // to the left button and no choice releases both.
    {"both_locked_then_released",
     "{ESC},moulock.{ESC},moulock,right.{ESC},mourel,right.{ESC},mourel."
     "{ESC},moulock.{ESC},moulock,right.{ESC},mourel,left.{ESC},moulock.{ESC},mourel.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=1 1 0\n"
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=1 1 0\n"
     "mouse 500 300 update=0 buttons=0 1 0\n"
     "mouse 500 300 update=0 buttons=1 1 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"release_with_nothing_down_still_posts", "{ESC},mourel.",
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    // A press posts even on a down button, so the click ends the lock.
    {"click_on_locked_button_ends_the_lock", "{ESC},moulock.{ESC},click.{ESC},click,right.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"
     "mouse 500 300 update=0 buttons=0 1 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"reset_with_locked_button_lets_it_up_at_the_corner",
     "{ESC},moulock.{ESC},move,10,-5.{ESC},moureset.",
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "warp 510 295\n"
     "warp 500 300\n"
     "mouse 510 295 update=1 buttons=1 0 0\n"
     "warp 0 0\n"
     "warp 510 295\n"
     "mouse 0 0 update=1 buttons=1 0 0\n"
     "mouse 0 0 update=0 buttons=0 0 0\n"},
    {"click_after_reset_is_at_the_corner_with_all_up",
     "{ESC},moulock,right.{ESC},moureset.{ESC},click.",
     "mouse 500 300 update=0 buttons=0 1 0\n"
     "warp 0 0\n"
     "warp 500 300\n"
     "mouse 0 0 update=1 buttons=0 1 0\n"
     "mouse 0 0 update=0 buttons=0 0 0\n"
     "mouse 0 0 update=0 buttons=1 0 0\n"
     "mouse 0 0 update=0 buttons=0 0 0\n"},

    // Choices: a newline is typed (control+J) and keeps the choice open; any other byte
    // that cannot begin a choice ends it untyped, and what follows is plain typing.
    {"newline_inside_choice_is_typed_then_click", "{ESC},click\n.",
     "key 59 down\nkey 38 down\nkey 38 up\nkey 59 up\n"
     "mouse 500 300 update=0 buttons=1 0 0\n"
     "mouse 500 300 update=0 buttons=0 0 0\n"},
    {"stray_byte_ends_choice_and_period_is_then_typed", "{ESC},clickx.",
     "key 47 down\nkey 47 up\n"},
    {"comma_without_button_name_types_the_rest", "{ESC},click,lex",
     "key 37 down\nkey 37 up\nkey 14 down\nkey 14 up\nkey 7 down\nkey 7 up\n"},
    {"escape_leaves_choice_without_posting", "{ESC},click{ESC}.", "key 47 down\nkey 47 up\n",
     StartCondition::COMMAND},

    // Moves.
    {"zero_move_still_warps_and_posts", "{ESC},move,0,0.",
     "warp 500 300\n"
     "warp 500 300\n"
     "mouse 500 300 update=1 buttons=0 0 0\n"},
    {"beyond_screen_edge_posts_at_confined_position_and_next_move_starts_there",
     "{ESC},move,5000,-1000.{ESC},move,-19,10.",
     "warp 5500 -700\n"
     "warp 500 300\n"
     "mouse 1919 0 update=1 buttons=0 0 0\n"
     "warp 1900 10\n"
     "warp 1919 0\n"
     "mouse 1900 10 update=1 buttons=0 0 0\n"},
    // Wrapped to 32 bits, 2147483648 would be the most negative offset, to the left edge.
    {"offsets_beyond_32_bits_are_clamped_not_wrapped", "{ESC},move,2147483648,-99999999999999.",
     "warp 2147484160 -2147483392\n"  // the clamped offsets added in single precision
     "warp 500 300\n"
     "mouse 1919 0 update=1 buttons=0 0 0\n"},
    // Fields the format cannot read as two numbers: no pointer read, warp or event.
    {"unreadable_move_plus_minus", "{ESC},move,+-,7.", ""},
    {"unreadable_move_lone_sign", "{ESC},move,7,-.", ""},
    {"unreadable_move_sign_after_first_digits", "{ESC},move,1-2,7.", ""},
};

INSTANTIATE_TEST_SUITE_P(Streams, MouseCommand, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<MouseCase>& info) {
                           return info.param.name;
                         });

TEST(MoveOffsets, are_read_as_decimal_integers_clamped_to_32_bits) {
  constexpr std::int32_t kMax = 2147483647;
  constexpr std::int32_t kMin = -2147483647 - 1;
  const struct {
    const char* token;
    std::optional<MoveOffsets> expected;  // nothing: the move must not happen
  } cases[] = {
      {",move,10,-5.", MoveOffsets{10, -5}},
      {",move,+7,+007.", MoveOffsets{7, 7}},
      // Reading stops at the first byte that does not fit a number.
      {",move,1,5-3.", MoveOffsets{1, 5}},
      {",move,1-2,5.", std::nullopt},
      {",move,+-,7.", std::nullopt},
      {",move,-,7.", std::nullopt},
      {",move,7,-.", std::nullopt},
      {",move,--1,1.", std::nullopt},
      {",move,2147483647,-2147483648.", MoveOffsets{kMax, kMin}},
      {",move,2147483648,-2147483649.", MoveOffsets{kMax, kMin}},
      {",move,4294967296,-4294967296.", MoveOffsets{kMax, kMin}},
      {",move,99999999999999999999999999999999999999999,-99999999999999999999999999999.",
       MoveOffsets{kMax, kMin}},
      {",move,000000000000000000000000000000042,1.", MoveOffsets{42, 1}},
  };
  for (const auto& c : cases) {
    std::optional<MoveOffsets> got = parse_move_offsets(c.token);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.token;
    if (got) {
      EXPECT_EQ(got->x, c.expected->x) << c.token;
      EXPECT_EQ(got->y, c.expected->y) << c.token;
    }
  }
}

TEST(MouseState, is_all_zero_before_any_command) {
  TracedInterpreter traced(kStartPointer);
  const MouseState& mouse = traced.interpreter().mouseState();
  EXPECT_EQ(mouse.MousePos.x, 0.0f);
  EXPECT_EQ(mouse.MousePos.y, 0.0f);
  EXPECT_EQ(mouse.MBState, (std::array<std::int32_t, 3>{0, 0, 0}));
}

TEST(MouseState, locked_button_and_open_choice_carry_into_the_next_run) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},moulock.")), "mouse 500 300 update=0 buttons=1 0 0\n");
  EXPECT_EQ(traced.run(bytes("{ESC},move,1,1.{ESC},click,right")),
            "warp 501 301\n"
            "warp 500 300\n"
            "mouse 501 301 update=1 buttons=1 0 0\n");
  EXPECT_EQ(traced.run(bytes(".")),
            "mouse 501 301 update=0 buttons=1 1 0\n"
            "mouse 501 301 update=0 buttons=1 0 0\n");
}

}  // namespace
}  // namespace quillmote
