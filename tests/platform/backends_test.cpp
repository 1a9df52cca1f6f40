// SPDX-License-Identifier: MIT
// The backends: uinput's advice when it cannot make its device (uinput_vm_check tests the
// device), and quillmote-cli run from a pseudo-terminal to an Xvfb through XTest.
#include "platform/backends.h"

#include <gmock/gmock.h>
#include <signal.h>

#include "platform/uinput/device_opened.h"
#include "platform/uinput/uinput_event_services.h"
#include "support/child_process.h"
#include "support/pseudo_terminal.h"
#include "support/wait.h"
#include "support/xvfb_server.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;

TEST(UInputOpen, without_the_module_says_how_to_load_it) {
  std::string error;
  EXPECT_EQ(UInputEventServices::open("/nonexistent/uinput", UInputDesktop{}, error), nullptr);
  EXPECT_NE(error.find("modprobe uinput"), error.npos) << error;
}

// The devices count as ready once another process holds their nodes open, as a desktop
// does; this process's own descriptors do not count, nor does a node nobody opens.
TEST(UInputOpen, ready_once_another_process_holds_every_node) {
  char node[] = "/tmp/quillmote-node-XXXXXX", other[] = "/tmp/quillmote-node-XXXXXX";
  int own = mkstemp(node), unopened = mkstemp(other);
  close(unopened);
  EXPECT_FALSE(heldByAnotherProcess(node)) << "this process's own descriptor";
  ChildProcess desktop({"sh", "-c", std::string("sleep 0.2; exec sleep 30 < ") + node});
  EXPECT_TRUE(waitUntilOpened({node}, 10s));
  EXPECT_FALSE(waitUntilOpened({node, other}, 200ms));
  desktop.sendSignal(SIGTERM);
  close(own);
  unlink(node), unlink(other);
}

// Where the uinput backend's layout and pointer mode come from: the option first, then the
// environment, then the compositor; absolute only over a desktop of known size.
TEST(UInputChoices, layout_and_pointer_come_from_the_first_place_that_says) {
  const DesktopBox known{0, 0, 1280, 720}, unknown{};
  struct Case {
    std::string option;
    DesktopEnvironment environment;
    const char* layoutFrom;  // nullptr: the compositor's keymap
    std::optional<PointerMode> asked;
    DesktopBox desktop;
    std::optional<PointerMode> pointer;
    // One case a row:
    // clang-format off
  } cases[] = {
      {"",   {std::nullopt, "wayland-0", std::nullopt, {}}, nullptr, std::nullopt, known, PointerMode::kAbsolute},
      {"fr", {"de", "wayland-0", "relative", {}}, "the --layout option", std::nullopt, known, PointerMode::kRelative},
      {"",   {"de", "wayland-0", "absolute", {}}, "QUILLMOTE_LAYOUT", PointerMode::kRelative, known, PointerMode::kRelative},
      {"",   {std::nullopt, std::nullopt, std::nullopt, {}}, "the default", PointerMode::kAbsolute, unknown, PointerMode::kRelative},
      {"",   {std::nullopt, std::nullopt, "sideways", {}}, "the default", std::nullopt, known, std::nullopt},
  };
  // clang-format on
  for (const Case& c : cases) {
    auto names = namedUInputLayout(c.option, c.environment, "/nonexistent/keyboard");
    EXPECT_EQ(names ? names->source : "the compositor",
              c.layoutFrom ? c.layoutFrom : "the compositor");
    std::string error = "untouched";
    EXPECT_EQ(choosePointerMode(c.asked, c.environment, c.desktop, error), c.pointer);
    EXPECT_EQ(error == "untouched", c.pointer.has_value()) << error;
  }
}

// Per stop signal, a run whose last commands leave a key and a button down. XTest keys outlive
// their client: only the release at exit lets them up, and the application hears it.
TEST(XTestBackend, an_application_hears_the_right_keys_and_a_stop_signal_leaves_none_down) {
  // A shifted and an unshifted character (every character is checked on every layout below).
  std::string stream = "a~";
  std::vector<std::string> expected = {"down a",          "up a",          "down Shift_L",
                                       "down asciitilde", "up asciitilde", "up Shift_L"};
  // Tab, control+J; moves kept on screen, one motion each; shift, button 1 locked till the signal.
  stream += "\033tab.\n\033,move,-5000,-5000.\033,move,10,5.\033,move,5000,5000.";
  stream += "\033,click,right.\033,lock,shift.\033,moulock.";
  expected.insert(expected.end(),
                  {"down Tab", "up Tab", "down Control_L", "down Control+j", "up j", "up Control_L",
                   "motion 0,0", "motion 10,5", "motion 1279,799", "press 3", "release 3",
                   "down Shift_L", "press 1", "up Shift_L", "release 1"});
  XvfbServer server;
  Display* display = listenToInput(server.displayName());
  PseudoTerminal line;
  for (int signal : {SIGTERM, SIGINT}) {
    ChildProcess cli({QUILLMOTE_CLI, "run", "--port", line.portPath()},
                     {"QUILLMOTE_BACKEND=xtest", "DISPLAY=" + server.displayName()});
    line.send(stream);
    std::vector<std::string> heard;
    auto heardFirst = [&](std::size_t n) { return [&, n] { return heard.size() >= n; }; };
    EXPECT_TRUE(hearUntil(display, heard, heardFirst(expected.size() - 2), kPatience));
    ASSERT_TRUE(cli.sendSignal(signal));
    EXPECT_EQ(cli.waitForExit(kPatience), "exit 0") << cli.errorOutput();
    EXPECT_TRUE(hearUntil(display, heard, heardFirst(expected.size()), kPatience));
    EXPECT_THAT(heard, testing::ContainerEq(expected)) << "signal " << signal;
  }
  XCloseDisplay(display);
}

