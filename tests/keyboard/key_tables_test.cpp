// The key-code translation every backend reads: one entry per key code the tables can
// produce (the golden cases type and name every one), in order, each on its own evdev key.
#include <gtest/gtest.h>

#include <set>

#include "keyboard/key_tables.h"
#include "platform/key_code_translation.h"

namespace quillmote {
namespace {

TEST(KeyCodeTranslation, has_one_ascending_entry_per_produced_key_on_distinct_evdev_keys) {
  std::set<int> produced{kShiftKey, kControlKey, kCommandKey, kOptionKey};
  for (const EscapeEntry& entry : EscapeTable) {
    if (entry.keyCode != kNoKey) produced.insert(entry.keyCode);
  }
  KeyTables tables;
  tables.InitUSKeyCodes();
  for (int byte = 0; byte < 256; ++byte) {
    std::uint16_t entry = tables.characterEntry(static_cast<unsigned char>(byte));
    if (entry != kNoCharacterEntry) produced.insert(entry & 0xFF);
  }
  std::set<int> evdevCodes;
  int previous = -1;
  for (const KeyCodeTranslation& translation : keyCodeTranslations()) {
    EXPECT_GT(translation.keyCode, previous);
    previous = translation.keyCode;
    EXPECT_TRUE(evdevCodes.insert(translation.evdevCode).second) << translation.evdevCode;
    EXPECT_TRUE(produced.count(translation.keyCode)) << "not produced: " << translation.keyCode;
  }
  for (int keyCode : produced) EXPECT_TRUE(translateKeyCode(keyCode)) << keyCode;
  for (int keyCode : {52, 255, 256, 0xFFFF}) EXPECT_FALSE(translateKeyCode(keyCode)) << keyCode;
}

}  // namespace
}  // namespace quillmote
