// The xtest backend on an X server of the test's own (Xvfb). Bytes written on a
// pseudo-terminal go the real way (serial port, reader thread, interpreter, XTest) and
// are checked where an application sees them, in a small X client, and in the server's
// own keyboard and pointer state. Also: what is released when translation ends for good.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interpreter/interpreter.h"
#include "platform/xtest/xtest_event_services.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"
#include "support/x_event_client.h"
#include "support/xvfb_server.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::XRecordedEvent;

// Generous, for sanitizer builds too: these bound waits, they do not measure speed.
constexpr auto kPatience = 5s;
constexpr unsigned int kAnyButton = Button1Mask | Button2Mask | Button3Mask;
constexpr int kXKeyCodeOfLeftShift = KEY_LEFTSHIFT + 8;

// Typed after every stream. The backend's events reach the server in order through one
// connection, so once the client has this key, everything posted before it is complete.
const std::string kMarker = bytes("{ESC}f12.");
bool isMarker(const XRecordedEvent& event) { return event.isKey() && event.keysym == XK_F12; }

bool isKey(const XRecordedEvent& event) { return event.isKey(); }
bool isButton(const XRecordedEvent& event) { return event.isButton(); }
bool isMotion(const XRecordedEvent& event) { return event.kind == XRecordedEvent::Kind::kMotion; }
bool isPointer(const XRecordedEvent& event) { return isButton(event) || isMotion(event); }

class NoSerialPorts final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override { return {}; }
};

// Translation running on a pseudo-terminal with the xtest backend on a fresh Xvfb, and
// a client window that has the focus and covers the screen.
class XTestBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error, warnings;
    events_ = XTestEventServices::open(server_.displayName().c_str(), error, warnings);
    ASSERT_NE(events_, nullptr) << error;
    EXPECT_EQ(warnings, "") << "a standard keymap has every key the device can name";
    interpreter_ = std::make_unique<Interpreter>(*events_);
    serial_ = std::make_unique<Serial>(alerts_, *interpreter_, registry_);
    fd_ = serial_->openSerialPortWithPath(line_.portPath().c_str(), 9600);
    ASSERT_GT(fd_, 0) << testing::PrintToString(alerts_.shown);
    ASSERT_TRUE(startReaderThread(*serial_, control(), fd_));
    running_ = true;
  }

  void TearDown() override {
    if (running_) {
      stopReaderThread(control());
      serial_->closeSerialPortWithDescriptor(fd_);
    }
    EXPECT_EQ(alerts_.shown, std::vector<std::string>{});
  }

  // The reader thread's last step still holds the control's lock when the stop sees it
  // done, so the control object outlives every test.
  static SerialThreadControl& control() {
    static SerialThreadControl& control = *new SerialThreadControl;
    return control;
  }

  // Sends `streamBytes` and the marker; returns, described, the events that `wanted`
  // keeps among those the client received before the marker.
  std::vector<std::string> eventsFor(const std::string& streamBytes,
                                     const std::function<bool(const XRecordedEvent&)>& wanted) {
    client_.clear();
    line_.send(streamBytes + kMarker);
    EXPECT_TRUE(client_.waitForEvent(
        [](const XRecordedEvent& e) {
          return isMarker(e) && e.kind == XRecordedEvent::Kind::kKeyRelease;
        },
        kPatience))
        << "the marker key never arrived";
    std::vector<std::string> described;
    for (const XRecordedEvent& event : client_.events()) {
      if (isMarker(event)) break;
      if (wanted(event)) described.push_back(event.describe());
    }
    return described;
  }

  test::XvfbServer server_;
  test::XEventClient client_{server_.displayName()};
  test::PseudoTerminal line_;
  test::RecordingAlerts alerts_;
  NoSerialPorts registry_;
  std::unique_ptr<XTestEventServices> events_;
  std::unique_ptr<Interpreter> interpreter_;
  std::unique_ptr<Serial> serial_;
  int fd_ = -1;
  bool running_ = false;
};

