// SPDX-License-Identifier: MIT
// The key state table, every operation from every reachable state word (the order in which
// the sweeps let several keys up shows in the golden cases); the key-code translation, and
// every named key's code against libevdev's names for the keys.
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>

#include <map>
#include <set>
#include <sstream>

#include "keyboard/key_state.h"
#include "keyboard/key_tables.h"
#include "platform/key_code_translation.h"
#include "platform/trace_event_services.h"
#include "support/interpreter_harness.h"

namespace quillmote {
namespace {

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
      std::ostringstream events;
      TraceEventServices trace(events, ScreenSize{}, GlobalMousePoint{});
      KeyState keys(trace);
      // Reached as the commands reach it: 1 by a press, 3 by a hold, 5 by a lock, 7 by both.
      if (row.before == kKeyDown) keys.key_press(kKey);
      if (row.before & kKeyHeld) keys.key_hold(kKey);
      if (row.before & kKeyLocked) keys.key_lock(kKey);
      ASSERT_EQ(keys.state(kKey), row.before);
      events.str("");
      kOperations[op](keys, kKey);
      const std::string cell = row.cells[op];
      EXPECT_EQ(keys.state(kKey), cell[0] - '0');
      EXPECT_EQ(test::withoutComments(events.str()), cell.size() == 1 ? ""
                                                     : cell[1] == '+' ? "key 42 down\n"
                                                                      : "key 42 up\n");
      for (int other = 0; other < 256; ++other) {
        ASSERT_EQ(keys.state(other), other == kKey ? keys.state(kKey) : 0) << "key " << other;
      }
    }
  }
}

// Every key the tables produce has an entry: the golden cases name each one ("#N" if not).
TEST(KeyCodeTranslation, is_ascending_on_distinct_evdev_keys_and_ends_at_255) {
  std::set<int> evdevCodes;
  int previous = -1;
  for (const KeyCodeTranslation& translation : keyCodeTranslations()) {
    EXPECT_GT(translation.keyCode, previous);
    previous = translation.keyCode;
    EXPECT_TRUE(evdevCodes.insert(translation.evdevCode).second) << translation.evdevCode;
    EXPECT_TRUE(translateKeyCode(translation.keyCode)) << translation.keyCode;
  }
  for (int keyCode : {52, 255, 256, 0xFFFF}) EXPECT_FALSE(translateKeyCode(keyCode)) << keyCode;
}

// Every name of the escape commands, by the Linux key it must press (libevdev's name
// without KEY_): a modifier alone by its left key, NONE for a name that presses nothing.
TEST(KeyNames, press_the_keys_libevdev_names_for_them) {
  std::istringstream expected(
      "ENTER enter ret return; 8 multiply; COMMA comma; SLASH divide; DOT period; TAB tab;"
      " SPACE space; GRAVE tilde; BACKSPACE backspace bksp; ESC esc escape;"
      " CAPSLOCK capslk capslock; KPDOT kpdp; KPASTERISK kp* kpstart kptimes;"
      " KPPLUS kp+ kpplus; NUMLOCK numlk numlock; KPSLASH kp/ kpdivide kpslash;"
      " KPENTER kpenter; KPMINUS kp- kpminus; KP0 kp0; KP1 kp1; KP2 kp2; KP3 kp3; KP4 kp4;"
      " KP5 kp5; KP6 kp6; KP7 kp7; KP8 kp8; KP9 kp9; F1 f1; F2 f2; F3 f3; F4 f4; F5 f5;"
      " F6 f6; F7 f7; F8 f8; F9 f9; F10 f10; F11 f11; F12 f12; SCROLLLOCK scroll scrolllock;"
      " INSERT ins insert; HOME home kphome; PAGEUP pageup pgup kppageup kppgup;"
      " DELETE del kpdel kpdelete; END end kpend; PAGEDOWN pagedown pgdn kppagedown kppgdn;"
      " LEFT left kpleft; RIGHT right kpright; DOWN down kpdown; UP up kpup;"
      " NONE kpins kpinsert kpmidl; LEFTSHIFT shift leftshift lshift;"
      " LEFTCTRL control ctrl lcontrol lctrl leftcontrol leftctrl rcontrol rctrl rightcontrol"
      " rightctrl; LEFTMETA command apple windows rightshift rshift;"
      " LEFTALT option alt lalt leftalt ralt rightalt;");
  std::map<std::string, std::string> keyOf;
  std::string key;
  for (std::string word; expected >> word;) {
    const bool last = word.ends_with(';');
    if (last) word.pop_back();
    if (key.empty()) {
      key = word;
    } else {
      EXPECT_TRUE(keyOf.emplace(word, key).second) << word << " twice";
    }
    if (last) key.clear();
  }
  for (const EscapeEntry& entry : EscapeTable) {
    ASSERT_TRUE(keyOf.contains(entry.name)) << entry.name;
    int pressed = entry.keyCode;
    for (auto [flag, modifier] : {std::pair{kShiftFlag, kShiftKey},
                                  {kControlFlag, kControlKey},
                                  {kOptionFlag, kOptionKey},
                                  {kCommandFlag, kCommandKey}}) {
      if (pressed == kNoKey && entry.flags == flag) pressed = modifier;
    }
    auto onLinux = translateKeyCode(static_cast<std::uint16_t>(pressed));
    const int evdev = pressed == kNoKey ? -1 : onLinux ? onLinux->evdevCode : -2;
    const std::string name = "KEY_" + keyOf[entry.name];
    const int named = name == "KEY_NONE" ? -1 : libevdev_event_code_from_name(EV_KEY, name.c_str());
    EXPECT_EQ(evdev, named) << entry.name;
    keyOf.erase(entry.name);
  }
  EXPECT_TRUE(keyOf.empty()) << keyOf.begin()->first << " is no name";
}

}  // namespace
}  // namespace quillmote
