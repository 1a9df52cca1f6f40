// The mouse commands as a device sends them: byte streams through a real interpreter
// over the trace backend, compared as whole traces. The pointer starts at 500,300 on
// the default 1920x1080 screen with every button up, unless a case says otherwise.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mouse/mouse_commands.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

using test::bytes;
using test::TracedInterpreter;

constexpr GlobalMousePoint kStartPointer{.v = 300, .h = 500};

// --- button commands ---------------------------------------------------------------

struct ButtonCase {
  const char* name;
  const char* stream;  // in the harness notation
  const char* trace;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const ButtonCase& c, std::ostream* out) { *out << c.name; }

class ButtonCommandTest : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(ButtonCommandTest, PostsExactlyTheseEvents) {
  const ButtonCase& c = GetParam();
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes(c.stream)), c.trace) << "stream: " << c.stream;
  // Every complete command here ends the choice.
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::INITIAL);
}

INSTANTIATE_TEST_SUITE_P(
    MouseButtons, ButtonCommandTest,
    ::testing::Values(
        ButtonCase{"click_presses_and_releases_left",
                   "{ESC},click.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"double_click_of_right_posts_four_events",
                   "{ESC},dblclick,right.",
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"double_click_defaults_to_left",
                   "{ESC},dblclick.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"last_choice_counts_right_then_left",
                   "{ESC},click,right,left.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"last_choice_counts_left_then_right",
                   "{ESC},click,left,right.",
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"lock_then_drag_then_release",
                   "{ESC},moulock.{ESC},move,10,-5.{ESC},mourel.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "warp 510 295\n"
                   "warp 500 300\n"
                   "mouse 510 295 update=1 buttons=1 0 0\n"
                   "mouse 510 295 update=0 buttons=0 0 0\n"},
        ButtonCase{"both_locked_then_released_one_at_a_time",
                   "{ESC},moulock.{ESC},moulock,right.{ESC},mourel,right.{ESC},mourel.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=1 1 0\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"release_without_choice_lets_both_up",
                   "{ESC},moulock.{ESC},moulock,right.{ESC},mourel.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=1 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"release_left_choice_leaves_right_down",
                   "{ESC},moulock.{ESC},moulock,right.{ESC},mourel,left.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=1 1 0\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"},
        ButtonCase{"release_with_nothing_down_still_posts",
                   "{ESC},mourel.",
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"right_click_keeps_locked_left_down",
                   "{ESC},moulock.{ESC},click,right.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=1 1 0\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"},
        ButtonCase{"click_on_locked_button_ends_the_lock",
                   "{ESC},moulock.{ESC},click.{ESC},click,right.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"double_click_on_locked_button_ends_the_lock",
                   "{ESC},moulock,right.{ESC},dblclick,right.{ESC},click.",
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"reset_with_locked_button_lets_it_up_at_the_corner",
                   "{ESC},moulock.{ESC},move,10,-5.{ESC},moureset.",
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "warp 510 295\n"
                   "warp 500 300\n"
                   "mouse 510 295 update=1 buttons=1 0 0\n"
                   "warp 0 0\n"
                   "warp 510 295\n"
                   "mouse 0 0 update=1 buttons=1 0 0\n"
                   "mouse 0 0 update=0 buttons=0 0 0\n"},
        ButtonCase{"click_after_reset_is_at_the_corner_with_all_up",
                   "{ESC},moulock,right.{ESC},moureset.{ESC},click.",
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "warp 0 0\n"
                   "warp 500 300\n"
                   "mouse 0 0 update=1 buttons=0 1 0\n"
                   "mouse 0 0 update=0 buttons=0 0 0\n"
                   "mouse 0 0 update=0 buttons=1 0 0\n"
                   "mouse 0 0 update=0 buttons=0 0 0\n"},
        // The newline is typed as control+J and the choice stays open for the period.
        ButtonCase{"newline_inside_choice_is_typed_then_click",
                   "{ESC},click\n.",
                   "key 59 down\n"
                   "key 38 down\n"
                   "key 38 up\n"
                   "key 59 up\n"
                   "mouse 500 300 update=0 buttons=1 0 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"},
        ButtonCase{"newline_between_choices_keeps_the_choice",
                   "{ESC},click,right\n.",
                   "key 59 down\n"
                   "key 38 down\n"
                   "key 38 up\n"
                   "key 59 up\n"
                   "mouse 500 300 update=0 buttons=0 1 0\n"
                   "mouse 500 300 update=0 buttons=0 0 0\n"}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return info.param.name; });

// --- broken-off choices --------------------------------------------------------------

struct BrokenChoiceCase {
  const char* name;
  const char* stream;
  const char* trace;
  StartCondition after;
};

