// SPDX-License-Identifier: MIT
// Typing for keyboard layouts: on the US layout every byte and named key presses the plain
// positions, and on others the keys pressed, decoded by libxkbcommon as a desktop decodes
// them (dead keys through the compose table), give exactly what the device sent.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <fstream>

#include "interpreter/byte_source.h"
#include "interpreter/interpreter.h"
#include "keyboard/key_tables.h"
#include "platform/layout/assumed_layout.h"
#include "platform/layout/layout_keyboard.h"
#include "platform/wayland/compositor_layout.h"
#include "support/interpreter_harness.h"

namespace quillmote::test {
namespace {

// The interpreter's keys through a LayoutKeyboard into `sink`; the mouse goes nowhere.
class KeysThrough final : public EventServices {
 public:
  KeysThrough(KeySink& sink, std::shared_ptr<const LayoutTable> layout) : keyboard_(sink) {
    keyboard_.useLayout(std::move(layout));
  }
  void postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool down) override {
    keyboard_.postKey(keyCode, down);
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override {}
  void warpMouseCursorPosition(Point) override {}
  GlobalMousePoint getGlobalMouse() override { return {}; }

 private:
  LayoutKeyboard keyboard_;
};

void typeInto(KeySink& sink, std::shared_ptr<const LayoutTable> layout, const std::string& stream) {
  KeysThrough events(sink, std::move(layout));
  Interpreter interpreter(events);
  MemoryByteSource feed(stream);
  interpreter.do_quillmote(feed);
  interpreter.releaseEverythingHeld();
}

struct Recorder final : KeySink {
  std::vector<std::pair<std::uint32_t, bool>> keys;
  void sendKey(std::uint32_t keyCode, bool down) override { keys.emplace_back(keyCode, down); }
};

auto keysFor(const std::string& stream, std::shared_ptr<const LayoutTable> layout) {
  Recorder recorder;
  typeInto(recorder, std::move(layout), stream);
  return recorder.keys;
}

std::shared_ptr<const LayoutTable> layoutNamed(const std::string& name) {
  std::string unused;  // each layout named here is one every system has
  return compileLayout(assumeLayout(name, nullptr, ""), unused);
}

// What a desktop makes of the keys: text, with a key typed under Control as ^keysym.
class Desktop final : public KeySink {
 public:
  explicit Desktop(const std::string& layout) {
    LayoutNames names = assumeLayout(layout, nullptr, "");
    xkb_rule_names rules{nullptr, nullptr, names.layout.c_str(), names.variant.c_str(), nullptr};
    keymap_ = xkb_keymap_new_from_names(context_, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    state_ = xkb_state_new(keymap_);
    xkb_compose_table* table =
        xkb_compose_table_new_from_locale(context_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    if (table == nullptr) throw std::runtime_error("no compose table for en_US.UTF-8");
    compose_ = xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS);
    xkb_compose_table_unref(table);
  }
  ~Desktop() {
    xkb_compose_state_unref(compose_);
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
  }
  void sendKey(std::uint32_t keyCode, bool down) override {
    xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keyCode);
    xkb_state_update_key(state_, keyCode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    if (!down) return;
    xkb_compose_state_feed(compose_, sym);
    char utf8[64] = "";
    switch (xkb_compose_state_get_status(compose_)) {
      case XKB_COMPOSE_COMPOSING:
        return;
      case XKB_COMPOSE_COMPOSED:
        xkb_compose_state_get_utf8(compose_, utf8, sizeof utf8);
        break;
      case XKB_COMPOSE_CANCELLED:
        break;
      case XKB_COMPOSE_NOTHING:
        xkb_keysym_to_utf8(sym, utf8, sizeof utf8);
        break;
    }
    xkb_compose_state_reset(compose_);
    bool control =
        xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0;
    text += control && utf8[0] != '\0' ? "^" + std::string(utf8) : utf8;
  }
  std::string text;

 private:
  xkb_context* context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_keymap* keymap_;
  xkb_state* state_;
  xkb_compose_state* compose_;
};

// Where the uinput backend's layout comes from: the option, the environment, the system's
// keyboard file (as the shell reads it), then us.
TEST(Layouts, the_assumed_layout_comes_from_the_first_place_that_names_one) {
  const std::string file = testing::TempDir() + "keyboard";
  std::ofstream(file) << "# comment\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de,us\"\n"
                         "XKBVARIANT='nodeadkeys,' # set by hand\nXKBOPTIONS=\n";
  struct {
    std::string option;
    const char* environment;
    std::string file, expected;
  } cases[] = {
      {"fr:bepo", "de", file, "fr (bepo) from the --layout option"},
      {"", "us:dvorak", file, "us (dvorak) from QUILLMOTE_LAYOUT"},
      {"", "", file, "de,us (nodeadkeys,) from " + file},
      {"", nullptr, "/nonexistent", "us from the default"},
  };
  for (const auto& c : cases) {
    LayoutNames names = assumeLayout(c.option, c.environment, c.file);
    EXPECT_EQ(describeLayout(names) + " from " + names.source, c.expected);
  }
  std::string error;
  EXPECT_EQ(compileLayout(assumeLayout("xx", nullptr, ""), error), nullptr);
  EXPECT_NE(error.find("\"xx\" (from the --layout option) is not one"), error.npos) << error;
}

TEST(Layouts, on_us_every_byte_and_named_key_presses_the_plain_positions) {
  auto us = layoutNamed("us");
  ASSERT_NE(us, nullptr);
  std::vector<std::string> streams;
  for (int byte = 0; byte < 256; ++byte) {
    streams.push_back(std::string(1, static_cast<char>(byte)));
    streams.push_back("\x1b,lock,shift." + std::string(1, static_cast<char>(byte)));
  }
  for (const EscapeEntry& entry : EscapeTable) {
    for (const char* held :
         {"", ",hold,shift.", ",hold,control.", ",lock,option.", ",hold,command."}) {
      streams.push_back((held[0] ? "\x1b" + std::string(held) : "") + "\x1b" + entry.name + ".");
    }
  }
  for (const std::string& stream : streams) {
    EXPECT_EQ(keysFor(stream, us), keysFor(stream, nullptr)) << notation(stream);
  }
}

TEST(Layouts, a_desktop_gets_every_printable_character_and_shortcut_the_device_sent) {
  std::string printable;
  for (char c = ' '; c <= '~'; ++c) printable += c;
  const std::string shortcuts = "\x1b,hold,control.z\x1b,hold,control.y\x1b,hold,control.a";
  for (const char* layout : {"us", "gb", "de", "fr", "es", "ch", "us:dvorak", "se", "us,ru"}) {
    Desktop desktop(layout);
    typeInto(desktop, layoutNamed(layout), printable + shortcuts);
    EXPECT_EQ(desktop.text, printable + "^z^y^a") << layout;
  }
  // Without Latin letters, shortcuts keep the US positions, as toolkits match them.
  EXPECT_EQ(keysFor(shortcuts, layoutNamed("ru")), keysFor(shortcuts, nullptr));
}

// A Wayland compositor sends its keymap as text: compiled from that text, the table types
// every printable character on the layout the compositor uses, and the group it names.
TEST(Layouts, the_keymap_a_compositor_sends_types_every_character_on_its_layout) {
  std::string printable;
  for (char c = ' '; c <= '~'; ++c) printable += c;
  struct Case {
    const char* layout;
    std::uint32_t group;
    const char* named;
  } cases[] = {{"de", 0, "German"},
               {"fr", 0, "French"},
               {"us,de", 1, "German (group 2 of 2)"},
               {"de,us", 5, "German (group 1 of 2)"}};
  for (const Case& c : cases) {
    LayoutNames names = assumeLayout(c.layout, nullptr, "");
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_rule_names rules{nullptr, nullptr, names.layout.c_str(), "", nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* sent = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string error;
    auto table = layoutFromKeymap(sent, c.group, error);
    free(sent);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    ASSERT_NE(table, nullptr) << c.layout << ": " << error;
    EXPECT_EQ(table->name(), c.named);
    // The desktop types with the group the table was made for.
    Desktop desktop(std::string(c.named).starts_with("German") ? "de" : c.layout);
    typeInto(desktop, table, printable);
    EXPECT_EQ(desktop.text, printable) << c.layout;
  }
  // Without the compositor's word, the group of the layout the desktop records as in use.
  struct GroupCase {
    const char* layouts;
    std::optional<std::uint32_t> reported;
    std::optional<std::string> recorded;
    std::uint32_t group;
    GroupSource source;
  } groups[] = {{"us,de", 0, "de", 0, GroupSource::kCompositor},
                {"us,de", std::nullopt, "de", 1, GroupSource::kDesktopRecord},
                {"us,de,fr", std::nullopt, "de+nodeadkeys", 0, GroupSource::kFirst},
                {"us,de", 7, std::nullopt, 0, GroupSource::kFirst}};
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  for (const GroupCase& c : groups) {
    xkb_rule_names rules{nullptr, nullptr, c.layouts, "", nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
    EXPECT_EQ(activeGroup(context, keymap, c.reported, c.recorded), std::pair(c.group, c.source))
        << c.layouts;
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(context);
  std::string error;
  EXPECT_EQ(layoutFromKeymap("xkb_keymap { nonsense", 0, error), nullptr);
  EXPECT_NE(error.find("cannot read the keyboard layout"), error.npos) << error;
}

}  // namespace
}  // namespace quillmote::test
