// The command language, token by token: which rule takes which bytes, the start
// condition each action leaves, and the moment each action runs. Every case is one
// log in which the bytes the feed hands out and the tokens acted on are interleaved,
// so a token acted on too late (after a further byte was requested) or too early
// fails as surely as a wrong rule.
#include <gtest/gtest.h>

#include <string>

#include "support/interpreter_harness.h"

namespace quillmote::test {
namespace {

// Renders bytes in the test notation, with a space as {SP} so logs stay readable.
std::string show(std::string_view streamBytes) {
  std::string out;
  for (char c : streamBytes) out += c == ' ' ? "{SP}" : notation(std::string_view(&c, 1));
  return out;
}

// The shared log: each byte as it is requested, "$" when the feed reports end of
// input, and "[rule token start-condition-after]" when an action has run.
class TimelineFeed final : public ByteSource, public TokenObserver {
 public:
  TimelineFeed(std::string_view streamBytes, std::string& log)
      : bytes_(streamBytes), log_(log) {}

  int yy_read_char() override {
    if (next_ == bytes_.size()) {
      log_ += '$';
      return 0;
    }
    char byte = bytes_[next_++];
    log_ += show(std::string_view(&byte, 1));
    return static_cast<signed char>(byte);
  }
  void tokenDecided(int rule, std::string_view token) override {
    pending_ = std::to_string(rule) + " " + show(token);
  }
  void actionDone(StartCondition after) override {
    log_ += "[" + pending_ + " " + startConditionName(after) + "]";
  }

