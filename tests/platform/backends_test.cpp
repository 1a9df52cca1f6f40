// The backends: what uinput says when it cannot make its device (the device itself is checked
// in a virtual machine by uinput_vm_check), and xtest end to end: quillmote-cli run
// translating a pseudo-terminal onto an Xvfb, as an application hears it.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>

#include "platform/uinput/uinput_event_services.h"
#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/x_event_client.h"
#include "support/xvfb_server.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>

namespace quillmote::test {
namespace {

using Heard = std::vector<std::string>;

TEST(UInputOpen, without_the_module_says_how_to_load_it) {
  std::string error;
  EXPECT_EQ(UInputEventServices::open("/nonexistent/uinput", error), nullptr);
  EXPECT_NE(error.find("modprobe uinput"), error.npos) << error;
}

constexpr std::chrono::seconds kPatience{5};  // bounds waits, generous for sanitizer builds

class XTestBackend : public testing::Test {
 protected:
  // quillmote-cli run on the line. The first call starts the program's one Xvfb and listener.
  void run() {
    if (!server_) display_ = listenToInput(server_.emplace().displayName());
    cli_.emplace(
        std::vector<std::string>{QUILLMOTE_CLI, "run", "--port", line_.portPath()},
        std::vector<std::string>{"QUILLMOTE_BACKEND=xtest", "DISPLAY=" + server_->displayName()});
  }
  static inline std::optional<XvfbServer> server_;
  static inline Display* display_;
  PseudoTerminal line_;
  std::optional<ChildProcess> cli_;
};

// Per stop signal, a session of typed ASCII and pointer commands that ends with a key and a
// button held. XTest keys outlive their client: only the release at exit lets them up, and the
// application hears every change of the server's keys and buttons, a release included.
TEST_F(XTestBackend, an_application_hears_the_right_keys_and_a_stop_signal_leaves_none_down) {
  std::string ascii;
  Heard typed;
  for (char c = ' '; c <= '~'; ++c) {
    ascii += c;
    // Printable ASCII characters are their own keysyms; which take shift is the US layout's.
    std::string key = XKeysymToString(static_cast<KeySym>(c));
    if (std::isupper(c) || std::string_view("~!@#$%^&*()_+{}|:\"<>?").find(c) != ascii.npos) {
      typed.insert(typed.end(), {"down Shift_L", "down " + key, "up " + key, "up Shift_L"});
    } else {
      typed.insert(typed.end(), {"down " + key, "up " + key});
    }
  }
  // Tab by name, line feed as control+J, a one-letter word; past the near corner, within the
  // screen, past the far corner: one motion each, no warp.
  const std::pair<std::string, Heard> cases[] = {
      {ascii, typed},
      {bytes("{ESC}tab.\n{ESC},combine,control,a."),
       {"down Tab", "up Tab", "down Control_L", "down j", "up j", "up Control_L", "down Control_L",
        "down a", "up a", "up Control_L"}},
      {bytes("{ESC},move,-5000,-5000."), {"motion 0,0"}},
      {bytes("{ESC},move,10,5."), {"motion 10,5"}},
      {bytes("{ESC},move,5000,5000."), {"motion 1279,799"}},
      {bytes("{ESC},click,right."), {"press 3", "release 3"}},
      {bytes("{ESC},lock,shift.{ESC},moulock."), {"down Shift_L", "press 1"}}};
  for (int signal : {SIGTERM, SIGINT}) {
    run();
    for (const auto& [stream, expected] : cases) {
      // F12 last: events reach the server in order, so once it is up the rest has arrived.
      line_.send(stream + bytes("{ESC}f12."));
      Heard heard;
      auto markerUp = [&] { return heard.size() && heard.back() == "up F12"; };
      ASSERT_TRUE(hearUntil(display_, heard, markerUp, kPatience)) << cli_->errorOutput();
      EXPECT_EQ(Heard(heard.begin(), heard.end() - 2), expected);
    }
    ASSERT_TRUE(cli_->sendSignal(signal));
    EXPECT_EQ(cli_->waitForExit(kPatience), "exit 0") << cli_->errorOutput();
    Heard heard;
    auto bothUp = [&] { return heard.size() == 2; };
    EXPECT_TRUE(hearUntil(display_, heard, bothUp, kPatience)) << "signal " << signal;
    EXPECT_EQ(heard, (Heard{"up Shift_L", "release 1"})) << "signal " << signal;
  }
}

}  // namespace
}  // namespace quillmote::test
