// SPDX-License-Identifier: MIT
// Which device a session follows after an unplug: by-id links and tty numbers, on the
// scripted registry, with pseudo-terminals behind links standing in for the kernel's nodes.
#include "session/translation_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

#include "platform/trace_event_services.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"
#include "support/scripted_devices.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Seen = TranslationSession::Seen;

// Device A is unplugged from ttyUSB0; B is plugged in on ttyUSB0, then A comes back on
// ttyUSB1. The session started on `stored` must wait through B and resume on A, unless udev
// made no by-id links: then the tty path is all there is to follow, and B on it is taken.
TEST(TranslationSession, follows_the_device_by_its_by_id_link_not_its_tty_number) {
  struct {
    const char* name;
    std::string stored;  // relative to the stand-in /dev
    bool byIdLinks;      // udev made them (a USB adapter with udevd running)
    char resumesOn;      // the device it reads from after the return
  } cases[] = {
      {"by-id path, as the preferences store it", "by-id/A", true, 'A'},
      {"tty path from older settings", "ttyUSB0", true, 'A'},
      {"tty path of a port without by-id link", "ttyUSB0", false, 'B'},
  };
  for (const auto& c : cases) {
    for (bool announced : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (announced ? ", announced" : ", path alone"));
      const fs::path dev =
          fs::path(testing::TempDir()) / ("quillmote-dev-" + std::to_string(getpid()));
      fs::remove_all(dev);
      fs::create_directories(dev / "by-id");
      ScriptedDevices devices;
      std::map<char, std::unique_ptr<PseudoTerminal>> plugged;
      auto plug = [&](char device, const std::string& tty) {
        plugged[device] = std::make_unique<PseudoTerminal>();
        std::string node = dev / tty, link = dev / "by-id" / std::string(1, device);
        fs::create_symlink(plugged[device]->portPath(), node);
        if (c.byIdLinks) fs::create_symlink(node, link);
        devices.ports.push_back(
            {tty, c.byIdLinks ? link : node, node, "FT232R USB UART", {device}});
        devices.events.push_back({DeviceEvent::Kind::kAdded, node, {c.byIdLinks ? link : ""}});
      };
      LiveTrace trace;
      std::ostream traceStream{&trace};
      TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
      Interpreter interpreter{events};
      RecordingAlerts alerts;
      plug('A', "ttyUSB0");
      TranslationSession session(alerts, interpreter, devices, announced ? &devices : nullptr);
      ASSERT_EQ(session.start(dev / c.stored, 9600), TranslationSession::Started::kRunning);
      // Unplugged: the nodes and links go, the line hangs up, and udev says so.
      fs::remove(dev / "ttyUSB0");
      fs::remove(dev / "by-id/A");
      devices.ports.clear();
      devices.events.push_back({DeviceEvent::Kind::kRemoved, dev / "ttyUSB0", {dev / "by-id/A"}});
      plugged['A']->hangUp();
      auto deadline = std::chrono::steady_clock::now() + 5s;  // the reader thread sees it
      while (session.look(TranslationSession::Clock::now()) != Seen::kUnplugged) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the unplug went unseen";
      }
      // Without announcements a path must stay for the settle time before it counts as back.
      auto lookTwice = [&] {
        auto now = TranslationSession::Clock::now();
        Seen first = session.look(now);
        return first != Seen::kNothing ? first : session.look(now + 2 * UnplugWatch::kSettleTime);
      };
      EXPECT_EQ(lookTwice(), Seen::kNothing) << "taken for back while away";
      plug('B', "ttyUSB0");
      char resumed = 'B';
      if (lookTwice() == Seen::kNothing) {
        plug('A', "ttyUSB1");
        EXPECT_EQ(lookTwice(), Seen::kBack) << "A back on a new number went unseen";
        resumed = 'A';
      }
      EXPECT_EQ(resumed, c.resumesOn);
      ASSERT_EQ(session.startAgain(), TranslationSession::Started::kRunning)
          << testing::PrintToString(alerts.shown);
      plugged[resumed]->send("b");
      EXPECT_TRUE(trace.waitFor("key 11 up", 5s)) << "not reading device " << resumed;
      EXPECT_TRUE(alerts.shown.empty()) << testing::PrintToString(alerts.shown);
      session.stop();
      fs::remove_all(dev);
    }
  }
}

}  // namespace
}  // namespace quillmote::test
