// The key vocabulary: the shape of both tables, the lookup that serves every named key,
// and the agreement of both tables with the key-code translation every backend uses.
#include "keyboard/key_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/key_code_translation.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

TEST(EscapeTable, has_106_distinct_lower_case_names_each_a_key_or_a_modifier) {
  std::set<std::string> names;
  for (const EscapeEntry& entry : EscapeTable) {
    ASSERT_NE(entry.name, nullptr);
    const std::string name = entry.name;
    SCOPED_TRACE(name);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
    EXPECT_TRUE(names.insert(name).second) << "appears twice";
    if (name == "tilde") {
      EXPECT_EQ(entry.keyCode, 50);
      EXPECT_EQ(entry.flags, kShiftFlag);
    } else if (entry.keyCode == kNoKey) {
      EXPECT_TRUE(entry.flags == 0 || entry.flags == kShiftFlag || entry.flags == kControlFlag ||
                  entry.flags == kCommandFlag || entry.flags == kOptionFlag)
          << entry.flags;
    } else {
      EXPECT_GE(entry.keyCode, 0);
      EXPECT_LE(entry.keyCode, 126);
      EXPECT_EQ(entry.flags, 0);
    }
  }
  EXPECT_EQ(names.size(), 106u);
}

// The right-shift names carry the command flag: a device that sends "rshift" gets the
// command key.
TEST(EscapeTable, modifier_names_carry_their_flag_and_no_key) {
  const std::pair<std::int32_t, std::vector<const char*>> groups[] = {
      {kShiftFlag, {"shift", "leftshift", "lshift"}},
      {kControlFlag,
       {"control", "ctrl", "lcontrol", "lctrl", "leftcontrol", "leftctrl", "rcontrol", "rctrl",
        "rightcontrol", "rightctrl"}},
      {kCommandFlag, {"command", "apple", "windows", "rightshift", "rshift"}},
      {kOptionFlag, {"option", "alt", "lalt", "leftalt", "ralt", "rightalt"}},
  };
  std::set<std::string> listed;
  for (const auto& [flag, names] : groups) {
    for (const char* name : names) {
      listed.insert(name);
      const EscapeEntry* found = nullptr;
      for (const EscapeEntry& entry : EscapeTable) {
        if (std::strcmp(entry.name, name) == 0) found = &entry;
      }
      ASSERT_NE(found, nullptr) << name;
      EXPECT_EQ(found->keyCode, kNoKey) << name;
      EXPECT_EQ(found->flags, flag) << name;
    }
  }
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode == kNoKey && entry.flags != 0) {
      EXPECT_TRUE(listed.count(entry.name)) << entry.name << " is not listed";
    }
  }
}

TEST(CharacterTable, has_126_us_layout_entries_and_none_for_13_127_and_high_bytes) {
  KeyTables tables;
  tables.InitUSKeyCodes();
  tables.InitUSKeyCodes();  // filled at every interpreter start: the same each time
  int withEntry = 0;
  for (int byte = 0; byte < 256; ++byte) {
    std::uint16_t entry = tables.characterEntry(static_cast<unsigned char>(byte));
    if (byte == 13 || byte >= 127) {
      EXPECT_EQ(entry, kNoCharacterEntry) << "byte " << byte;
    } else if (entry != kNoCharacterEntry) {
      ++withEntry;
      EXPECT_EQ(entry & 0xFF00 & ~(kShiftFlag | kControlFlag), 0) << "byte " << byte;
    }
  }
  EXPECT_EQ(withEntry, 126);
  // Control characters are chords of control with a letter or punctuation key, never
  // the keys the name table offers for them (tab, return, escape, backspace).
  const std::pair<unsigned char, std::uint16_t> spotChecks[] = {
      {0, 19 | 0x300},   {8, 4 | 0x200},   {9, 34 | 0x200},   {10, 38 | 0x200}, {27, 33 | 0x200},
      {28, 42 | 0x200},  {29, 30 | 0x200}, {30, 22 | 0x300},  {31, 27 | 0x300}, {' ', 49},
      {'"', 39 | 0x100}, {'0', 29},        {'@', 19 | 0x100}, {'w', 13},        {'m', 46},
      {'`', 50},         {'~', 50 | 0x100}};
  for (const auto& [byte, entry] : spotChecks) {
    EXPECT_EQ(tables.characterEntry(byte), entry) << "byte " << int{byte};
  }
}

