// The key vocabulary: the shape of the name table, the coverage of the character
// table, the lookup that serves every named key, and the agreement of both tables with
// the key-code translation that every backend uses.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "keyboard/key_tables.h"
#include "platform/key_code_translation.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

bool isSingleModifierFlag(std::int32_t flags) {
  return flags == kShiftFlag || flags == kControlFlag || flags == kCommandFlag ||
         flags == kOptionFlag;
}

TEST(EscapeTable, has_106_distinct_lower_case_names) {
  std::set<std::string> names;
  for (const EscapeEntry& entry : EscapeTable) {
    ASSERT_NE(entry.name, nullptr);
    std::string name = entry.name;
    EXPECT_FALSE(name.empty());
    for (char c : name) {
      EXPECT_FALSE(c >= 'A' && c <= 'Z') << "\"" << name << "\" is not lower case";
    }
    EXPECT_TRUE(names.insert(name).second) << "\"" << name << "\" appears twice";
  }
  EXPECT_EQ(names.size(), 106u);
}

TEST(EscapeTable, entries_name_a_key_or_a_modifier_never_both) {
  for (const EscapeEntry& entry : EscapeTable) {
    SCOPED_TRACE(entry.name);
    if (std::strcmp(entry.name, "tilde") == 0) {
      EXPECT_EQ(entry.keyCode, 50);
      EXPECT_EQ(entry.flags, kShiftFlag);
    } else if (entry.keyCode == kNoKey) {
      EXPECT_TRUE(entry.flags == 0 || isSingleModifierFlag(entry.flags)) << entry.flags;
    } else {
      EXPECT_GE(entry.keyCode, 0);
      EXPECT_LE(entry.keyCode, 126);
      EXPECT_EQ(entry.flags, 0);
    }
  }
}

// The modifier names, grouped by the flag they carry. The right-shift names carry the
// command flag: a device that sends "rshift" gets the command key.
TEST(EscapeTable, modifier_names_carry_their_flag_and_no_key) {
  struct Group {
    std::int32_t flag;
    std::vector<const char*> names;
  };
  const Group groups[] = {
      {kShiftFlag, {"shift", "leftshift", "lshift"}},
      {kControlFlag,
       {"control", "ctrl", "lcontrol", "lctrl", "leftcontrol", "leftctrl", "rcontrol",
        "rctrl", "rightcontrol", "rightctrl"}},
      {kCommandFlag, {"command", "apple", "windows", "rightshift", "rshift"}},
      {kOptionFlag, {"option", "alt", "lalt", "leftalt", "ralt", "rightalt"}},
  };
  std::size_t modifierEntries = 0;
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode == kNoKey && entry.flags != 0) ++modifierEntries;
  }
  std::size_t listed = 0;
  for (const Group& group : groups) {
    for (const char* name : group.names) {
      ++listed;
      const EscapeEntry* found = nullptr;
      for (const EscapeEntry& entry : EscapeTable) {
        if (std::strcmp(entry.name, name) == 0) found = &entry;
      }
      ASSERT_NE(found, nullptr) << name;
      EXPECT_EQ(found->keyCode, kNoKey) << name;
      EXPECT_EQ(found->flags, group.flag) << name;
    }
  }
  EXPECT_EQ(modifierEntries, listed);
}

class CharacterTable : public testing::Test {
 protected:
  void SetUp() override { tables.InitUSKeyCodes(); }
  KeyTables tables;
};

TEST_F(CharacterTable, has_126_entries_and_none_for_13_127_and_high_bytes) {
  int withEntry = 0;
  for (int byte = 0; byte < 256; ++byte) {
    std::uint16_t entry = tables.characterEntry(static_cast<unsigned char>(byte));
    if (entry != kNoCharacterEntry) {
      ++withEntry;
      // Only shift and control ever accompany a character.
      EXPECT_EQ(entry & 0xFF00 & ~(kShiftFlag | kControlFlag), 0) << "byte " << byte;
    }
  }
  EXPECT_EQ(withEntry, 126);
  EXPECT_EQ(tables.characterEntry(13), kNoCharacterEntry);
  for (int byte = 127; byte < 256; ++byte) {
    EXPECT_EQ(tables.characterEntry(static_cast<unsigned char>(byte)), kNoCharacterEntry)
        << "byte " << byte;
  }
}

TEST_F(CharacterTable, refilling_gives_the_same_table) {
  KeyTables refilled;
  refilled.InitUSKeyCodes();
  refilled.InitUSKeyCodes();
  for (int byte = 0; byte < 256; ++byte) {
    auto b = static_cast<unsigned char>(byte);
    EXPECT_EQ(refilled.characterEntry(b), tables.characterEntry(b)) << "byte " << byte;
  }
}