void PrintTo(const BrokenChoiceCase& c, std::ostream* out) { *out << c.name; }

class BrokenChoiceTest : public ::testing::TestWithParam<BrokenChoiceCase> {};

TEST_P(BrokenChoiceTest, CarriesNothingOut) {
  const BrokenChoiceCase& c = GetParam();
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes(c.stream)), c.trace) << "stream: " << c.stream;
  EXPECT_EQ(traced.interpreter().startCondition(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    MouseButtons, BrokenChoiceTest,
    ::testing::Values(
        // The byte that ends the choice is consumed: not typed, no event.
        BrokenChoiceCase{"stray_letter_ends_choice_untyped", "{ESC},clickx", "",
                         StartCondition::INITIAL},
        // The byte after the abandoning one is typed in plain typing.
        BrokenChoiceCase{"byte_after_abandon_is_typed", "{ESC},clickxy",
                         "key 16 down\nkey 16 up\n", StartCondition::INITIAL},
        // A period after the abandon is plain typing, not the end of the choice.
        BrokenChoiceCase{"period_after_abandon_is_typed_not_a_click", "{ESC},clickx.",
                         "key 47 down\nkey 47 up\n", StartCondition::INITIAL},
        // A comma not followed by a whole button name is consumed; the rest is typed.
        BrokenChoiceCase{"comma_without_button_name_types_the_rest", "{ESC},click,lex",
                         "key 37 down\nkey 37 up\n"
                         "key 14 down\nkey 14 up\n"
                         "key 7 down\nkey 7 up\n",
                         StartCondition::INITIAL},
        BrokenChoiceCase{"lock_abandoned_leaves_buttons_up", "{ESC},moulock!{ESC},mourel.",
                         "mouse 500 300 update=0 buttons=0 0 0\n",
                         StartCondition::INITIAL},
        // An escape leaves the choice for a new command; the period is then typed in
        // the command context.
        BrokenChoiceCase{"escape_leaves_choice_without_posting", "{ESC},click{ESC}.",
                         "key 47 down\nkey 47 up\n", StartCondition::COMMAND}),
    [](const ::testing::TestParamInfo<BrokenChoiceCase>& info) { return info.param.name; });

// --- moves ---------------------------------------------------------------------------

TEST(MovePointer, ZeroMoveStillWarpsAndPosts) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},move,0,0.")),
            "warp 500 300\n"
            "warp 500 300\n"
            "mouse 500 300 update=1 buttons=0 0 0\n");
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::INITIAL);
}

TEST(MovePointer, PositiveXRightPositiveYDown) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},move,+7,20.")),
            "warp 507 320\n"
            "warp 500 300\n"
            "mouse 507 320 update=1 buttons=0 0 0\n");
}

TEST(MovePointer, BeyondScreenEdgePostsAtConfinedPositionAndNextMoveStartsThere) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},move,5000,-1000.{ESC},move,-19,10.")),
            "warp 5500 -700\n"
            "warp 500 300\n"
            "mouse 1919 0 update=1 buttons=0 0 0\n"
            "warp 1900 10\n"
            "warp 1919 0\n"
            "mouse 1900 10 update=1 buttons=0 0 0\n");
}

TEST(MovePointer, MovesAddUp) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},move,10,10.{ESC},move,10,10.{ESC},click.")),
            "warp 510 310\n"
            "warp 500 300\n"
            "mouse 510 310 update=1 buttons=0 0 0\n"
            "warp 520 320\n"
            "warp 510 310\n"
            "mouse 520 320 update=1 buttons=0 0 0\n"
            "mouse 520 320 update=0 buttons=1 0 0\n"
            "mouse 520 320 update=0 buttons=0 0 0\n");
}

// The fields the format cannot read as two numbers: the move does nothing at all, and
// the scanner still leaves the command.
struct UnreadableMoveCase {
  const char* name;
  const char* stream;
};

void PrintTo(const UnreadableMoveCase& c, std::ostream* out) { *out << c.name; }

class UnreadableMoveTest : public ::testing::TestWithParam<UnreadableMoveCase> {};

TEST_P(UnreadableMoveTest, PostsNothingAndEndsInInitial) {
  TracedInterpreter traced(kStartPointer);
  const UnreadableMoveCase& c = GetParam();
  EXPECT_EQ(traced.run(bytes(c.stream)), "") << "stream: " << c.stream;
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::INITIAL)
      << "stream: " << c.stream;
  // The pointer was not touched: a following click happens where it started.
  EXPECT_EQ(traced.run(bytes("{ESC},click.")),
            "mouse 500 300 update=0 buttons=1 0 0\n"
            "mouse 500 300 update=0 buttons=0 0 0\n");
}

