// SPDX-License-Identifier: MIT
// The backends: uinput's advice when it cannot make its device (uinput_vm_check tests the
// device), and quillmote-cli run from a pseudo-terminal to an Xvfb through XTest.
#include <gmock/gmock.h>
#include <signal.h>

#include <cstring>

#include "platform/uinput/uinput_event_services.h"
#include "support/child_process.h"
#include "support/pseudo_terminal.h"
#include "support/xvfb_server.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>

namespace quillmote::test {
namespace {

TEST(UInputOpen, without_the_module_says_how_to_load_it) {
  std::string error;
  EXPECT_EQ(UInputEventServices::open("/nonexistent/uinput", error), nullptr);
  EXPECT_NE(error.find("modprobe uinput"), error.npos) << error;
}

// Per stop signal, a run whose last commands leave a key and a button down. XTest keys outlive
// their client: only the release at exit lets them up, and the application hears it.
TEST(XTestBackend, an_application_hears_the_right_keys_and_a_stop_signal_leaves_none_down) {
  constexpr std::chrono::seconds kPatience{5};  // bounds waits, generous for sanitizer builds
  std::string stream;
  std::vector<std::string> expected;
  for (char c = ' '; c <= '~'; ++c) {
    stream += c;
    // Printable ASCII characters are their own keysyms; which take shift is the US layout's.
    std::string key = XKeysymToString(static_cast<KeySym>(c));
    bool shifted = std::isupper(c) || std::strchr("~!@#$%^&*()_+{}|:\"<>?", c);
    if (shifted) expected.push_back("down Shift_L");
    expected.insert(expected.end(), {"down " + key, "up " + key});
    if (shifted) expected.push_back("up Shift_L");
  }
  // Tab, control+J; moves kept on screen, one motion each; shift, button 1 locked till the signal.
  stream += "\033tab.\n\033,move,-5000,-5000.\033,move,10,5.\033,move,5000,5000.";
  stream += "\033,click,right.\033,lock,shift.\033,moulock.";
  expected.insert(expected.end(),
                  {"down Tab", "up Tab", "down Control_L", "down j", "up j", "up Control_L",
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

}  // namespace
}  // namespace quillmote::test