// Started under layouts whose letter keys carry other symbols (AZERTY, Cyrillic, Greek), and
// after switches of layout and of group during a run, the client gets every printable
// character and three shortcuts exactly as the device sent them.
TEST(XTestBackend, every_character_arrives_as_sent_whatever_the_layout) {
  std::string stream;
  std::vector<std::string> expected;
  for (char c = ' '; c <= '~'; ++c) {
    stream += c;
    expected.push_back(std::string("down ") + XKeysymToString(static_cast<KeySym>(c)));
  }
  stream += "\033,hold,control.z\033,hold,control.y\033,hold,control.a";
  const std::vector<std::string> shortcuts = {"down Control+z", "down Control+y", "down Control+a"};
  XvfbServer server;
  Display* display = listenToInput(server.displayName());
  PseudoTerminal line;
  auto typeUnder = [&](std::vector<std::string> layout) {
    layout.insert(layout.begin(), {"setxkbmap", "-display", server.displayName()});
    ASSERT_EQ(ChildProcess(layout).waitForExit(10s), "exit 0");
    // The second group of a layout list, locked as a group switch does.
    if (layout.back() == "us,fr") XkbLockGroup(display, XkbUseCoreKbd, 1);
    XSync(display, False);
    line.send(stream);
    std::vector<std::string> typed;
    hearUntil(
        display, typed,
        [&] {
          std::erase_if(typed, [](const std::string& heard) {
            return !heard.starts_with("down ") || IsModifierKey(XStringToKeysym(heard.c_str() + 5));
          });
          return typed.size() >= expected.size() + shortcuts.size();
        },
        5s);
    // Without Latin letters, shortcuts keep their US keys, as toolkits match them there.
    std::map<std::string, std::vector<std::string>> noLatin = {
        {"ru",
         {"down Control+Cyrillic_ya", "down Control+Cyrillic_en", "down Control+Cyrillic_ef"}},
        {"gr",
         {"down Control+Greek_zeta", "down Control+Greek_upsilon", "down Control+Greek_alpha"}}};
    std::vector<std::string> wanted = expected, keys = noLatin[layout.back()];
    wanted.insert(wanted.end(), keys.empty() ? shortcuts.begin() : keys.begin(),
                  keys.empty() ? shortcuts.end() : keys.end());
    EXPECT_THAT(typed, testing::ContainerEq(wanted)) << layout.back();
  };
  const std::vector<std::string> env = {"QUILLMOTE_BACKEND=xtest",
                                        "DISPLAY=" + server.displayName()};
  for (const char* startLayout : {"fr", "be", "ru", "gr"}) {
    ChildProcess(
        std::vector<std::string>{"setxkbmap", "-display", server.displayName(), startLayout})
        .waitForExit(10s);
    ChildProcess cli({QUILLMOTE_CLI, "run", "--port", line.portPath()}, env);
    typeUnder({startLayout});
    ASSERT_TRUE(cli.sendSignal(SIGTERM));
    EXPECT_EQ(cli.waitForExit(5s), "exit 0") << startLayout << ": " << cli.errorOutput();
  }
  ChildProcess cli({QUILLMOTE_CLI, "run", "--port", line.portPath()}, env);
  const std::vector<std::vector<std::string>> layouts = {
      {"us"}, {"gb"}, {"fr"}, {"us,fr"}, {"es"}, {"ch"}, {"us", "-variant", "dvorak"}, {"de"}};
  for (const std::vector<std::string>& layout : layouts) typeUnder(layout);
  // At its end the run gives back the key codes it lent itself for ^ and `, which de lacks.
  ASSERT_TRUE(cli.sendSignal(SIGTERM));
  EXPECT_EQ(cli.waitForExit(5s), "exit 0");
  int first = 0, last = 0, perKey = 0;
  XDisplayKeycodes(display, &first, &last);
  KeySym* map = XGetKeyboardMapping(display, first, last - first + 1, &perKey);
  EXPECT_EQ(std::count(map, map + (last - first + 1) * perKey, XK_asciicircum), 0);
  XFree(map);
  // Asked for plain positions, the keys of a US keyboard's z, y and @ are pressed as they are.
  ChildProcess positions({QUILLMOTE_CLI, "run", "--key-positions", "--port", line.portPath()},
                         {"QUILLMOTE_BACKEND=xtest", "DISPLAY=" + server.displayName()});
  line.send("zy@");
  std::vector<std::string> heard;
  hearUntil(
      display, heard, [&] { return !heard.empty() && heard.back() == "up Shift_L"; }, 5s);
  heard.erase(heard.begin(), std::find(heard.begin(), heard.end(), "down y"));  // the last ups
  EXPECT_THAT(heard, testing::ElementsAre("down y", "up y", "down z", "up z", "down Shift_L",
                                          "down quotedbl", "up quotedbl", "up Shift_L"));
  XCloseDisplay(display);
}

}  // namespace
}  // namespace quillmote::test