struct CharacterCase {
  const char* what;
  unsigned char byte;
  std::uint16_t entry;
};

// Control characters are chords of control with a letter or punctuation key, never
// the keys the name table offers for them (tab, return, escape, backspace).
const CharacterCase kCharacterCases[] = {
    {"nul_is_shift_control_2", 0, 19 | 0x300},
    {"backspace_char_is_control_h", 8, 4 | 0x200},
    {"tab_char_is_control_i", 9, 34 | 0x200},
    {"line_feed_is_control_j", 10, 38 | 0x200},
    {"escape_char_is_control_left_bracket", 27, 33 | 0x200},
    {"byte_28_is_control_backslash", 28, 42 | 0x200},
    {"byte_29_is_control_right_bracket", 29, 30 | 0x200},
    {"byte_30_is_shift_control_6", 30, 22 | 0x300},
    {"byte_31_is_shift_control_minus", 31, 27 | 0x300},
    {"space", 32, 49},
    {"double_quote_is_shift_apostrophe", 34, 39 | 0x100},
    {"digit_zero", '0', 29},
    {"digit_one", '1', 18},
    {"at_sign_is_shift_2", '@', 19 | 0x100},
    {"capital_a", 'A', 0 | 0x100},
    {"lower_a", 'a', 0},
    {"lower_w_is_key_13", 'w', 13},
    {"grave_accent", '`', 50},
    {"tilde", '~', 50 | 0x100},
    {"lower_m", 'm', 46},
};

void PrintTo(const CharacterCase& c, std::ostream* out) { *out << c.what; }

class CharacterEntry : public testing::TestWithParam<CharacterCase> {};