// --- keyboard -----------------------------------------------------------------------------

TEST_F(XTestBackend, typed_text_arrives_as_its_keys_with_shift_around_capitals) {
  const std::string text =
      "the quick brown fox jumps over the lazy dog THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG "
      "0123456789 `-=[]\\;',./~!@#$%^&*()_+{}|:\"<>?";
  const std::string shiftedPunctuation = "~!@#$%^&*()_+{}|:\"<>?";
  std::vector<std::string> expected;
  for (char c : text) {
    // Printable ASCII characters are their own keysyms.
    std::string name = XKeysymToString(static_cast<KeySym>(c));
    bool shifted = (c >= 'A' && c <= 'Z') || shiftedPunctuation.find(c) != std::string::npos;
    if (shifted) expected.push_back("down Shift_L");
    expected.push_back("down " + name + " '" + c + "'" + (shifted ? " +shift" : ""));
    expected.push_back("up " + name);
    if (shifted) expected.push_back("up Shift_L");
  }
  // Tab by name; the line feed byte is control+J in the character table.
  expected.insert(expected.end(), {"down Tab ^I", "up Tab", "down Control_L", "down j ^J +control",
                                   "up j", "up Control_L"});

  EXPECT_EQ(eventsFor(text + bytes("{ESC}tab.") + "\n", isKey), expected);
}

TEST_F(XTestBackend, holds_locks_and_combinations_modify_the_keys_they_should) {
  struct Case {
    const char* name;
    const char* stream;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"hold_shift_covers_only_the_next_key",
       "{ESC},hold,shift.ab",
       {"down Shift_L", "down A 'A' +shift", "up A", "up Shift_L", "down b 'b'", "up b"}},
      {"locked_control_stays_down_until_release_all",
       "{ESC},lock,control.cv{ESC},rel.",
       {"down Control_L", "down c ^C +control", "up c", "down v ^V +control", "up v",
        "up Control_L"}},
      {"combination_control_a",
       "{ESC},combine,control,a.",
       {"down Control_L", "down a ^A +control", "up a", "up Control_L"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eventsFor(bytes(c.stream), isKey), c.expected);
    EXPECT_EQ(client_.keysDown(), std::vector<int>{}) << "a key stayed down on the server";
  }
}

// --- mouse --------------------------------------------------------------------------------

TEST_F(XTestBackend, move_lands_where_it_says_and_stops_at_the_screen_edge) {
  struct Case {
    const char* name;
    int startX, startY;
    const char* stream;
    int endX, endY;
  };
  const Case cases[] = {
      {"right_and_up", 500, 300, "{ESC},move,10,-5.", 510, 295},
      {"past_bottom_right_edge", 1200, 700, "{ESC},move,500,500.", 1279, 799},
      {"past_top_left_edge", 20, 30, "{ESC},move,-100,-100.", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client_.warpPointer(c.startX, c.startY);
    std::vector<std::string> motions = eventsFor(bytes(c.stream), isMotion);
    std::string end = std::to_string(c.endX) + "," + std::to_string(c.endY);
    ASSERT_FALSE(motions.empty()) << "the application saw no motion";
    EXPECT_EQ(motions.back(), "motion " + end);
    test::XEventClient::PointerState pointer = client_.pointer();
    EXPECT_EQ(std::to_string(pointer.x) + "," + std::to_string(pointer.y), end);
  }
}

// A warp moves the pointer without delivering an event; only the move's own post does.
// XWarpPointer makes the server send motion to the application as if the user moved the
// mouse, so the application would see the pointer go to the target, back, and there again.
TEST_F(XTestBackend, move_reaches_the_application_as_one_motion) {
  client_.warpPointer(500, 300);
  EXPECT_EQ(eventsFor(bytes("{ESC},move,30,20."), isMotion),
            std::vector<std::string>{"motion 530,320"});
}

TEST_F(XTestBackend, clicks_arrive_as_press_and_release_pairs_at_the_pointer) {
  struct Case {
    const char* name;
    const char* stream;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"click", "{ESC},click.", {"press 1 at 400,200", "release 1 at 400,200"}},
      {"right_click_is_button_3",
       "{ESC},click,right.",
       {"press 3 at 400,200", "release 3 at 400,200"}},
      {"double_click",
       "{ESC},dblclick.",
       {"press 1 at 400,200", "release 1 at 400,200", "press 1 at 400,200",
        "release 1 at 400,200"}},
  };
  client_.warpPointer(400, 200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(eventsFor(bytes(c.stream), isButton), c.expected);
    EXPECT_EQ(client_.pointer().mask & kAnyButton, 0u);
  }
}