INSTANTIATE_TEST_SUITE_P(
    MovePointer, UnreadableMoveTest,
    ::testing::Values(UnreadableMoveCase{"plus_minus_first", "{ESC},move,+-,7."},
                      UnreadableMoveCase{"lone_minus_first", "{ESC},move,-,7."},
                      UnreadableMoveCase{"sign_after_first_digits", "{ESC},move,1-2,7."},
                      UnreadableMoveCase{"lone_plus_second", "{ESC},move,7,+."},
                      UnreadableMoveCase{"two_signs_second", "{ESC},move,7,-+3."},
                      UnreadableMoveCase{"two_signs_first", "{ESC},move,++1,2."}),
    [](const ::testing::TestParamInfo<UnreadableMoveCase>& info) { return info.param.name; });

TEST(MovePointer, OffsetBeyond32BitsIsClampedNotWrapped) {
  // 2147483648 wrapped to 32 bits would be the most negative offset, confining the
  // pointer to the left edge; clamped it stays a huge move to the right.
  TracedInterpreter traced(kStartPointer);
  std::string trace = traced.run(bytes("{ESC},move,2147483648,-99999999999999."));
  std::istringstream lines(trace);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), 3u) << trace;
  EXPECT_EQ(all[1], "warp 500 300");
  EXPECT_EQ(all[2], "mouse 1919 0 update=1 buttons=0 0 0");
}

TEST(MovePointer, LockedButtonDragsAlong) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},moulock,right.{ESC},move,-500,0.")),
            "mouse 500 300 update=0 buttons=0 1 0\n"
            "warp 0 300\n"
            "warp 500 300\n"
            "mouse 0 300 update=1 buttons=0 1 0\n");
}

// --- parse_move_offsets ---------------------------------------------------------------

struct OffsetsCase {
  const char* name;
  const char* token;
  std::optional<MoveOffsets> expected;  // nothing: the move must not happen
};

void PrintTo(const OffsetsCase& c, std::ostream* out) { *out << c.name; }

class ParseMoveOffsetsTest : public ::testing::TestWithParam<OffsetsCase> {};

TEST_P(ParseMoveOffsetsTest, ReadsFieldsAsDecimalIntegers) {
  const OffsetsCase& c = GetParam();
  std::optional<MoveOffsets> got = parse_move_offsets(c.token);
  ASSERT_EQ(got.has_value(), c.expected.has_value()) << "token: " << c.token;
  if (got) {
    EXPECT_EQ(got->x, c.expected->x) << "token: " << c.token;
    EXPECT_EQ(got->y, c.expected->y) << "token: " << c.token;
  }
}

constexpr std::int32_t kMax = 2147483647;
constexpr std::int32_t kMin = -2147483647 - 1;

INSTANTIATE_TEST_SUITE_P(
    MovePointer, ParseMoveOffsetsTest,
    ::testing::Values(
        OffsetsCase{"plain_pair", ",move,10,-5.", MoveOffsets{10, -5}},
        OffsetsCase{"plus_signs", ",move,+7,+7.", MoveOffsets{7, 7}},
        OffsetsCase{"signed_zeros", ",move,-0,+0.", MoveOffsets{0, 0}},
        OffsetsCase{"leading_zeros", ",move,007,-010.", MoveOffsets{7, -10}},
        // Reading stops at the first byte that does not fit a number.
        OffsetsCase{"stops_at_sign_after_digits", ",move,1,5-3.", MoveOffsets{1, 5}},
        OffsetsCase{"stops_at_trailing_plus", ",move,1,5+.", MoveOffsets{1, 5}},
        OffsetsCase{"negative_pair_trailing_sign", ",move,-1,-2-.", MoveOffsets{-1, -2}},
        // A sign after the first field's digits leaves no comma where one must be.
        OffsetsCase{"sign_after_first_digits", ",move,1-2,5.", std::nullopt},
        OffsetsCase{"plus_minus", ",move,+-,7.", std::nullopt},
        OffsetsCase{"lone_minus", ",move,-,7.", std::nullopt},
        OffsetsCase{"lone_plus", ",move,+,7.", std::nullopt},
        OffsetsCase{"lone_sign_second_field", ",move,7,-.", std::nullopt},
        OffsetsCase{"two_signs_second_field", ",move,7,+-3.", std::nullopt},
        OffsetsCase{"two_signs_first_field", ",move,--1,1.", std::nullopt},
        // The 32-bit range exactly, and clamped just past it and far past it.
        OffsetsCase{"range_limits_exact", ",move,2147483647,-2147483648.",
                    MoveOffsets{kMax, kMin}},
        OffsetsCase{"range_limits_exact_swapped", ",move,-2147483648,2147483647.",
                    MoveOffsets{kMin, kMax}},
        OffsetsCase{"just_outside_range_clamped", ",move,2147483648,-2147483649.",
                    MoveOffsets{kMax, kMin}},
        OffsetsCase{"just_outside_range_clamped_swapped", ",move,-2147483649,2147483648.",
                    MoveOffsets{kMin, kMax}},
        OffsetsCase{"two_to_the_32_clamped", ",move,4294967296,-4294967296.",
                    MoveOffsets{kMax, kMin}},
        OffsetsCase{"huge_digit_runs_clamped",
                    ",move,99999999999999999999999999999999999999999,"
                    "-99999999999999999999999999999999999999999.",
                    MoveOffsets{kMax, kMin}},
        OffsetsCase{"long_leading_zero_run_not_clamped",
                    ",move,000000000000000000000000000000042,1.", MoveOffsets{42, 1}}),
    [](const ::testing::TestParamInfo<OffsetsCase>& info) { return info.param.name; });