 private:
  std::string_view bytes_;
  std::size_t next_ = 0;
  std::string& log_;
  std::string pending_;
};

std::string timelineOf(Interpreter& interpreter, std::string_view streamBytes) {
  std::string log;
  TimelineFeed feed(streamBytes, log);
  interpreter.setTokenObserver(&feed);
  interpreter.do_quillmote(feed);
  interpreter.setTokenObserver(nullptr);
  return log;
}

struct TokenCase {
  const char* name;
  const char* input;     // test notation
  const char* timeline;  // expected log
};

void PrintTo(const TokenCase& tokenCase, std::ostream* out) { *out << tokenCase.name; }

class ScannerTokens : public testing::TestWithParam<TokenCase> {};

TEST_P(ScannerTokens, decides_each_token_at_its_moment) {
  const TokenCase& c = GetParam();
  TracedInterpreter traced;
  EXPECT_EQ(timelineOf(traced.interpreter(), bytes(c.input)), c.timeline)
      << "input: " << c.input;
}

// Worked sequences of the language, then its edge cases.
INSTANTIATE_TEST_SUITE_P(
    WorkedSequences, ScannerTokens,
    testing::Values(
        TokenCase{"typed_text_in_initial", "Hi!\n",
                  "H[26 H INITIAL]i[26 i INITIAL]![26 ! INITIAL]{x0A}[26 {x0A} INITIAL]$"},
        TokenCase{"named_key_waits_for_its_period", "{ESC}enter.",
                  "{ESC}[1 {ESC} COMMAND]enter.[8 enter. INITIAL]$"},
        TokenCase{"hold_item_decided_by_the_period", "{ESC},hold,shift.a",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],shift."
                  "[13 ,shift HOLD_LIST][14 . INITIAL]a[26 a INITIAL]$"},
        TokenCase{"move_is_one_token", "{ESC},move,10,-5.",
                  "{ESC}[1 {ESC} COMMAND],move,10,-5.[2 ,move,10,-5. INITIAL]$"},
        TokenCase{"click_with_right_choice", "{ESC},click,right.",
                  "{ESC}[1 {ESC} COMMAND],click[3 ,click MOUSE_BUTTON],right"
                  "[23 ,right MOUSE_BUTTON].[24 . INITIAL]$"},
        TokenCase{"broken_off_key_name_typed_byte_by_byte", "{ESC}abc def.",
                  "{ESC}[1 {ESC} COMMAND]abc{SP}[26 a COMMAND][26 b COMMAND][26 c COMMAND]"
                  "[26 {SP} COMMAND]def.[8 def. INITIAL]$"},
        TokenCase{"digit_inside_a_list_abandons_it", "{ESC},hold,f1.",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],f1[13 ,f HOLD_LIST]"
                  "[15 1 INITIAL].[26 . INITIAL]$"},
        TokenCase{"broken_off_button_choice", "{ESC},click,lex",
                  "{ESC}[1 {ESC} COMMAND],click[3 ,click MOUSE_BUTTON],lex"
                  "[25 , INITIAL][26 l INITIAL][26 e INITIAL][26 x INITIAL]$"}),
    [](const testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, ScannerTokens,
    testing::Values(
        TokenCase{"two_escapes_stay_in_command_and_type_the_next_byte", "{ESC}{ESC}!",
                  "{ESC}[1 {ESC} COMMAND]{ESC}[1 {ESC} COMMAND]![26 ! COMMAND]$"},
        TokenCase{"every_byte_but_escape_is_typed_in_initial", ".,5{x0D}{x0A}{x80}{xFF}",
                  ".[26 . INITIAL],[26 , INITIAL]5[26 5 INITIAL]{x0D}[26 {x0D} INITIAL]"
                  "{x0A}[26 {x0A} INITIAL]{x80}[26 {x80} INITIAL]{xFF}[26 {xFF} INITIAL]$"},
        TokenCase{"period_and_digit_typed_in_command", "{ESC}.1f.",
                  "{ESC}[1 {ESC} COMMAND].[26 . COMMAND]1[26 1 COMMAND]f.[8 f. INITIAL]$"},
        TokenCase{"key_names_in_any_case", "{ESC}ENTER.{ESC}Enter.",
                  "{ESC}[1 {ESC} COMMAND]ENTER.[8 ENTER. INITIAL]"
                  "{ESC}[1 {ESC} COMMAND]Enter.[8 Enter. INITIAL]$"},
        TokenCase{"keywords_are_lower_case_only", "{ESC},HOLD.",
                  "{ESC}[1 {ESC} COMMAND],H[26 , COMMAND]OLD.[8 HOLD. INITIAL]$"},
        TokenCase{"key_name_with_digits", "{ESC}f12.",
                  "{ESC}[1 {ESC} COMMAND]f12.[8 f12. INITIAL]$"},
        TokenCase{"digits_end_a_list_name", "{ESC},hold,f12",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],f1[13 ,f HOLD_LIST]"
                  "[15 1 INITIAL]2[26 2 INITIAL]$"},
        TokenCase{"move_fields_take_any_signs_and_digits", "{ESC},move,+-,7.",
                  "{ESC}[1 {ESC} COMMAND],move,+-,7.[2 ,move,+-,7. INITIAL]$"},
        TokenCase{"move_without_a_field_is_typed", "{ESC},move,,5.",
                  "{ESC}[1 {ESC} COMMAND],move,,[26 , COMMAND][26 m COMMAND][26 o COMMAND]"
                  "[26 v COMMAND][26 e COMMAND][26 , COMMAND]5[26 , COMMAND][26 5 COMMAND]"
                  ".[26 . COMMAND]$"},
        TokenCase{"mourel_arms_at_its_last_letter", "{ESC},mourel.",
                  "{ESC}[1 {ESC} COMMAND],mourel[6 ,mourel MOUSE_BUTTON].[24 . INITIAL]$"},
        TokenCase{"moureset_without_period_is_typed", "{ESC},moureset ",
                  "{ESC}[1 {ESC} COMMAND],moureset{SP}[26 , COMMAND][26 m COMMAND]"
                  "[26 o COMMAND][26 u COMMAND][26 r COMMAND][26 e COMMAND][26 s COMMAND]"
                  "[26 e COMMAND][26 t COMMAND][26 {SP} COMMAND]$"},
        TokenCase{"moureset_and_rel_need_their_period", "{ESC},moureset.{ESC},rel.",
                  "{ESC}[1 {ESC} COMMAND],moureset.[7 ,moureset. INITIAL]"
                  "{ESC}[1 {ESC} COMMAND],rel.[12 ,rel. INITIAL]$"},
        TokenCase{"every_choice_counts_in_order", "{ESC},click,left,right.",
                  "{ESC}[1 {ESC} COMMAND],click[3 ,click MOUSE_BUTTON],left"
                  "[22 ,left MOUSE_BUTTON],right[23 ,right MOUSE_BUTTON].[24 . INITIAL]$"},
        TokenCase{"other_arm_keywords", "{ESC},dblclick.{ESC},moulock.",
                  "{ESC}[1 {ESC} COMMAND],dblclick[4 ,dblclick MOUSE_BUTTON].[24 . INITIAL]"
                  "{ESC}[1 {ESC} COMMAND],moulock[5 ,moulock MOUSE_BUTTON].[24 . INITIAL]$"},
        TokenCase{"newline_typed_inside_a_hold_list", "{ESC},hold\n,shift.",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST]{x0A}[26 {x0A} HOLD_LIST]"
                  ",shift.[13 ,shift HOLD_LIST][14 . INITIAL]$"},
        TokenCase{"newline_typed_inside_a_choice", "{ESC},click\n.",
                  "{ESC}[1 {ESC} COMMAND],click[3 ,click MOUSE_BUTTON]{x0A}"
                  "[26 {x0A} MOUSE_BUTTON].[24 . INITIAL]$"},
        TokenCase{"space_abandons_a_hold_list_untyped", "{ESC},hold a",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST]{SP}[15 {SP} INITIAL]"
                  "a[26 a INITIAL]$"},
        TokenCase{"comma_without_letter_abandons_a_lock_list", "{ESC},lock,,a",
                  "{ESC}[1 {ESC} COMMAND],lock[10 ,lock LOCK_LIST],,[18 , INITIAL]"
                  "[26 , INITIAL]a[26 a INITIAL]$"},
        TokenCase{"escape_decides_a_pending_hold_item", "{ESC},hold,shift{ESC}",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],shift{ESC}"
                  "[13 ,shift HOLD_LIST][1 {ESC} COMMAND]$"},
        TokenCase{"high_byte_abandons_a_combination", "{ESC},combine,a{x80}",
                  "{ESC}[1 {ESC} COMMAND],combine[11 ,combine COMBINE_LIST],a{x80}"
                  "[19 ,a COMBINE_LIST][21 {x80} INITIAL]$"},
        TokenCase{"combination_ends_at_its_period", "{ESC},combine,a,b.",
                  "{ESC}[1 {ESC} COMMAND],combine[11 ,combine COMBINE_LIST],a,"
                  "[19 ,a COMBINE_LIST]b.[19 ,b COMBINE_LIST][20 . INITIAL]$"},
        TokenCase{"lock_list_ends_at_its_period", "{ESC},lock,shift.",
                  "{ESC}[1 {ESC} COMMAND],lock[10 ,lock LOCK_LIST],shift."
                  "[16 ,shift LOCK_LIST][17 . INITIAL]$"},
        TokenCase{"pending_hold_item_acted_on_at_end_of_input", "{ESC},hold,shift",
                  "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],shift$"
                  "[13 ,shift HOLD_LIST]"},
        TokenCase{"pending_letters_typed_at_end_of_input", "{ESC}ab",
                  "{ESC}[1 {ESC} COMMAND]ab$[26 a COMMAND][26 b COMMAND]"},
        TokenCase{"pending_move_typed_at_end_of_input", "{ESC},move,10",
                  "{ESC}[1 {ESC} COMMAND],move,10$[26 , COMMAND][26 m COMMAND][26 o COMMAND]"
                  "[26 v COMMAND][26 e COMMAND][26 , COMMAND][26 1 COMMAND][26 0 COMMAND]"},
        TokenCase{"abandoned_choice_comma_at_end_of_input", "{ESC},click,ri",
                  "{ESC}[1 {ESC} COMMAND],click[3 ,click MOUSE_BUTTON],ri$"
                  "[25 , INITIAL][26 r INITIAL][26 i INITIAL]"}),
    [](const testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

// A stop leaves the scanner where it was: the next run reads its first bytes in the
// start condition the last action set.
TEST(ScannerRuns, next_run_continues_in_the_start_condition_left_behind) {
  TracedInterpreter traced;
  Interpreter& interpreter = traced.interpreter();
  EXPECT_EQ(interpreter.startCondition(), StartCondition::INITIAL);

  EXPECT_EQ(timelineOf(interpreter, bytes("{ESC}")), "{ESC}[1 {ESC} COMMAND]$");
  EXPECT_EQ(interpreter.startCondition(), StartCondition::COMMAND);
  EXPECT_EQ(timelineOf(interpreter, bytes("enter.")), "enter.[8 enter. INITIAL]$");

  EXPECT_EQ(timelineOf(interpreter, bytes("{ESC},hold,shift")),
            "{ESC}[1 {ESC} COMMAND],hold[9 ,hold HOLD_LIST],shift$[13 ,shift HOLD_LIST]");
  EXPECT_EQ(interpreter.startCondition(), StartCondition::HOLD_LIST);
  EXPECT_EQ(timelineOf(interpreter, bytes(".a")), ".[14 . INITIAL]a[26 a INITIAL]$");
}

TEST(ScannerRuns, empty_run_changes_nothing) {
  TracedInterpreter traced;
  EXPECT_EQ(timelineOf(traced.interpreter(), bytes("{ESC},lock")),
            "{ESC}[1 {ESC} COMMAND],lock[10 ,lock LOCK_LIST]$");
  EXPECT_EQ(timelineOf(traced.interpreter(), ""), "$");
  EXPECT_EQ(traced.interpreter().startCondition(), StartCondition::LOCK_LIST);
}

// Every byte value, in every start condition, is taken by some rule: each byte is
// part of exactly one token, nothing is left over, and the feed is asked for nothing
// after it reported the end.
class ByteCount final : public TokenObserver {
 public:
  void tokenDecided(int, std::string_view token) override { bytesInTokens += token.size(); }
  void actionDone(StartCondition) override {}
  std::size_t bytesInTokens = 0;
};

class EndCountingFeed final : public ByteSource {
 public:
  explicit EndCountingFeed(std::string_view streamBytes) : inner_(streamBytes) {}
  int yy_read_char() override {
    int next = inner_.yy_read_char();
    if (next == 0) ++ends;
    return next;
  }
  int ends = 0;

 private:
  MemoryByteSource inner_;
};

TEST(ScannerRuns, every_byte_in_every_start_condition_is_acted_on_once) {
  const char* prefixes[] = {"", "{ESC}", "{ESC},lock", "{ESC},combine", "{ESC},hold",
                            "{ESC},click"};
  for (const char* prefix : prefixes) {
    for (int value = 1; value < 256; ++value) {
      TracedInterpreter traced;
      std::string stream = bytes(prefix) + static_cast<char>(value) + "x";
      ByteCount count;
      EndCountingFeed feed(stream);
      traced.interpreter().setTokenObserver(&count);
      traced.interpreter().do_quillmote(feed);
      EXPECT_EQ(count.bytesInTokens, stream.size()) << notation(stream);
      EXPECT_EQ(feed.ends, 1) << notation(stream);
    }
  }
}

}  // namespace
}  // namespace quillmote::test