TEST_F(XTestBackend, locked_left_button_and_move_arrive_as_a_drag) {
  client_.warpPointer(500, 300);
  std::vector<std::string> seen =
      eventsFor(bytes("{ESC},moulock.{ESC},move,30,20.{ESC},mourel."), isPointer);
  ASSERT_GE(seen.size(), 3u) << testing::PrintToString(seen);
  EXPECT_EQ(seen.front(), "press 1 at 500,300");
  EXPECT_EQ(seen[seen.size() - 2], "motion 530,320 +button1") << testing::PrintToString(seen);
  EXPECT_EQ(seen.back(), "release 1 at 530,320");
}

TEST_F(XTestBackend, release_and_reset_leave_every_button_up) {
  struct Case {
    const char* name;
    const char* stream;
    std::vector<std::string> expected;
    int endX, endY;
  };
  const Case cases[] = {
      {"release", "{ESC},mourel.", {"release 1 at 400,200", "release 3 at 400,200"}, 400, 200},
      {"reset", "{ESC},moureset.", {"release 1 at 0,0", "release 3 at 0,0"}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client_.warpPointer(400, 200);
    ASSERT_EQ(eventsFor(bytes("{ESC},moulock.{ESC},moulock,right."), isButton),
              (std::vector<std::string>{"press 1 at 400,200", "press 3 at 400,200"}));
    ASSERT_EQ(client_.pointer().mask & kAnyButton, unsigned{Button1Mask | Button3Mask});

    EXPECT_EQ(eventsFor(bytes(c.stream), isButton), c.expected);
    test::XEventClient::PointerState pointer = client_.pointer();
    EXPECT_EQ(pointer.mask & kAnyButton, 0u);
    EXPECT_EQ(pointer.x, c.endX);
    EXPECT_EQ(pointer.y, c.endY);
  }
}

// --- start --------------------------------------------------------------------------------

TEST(XTestStartup, display_it_cannot_use_is_refused_with_a_reason_naming_it) {
  struct Case {
    const char* name;
    bool startServer;
    std::vector<std::string> serverArguments;
    // Keys changed on the server before the backend connects: X key code, new keysym.
    std::vector<std::pair<int, KeySym>> keymapChanges;
    const char* errorMentions;  // nullptr: the backend starts
    const char* warningMentions;
  };
  const Case cases[] = {
      {"no_such_display", false, {}, {}, "cannot connect", ""},
      {"server_without_xtest", true, {"-extension", "XTEST"}, {}, "XTest", ""},
      {"key_codes_not_evdev", true, {}, {{38, XK_q}}, "evdev", ""},
      {"key_without_symbol_is_named_in_a_warning",
       true,
       {},
       {{KEY_SCROLLLOCK + 8, NoSymbol}},
       nullptr,
       "scroll lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<test::XvfbServer> server;
    // Xlib tries the local socket of display 59999, which no server has, then TCP port
    // 65999, which does not exist: refused at once.
    std::string displayName = ":59999";
    if (c.startServer) displayName = server.emplace(c.serverArguments).displayName();
    if (!c.keymapChanges.empty()) {
      test::XEventClient changer(displayName);
      for (auto [keyCode, keysym] : c.keymapChanges) {
        XChangeKeyboardMapping(changer.display(), keyCode, 1, &keysym, 1);
      }
      XSync(changer.display(), False);
    }

    std::string error, warnings;
    std::unique_ptr<XTestEventServices> events =
        XTestEventServices::open(displayName.c_str(), error, warnings);
    if (c.errorMentions == nullptr) {
      EXPECT_NE(events, nullptr) << error;
      EXPECT_EQ(error, "");
    } else {
      EXPECT_EQ(events, nullptr);
      EXPECT_NE(error.find(c.errorMentions), std::string::npos) << error;
      EXPECT_NE(error.find("\"" + displayName + "\""), std::string::npos) << error;
    }
    if (*c.warningMentions == '\0') {
      EXPECT_EQ(warnings, "");
    } else {
      EXPECT_NE(warnings.find(c.warningMentions), std::string::npos) << warnings;
    }
  }
}

// --- release at exit ----------------------------------------------------------------------

TEST(ReleaseEverythingHeld, keys_go_up_in_ascending_order_then_buttons_in_one_post) {
  struct Case {
    const char* name;
    const char* stream;
    const char* expected;
  };
  const Case cases[] = {
      {"nothing_left_down_posts_nothing", "{ESC},hold,shift.a{ESC},click.{ESC},lock,alt.{ESC},rel.",
       ""},
      // Control is locked before shift is held: the order is the key codes', not the commands'.
      {"held_and_locked_keys_and_locked_buttons",
       "{ESC},lock,control.{ESC},hold,shift.{ESC},moulock.{ESC},moulock,right.",
       "key 56 up\nkey 59 up\nmouse 500 300 update=0 buttons=0 0 0\n"},
      {"button_released_where_the_pointer_is_now", "{ESC},moulock.{ESC},move,10,5.",
       "mouse 510 305 update=0 buttons=0 0 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TracedInterpreter traced(GlobalMousePoint{300, 500});
    traced.run(bytes(c.stream));
    traced.output().str("");
    traced.interpreter().releaseEverythingHeld();
    EXPECT_EQ(test::withoutComments(traced.output().str()), c.expected);
    traced.output().str("");
    traced.interpreter().releaseEverythingHeld();
    EXPECT_EQ(traced.output().str(), "") << "released twice: the state was not cleared";
  }
}

TEST(XTestRun, stop_signal_leaves_no_key_or_button_down_on_the_server) {
  test::XvfbServer server;
  test::XEventClient client(server.displayName());
  test::PseudoTerminal line;
  test::ChildProcess cli({QUILLMOTE_CLI, "run", "--port", line.portPath(), "--backend", "xtest"},
                         {"DISPLAY=" + server.displayName()});
  line.send(bytes("{ESC},lock,shift.{ESC},moulock."));
  ASSERT_TRUE(client.waitUntil(
      [&] {
        return client.keysDown() == std::vector<int>{kXKeyCodeOfLeftShift} &&
               (client.pointer().mask & kAnyButton) == Button1Mask;
      },
      kPatience))
      << "shift and the left button never went down; quillmote-cli said:\n"
      << cli.errorOutput();

  ASSERT_TRUE(cli.sendSignal(SIGTERM));
  ASSERT_EQ(cli.waitForExit(kPatience), "exit 0") << cli.errorOutput();
  EXPECT_EQ(cli.errorOutput().find("Internal Error"), std::string::npos) << cli.errorOutput();
  // XTest keys outlive their client: only the release at exit brings them up.
  EXPECT_TRUE(client.waitUntil(
      [&] { return client.keysDown().empty() && (client.pointer().mask & kAnyButton) == 0; },
      kPatience))
      << "still down: keys " << testing::PrintToString(client.keysDown()) << ", pointer mask "
      << client.pointer().mask;
}

}  // namespace
}  // namespace quillmote