// --- state ---------------------------------------------------------------------------

TEST(MouseState, AllZeroBeforeAnyCommand) {
  TracedInterpreter traced(kStartPointer);
  const MouseState& mouse = traced.interpreter().mouseState();
  EXPECT_EQ(mouse.MousePos.x, 0.0f);
  EXPECT_EQ(mouse.MousePos.y, 0.0f);
  EXPECT_EQ(mouse.MBState, (std::array<std::int32_t, 3>{0, 0, 0}));
}

TEST(MouseState, LockedButtonStaysDownInTheNextRun) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},moulock.")), "mouse 500 300 update=0 buttons=1 0 0\n");
  EXPECT_EQ(traced.run(bytes("{ESC},move,1,1.{ESC},click,right.")),
            "warp 501 301\n"
            "warp 500 300\n"
            "mouse 501 301 update=1 buttons=1 0 0\n"
            "mouse 501 301 update=0 buttons=1 1 0\n"
            "mouse 501 301 update=0 buttons=1 0 0\n");
  EXPECT_EQ(traced.interpreter().mouseState().MBState[0], 1);
}

TEST(MouseState, ArmedChoiceCarriesIntoTheNextRun) {
  TracedInterpreter traced(kStartPointer);
  EXPECT_EQ(traced.run(bytes("{ESC},dblclick,right")), "");
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::MOUSE_BUTTON);
  EXPECT_EQ(traced.run(bytes(".")),
            "mouse 500 300 update=0 buttons=0 1 0\n"
            "mouse 500 300 update=0 buttons=0 0 0\n"
            "mouse 500 300 update=0 buttons=0 1 0\n"
            "mouse 500 300 update=0 buttons=0 0 0\n");
}

TEST(MouseState, ButtonCommandActsWhereThePointerIsNow) {
  // The stored position is only a working copy: a pointer moved by other means
  // between commands is where the next click lands.
  TracedInterpreter traced(kStartPointer);
  traced.run(bytes("{ESC},move,10,10."));
  traced.events().warpMouseCursorPosition(Point{100, 200});
  EXPECT_EQ(traced.run(bytes("{ESC},click.{ESC},move,1,1.")),
            "mouse 100 200 update=0 buttons=1 0 0\n"
            "mouse 100 200 update=0 buttons=0 0 0\n"
            "warp 101 201\n"
            "warp 100 200\n"
            "mouse 101 201 update=1 buttons=0 0 0\n");
}

TEST(MouseState, ResetLeavesEveryButtonUp) {
  TracedInterpreter traced(kStartPointer);
  traced.run(bytes("{ESC},moulock.{ESC},moulock,right.{ESC},moureset."));
  const MouseState& mouse = traced.interpreter().mouseState();
  EXPECT_EQ(mouse.MBState, (std::array<std::int32_t, 3>{0, 0, 0}));
  EXPECT_EQ(mouse.MousePos.x, 0.0f);
  EXPECT_EQ(mouse.MousePos.y, 0.0f);
}

TEST(MouseState, ThirdButtonIsUpInEveryEvent) {
  TracedInterpreter traced(kStartPointer);
  std::string trace = traced.run(bytes(
      "{ESC},click.{ESC},dblclick,right.{ESC},moulock.{ESC},moulock,right."
      "{ESC},move,-3,4.{ESC},mourel,left.{ESC},mourel.{ESC},moulock."
      "{ESC},moureset.{ESC},move,2000,2000.{ESC},click,right,left."));
  std::istringstream lines(trace);
  int mouseLines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("mouse ", 0) != 0) continue;
    ++mouseLines;
    EXPECT_EQ(line.substr(line.size() - 2), " 0") << line;
  }
  EXPECT_EQ(mouseLines, 17) << trace;
}

}  // namespace
}  // namespace quillmote