TEST_P(CharacterEntry, matches_the_us_layout) {
  KeyTables tables;
  tables.InitUSKeyCodes();
  EXPECT_EQ(tables.characterEntry(GetParam().byte), GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(
    SpotChecks, CharacterEntry, testing::ValuesIn(kCharacterCases),
    [](const testing::TestParamInfo<CharacterCase>& info) { return info.param.what; });

// A lookup result; `recognised` 0 means both outputs must still hold the sentinels.
struct LookupCase {
  const char* what;
  const char* word;
  int recognised;
  std::int32_t keyCode;
  std::int32_t flags;
};

constexpr std::int32_t kSentinelKeyCode = 0x5A5A;
constexpr std::int32_t kSentinelFlags = -0x1234;

const LookupCase kLookupCases[] = {
    {"enter_in_capitals", "ENTER", 1, 36, 0},
    {"enter_with_capital_initial", "Enter", 1, 36, 0},
    {"enter_in_lower_case", "enter", 1, 36, 0},
    {"mixed_case_f12", "F12", 1, 111, 0},
    {"f1_is_122", "f1", 1, 122, 0},
    {"shift_is_modifier_only", "shift", 1, -1, 0x100},
    {"rshift_is_command", "rshift", 1, -1, 0x400},
    {"rightshift_is_command", "RightShift", 1, -1, 0x400},
    {"alt_is_option", "alt", 1, -1, 0x800},
    {"ctrl_is_control", "ctrl", 1, -1, 0x200},
    {"kpins_has_no_key", "kpins", 1, -1, 0},
    {"kpinsert_has_no_key", "kpinsert", 1, -1, 0},
    {"kpmidl_has_no_key", "kpmidl", 1, -1, 0},
    {"tilde_is_shifted_grave", "tilde", 1, 50, 0x100},
    {"multiply_is_unshifted_8", "multiply", 1, 28, 0},
    {"keypad_star_name", "kp*", 1, 67, 0},
    {"digit_from_character_table", "1", 1, 18, 0},
    {"capital_letter_keeps_shift", "A", 1, 0, 0x100},
    {"lower_letter_has_no_flag", "a", 1, 0, 0},
    {"one_byte_control_char_splits_flags", "\x1f", 1, 27, 0x300},
    {"unknown_three_letters", "xyz", 0, 0, 0},
    {"prefix_of_a_name", "ente", 0, 0, 0},
    {"name_with_trailing_letter", "enterx", 0, 0, 0},
    {"empty_word", "", 0, 0, 0},
    // Split like a real entry, the no-entry value would read as key 255 with every
    // modifier held; such a one-byte word is not recognised instead.
    {"carriage_return_has_no_entry", "\r", 0, 0, 0},
    {"delete_char_has_no_entry", "\x7f", 0, 0, 0},
    {"high_byte_has_no_entry", "\x80", 0, 0, 0},
    {"byte_ff_has_no_entry", "\xff", 0, 0, 0},
};

void PrintTo(const LookupCase& c, std::ostream* out) { *out << c.what; }

class EscapeWord : public testing::TestWithParam<LookupCase> {};

TEST_P(EscapeWord, looks_up_names_then_characters) {
  const LookupCase& lookup = GetParam();
  KeyTables tables;
  tables.InitUSKeyCodes();
  std::int32_t keyCode = kSentinelKeyCode;
  std::int32_t flags = kSentinelFlags;

  int result = tables.escape_word(lookup.word, keyCode, flags);

  EXPECT_EQ(result, lookup.recognised) << "word \"" << test::notation(lookup.word) << "\"";
  if (lookup.recognised) {
    EXPECT_EQ(keyCode, lookup.keyCode);
    EXPECT_EQ(flags, lookup.flags);
  } else {
    EXPECT_EQ(keyCode, kSentinelKeyCode) << "key code output touched";
    EXPECT_EQ(flags, kSentinelFlags) << "flags output touched";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, EscapeWord, testing::ValuesIn(kLookupCases),
    [](const testing::TestParamInfo<LookupCase>& info) { return info.param.what; });

TEST_F(CharacterTable, every_name_is_found_in_any_case) {
  for (const EscapeEntry& entry : EscapeTable) {
    std::string upper = entry.name;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::int32_t keyCode = kSentinelKeyCode;
    std::int32_t flags = kSentinelFlags;
    ASSERT_EQ(tables.escape_word(upper.c_str(), keyCode, flags), 1) << upper;
    EXPECT_EQ(keyCode, entry.keyCode) << upper;
    EXPECT_EQ(flags, entry.flags) << upper;
  }
}

TEST_F(CharacterTable, tilde_name_and_tilde_character_agree) {
  std::int32_t byName = 0, byNameFlags = 0, byCharacter = 0, byCharacterFlags = 0;
  ASSERT_EQ(tables.escape_word("tilde", byName, byNameFlags), 1);
  ASSERT_EQ(tables.escape_word("~", byCharacter, byCharacterFlags), 1);
  EXPECT_EQ(byName, byCharacter);
  EXPECT_EQ(byNameFlags, byCharacterFlags);
}

// The key codes a command can post: the name table's keys, each flag's modifier key,
// and every character's key with its shift and control keys.
std::set<int> keyCodesTheTablesProduce() {
  std::set<int> codes;
  auto addFlags = [&codes](std::int32_t flags) {
    if (flags & kShiftFlag) codes.insert(kShiftKey);
    if (flags & kControlFlag) codes.insert(kControlKey);
    if (flags & kCommandFlag) codes.insert(kCommandKey);
    if (flags & kOptionFlag) codes.insert(kOptionKey);
  };
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode != kNoKey) codes.insert(entry.keyCode);
    addFlags(entry.flags);
  }
  KeyTables tables;
  tables.InitUSKeyCodes();
  for (int byte = 0; byte < 256; ++byte) {
    std::uint16_t entry = tables.characterEntry(static_cast<unsigned char>(byte));
    if (entry == kNoCharacterEntry) continue;
    codes.insert(entry & 0xFF);
    addFlags(entry & 0xFF00);
  }
  return codes;
}

TEST(KeyCodeTranslation, covers_exactly_the_key_codes_the_tables_produce) {
  const std::set<int> produced = keyCodesTheTablesProduce();
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    std::optional<KeyCodeTranslation> translation =
        translateKeyCode(static_cast<std::uint16_t>(keyCode));
    if (produced.count(keyCode)) {
      ASSERT_TRUE(translation.has_value()) << "key code " << keyCode << " untranslated";
      EXPECT_EQ(translation->keyCode, keyCode);
    } else {
      EXPECT_FALSE(translation.has_value()) << "key code " << keyCode
                                            << " translated but never produced";
    }
  }
  EXPECT_FALSE(translateKeyCode(256).has_value());
  EXPECT_FALSE(translateKeyCode(0xFFFF).has_value());
  EXPECT_EQ(keyCodeTranslations().size(), produced.size());
}

TEST(KeyCodeTranslation, is_ascending_with_no_key_or_evdev_code_twice) {
  std::set<int> evdevCodes;
  int previous = -1;
  for (const KeyCodeTranslation& translation : keyCodeTranslations()) {
    EXPECT_GT(translation.keyCode, previous) << "key code " << translation.keyCode;
    previous = translation.keyCode;
    EXPECT_NE(translation.evdevCode, 0) << "key code " << translation.keyCode;
    EXPECT_TRUE(evdevCodes.insert(translation.evdevCode).second)
        << "evdev code " << translation.evdevCode << " twice, again for key code "
        << translation.keyCode;
    ASSERT_NE(translation.name, nullptr);
    EXPECT_GT(std::strlen(translation.name), 0u);
  }
}

}  // namespace
}  // namespace quillmote