TEST(EscapeWord, looks_up_names_in_any_case_then_one_byte_words_in_the_character_table) {
  struct Lookup {
    const char* word;
    int recognised;
    std::int32_t keyCode, flags;
  };
  const Lookup lookups[] = {
      {"ENTER", 1, 36, 0},
      {"Enter", 1, 36, 0},
      {"enter", 1, 36, 0},
      {"shift", 1, -1, 0x100},
      {"rshift", 1, -1, 0x400},
      {"RightShift", 1, -1, 0x400},
      {"alt", 1, -1, 0x800},
      {"ctrl", 1, -1, 0x200},
      {"kpins", 1, -1, 0},
      {"kpinsert", 1, -1, 0},
      {"kpmidl", 1, -1, 0},
      {"tilde", 1, 50, 0x100},
      {"multiply", 1, 28, 0},
      {"kp*", 1, 67, 0},
      {"1", 1, 18, 0},
      {"A", 1, 0, 0x100},
      {"a", 1, 0, 0},
      {"\x1f", 1, 27, 0x300},
      {"xyz", 0, 0, 0},
      {"ente", 0, 0, 0},
      {"enterx", 0, 0, 0},
      {"", 0, 0, 0},
      // Split like a real entry, the no-entry value would read as key 255 with every
      // modifier held; such a one-byte word is not recognised instead.
      {"\r", 0, 0, 0},
      {"\xff", 0, 0, 0},
  };
  KeyTables tables;
  tables.InitUSKeyCodes();
  for (const Lookup& lookup : lookups) {
    SCOPED_TRACE("word \"" + test::notation(lookup.word) + "\"");
    std::int32_t keyCode = 0x5A5A, flags = -0x1234;  // untouched unless recognised
    EXPECT_EQ(tables.escape_word(lookup.word, keyCode, flags), lookup.recognised);
    EXPECT_EQ(keyCode, lookup.recognised ? lookup.keyCode : 0x5A5A);
    EXPECT_EQ(flags, lookup.recognised ? lookup.flags : -0x1234);
  }
}

TEST(EscapeWord, finds_every_name_written_in_capitals) {
  KeyTables tables;
  tables.InitUSKeyCodes();
  for (const EscapeEntry& entry : EscapeTable) {
    std::string upper = entry.name;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::int32_t keyCode = 0, flags = 0;
    ASSERT_EQ(tables.escape_word(upper.c_str(), keyCode, flags), 1) << upper;
    EXPECT_EQ(keyCode, entry.keyCode) << upper;
    EXPECT_EQ(flags, entry.flags) << upper;
  }
}

// The key codes a command can post: the name table's keys, each flag's modifier key,
// and every character's key with its shift and control keys.
TEST(KeyCodeTranslation, covers_exactly_the_key_codes_the_tables_produce) {
  std::set<int> produced;
  auto addFlags = [&produced](std::int32_t flags) {
    if (flags & kShiftFlag) produced.insert(kShiftKey);
    if (flags & kControlFlag) produced.insert(kControlKey);
    if (flags & kCommandFlag) produced.insert(kCommandKey);
    if (flags & kOptionFlag) produced.insert(kOptionKey);
  };
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode != kNoKey) produced.insert(entry.keyCode);
    addFlags(entry.flags);
  }
  KeyTables tables;
  tables.InitUSKeyCodes();
  for (int byte = 0; byte < 256; ++byte) {
    std::uint16_t entry = tables.characterEntry(static_cast<unsigned char>(byte));
    if (entry == kNoCharacterEntry) continue;
    produced.insert(entry & 0xFF);
    addFlags(entry & 0xFF00);
  }
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    std::optional<KeyCodeTranslation> translation =
        translateKeyCode(static_cast<std::uint16_t>(keyCode));
    ASSERT_EQ(translation.has_value(), produced.count(keyCode) == 1) << "key code " << keyCode;
    if (translation) {
      EXPECT_EQ(translation->keyCode, keyCode);
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
    SCOPED_TRACE("key code " + std::to_string(translation.keyCode));
    EXPECT_GT(translation.keyCode, previous);
    previous = translation.keyCode;
    EXPECT_NE(translation.evdevCode, 0);
    EXPECT_TRUE(evdevCodes.insert(translation.evdevCode).second) << translation.evdevCode;
    ASSERT_NE(translation.name, nullptr);
    EXPECT_GT(std::strlen(translation.name), 0u);
  }
}

}  // namespace
}  // namespace quillmote
