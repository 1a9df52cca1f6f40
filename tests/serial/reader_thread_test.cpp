// The thread-control flags, and the reader thread with its start and stop handshakes on
// a real pseudo-terminal opened and closed through Serial, as the controller does it.
#include "serial/reader_thread.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"
#include "serial/serial.h"
#include "support/interpreter_harness.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::notation;

// Generous: these bound waits on conditions, they do not measure speed.
constexpr auto kPatience = 2s;

// --- SerialThreadControl ---------------------------------------------------------------

TEST(ThreadControl, fresh_object_has_both_flags_clear_and_no_descriptor) {
  SerialThreadControl control;
  EXPECT_FALSE(control.shouldExit());
  EXPECT_FALSE(control.isDone());
  EXPECT_EQ(control.getFileDescriptorId(), 0);
  control.setFileDescriptorId(42);
  EXPECT_EQ(control.getFileDescriptorId(), 42);
}

TEST(ThreadControl, exit_flag_clears_done_only_when_set_false) {
  struct Case {
    const char* name;
    bool doneBefore;
    bool exitFlag;
    bool doneAfter;
  };
  const Case cases[] = {
      {"stop_requested_while_running", false, true, false},
      {"stop_requested_after_finish", true, true, true},
      {"new_run_after_finish", true, false, false},
      {"new_run_from_created", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialThreadControl control;
    if (c.doneBefore) control.allDone();
    ASSERT_EQ(control.isDone(), c.doneBefore);
    control.setExitWithFlag(c.exitFlag);
    EXPECT_EQ(control.shouldExit(), c.exitFlag);
    EXPECT_EQ(control.isDone(), c.doneAfter);
  }
}

// --- the reader thread on a pseudo-terminal --------------------------------------------

// Waits without pausing, as the stop handshake does; false once `timeout` has passed.
template <typename Condition>
bool spinUntil(Condition condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// The stop handshake, on a thread of its own so that one that never completes fails
// here. It has no timeout and cannot be cancelled, and the reader thread would go on
// using objects about to be destroyed, so the process ends instead of hanging.
void stopOrAbort(SerialThreadControl& control) {
  auto stopping = std::async(std::launch::async, [&control] { stopReaderThread(control); });
  if (stopping.wait_for(kPatience) != std::future_status::ready) {
    std::cerr << "FATAL: the stop handshake did not complete within 2 s\n";
    std::abort();
  }
}

std::size_t openDescriptorCount() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

class NoSerialPorts final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override { return {}; }
};

// The trace backend, except that the first mouse post waits until released before it
// goes through: a rule action that the test holds in the middle.
class HeldMouseEvents final : public EventServices {
 public:
  explicit HeldMouseEvents(EventServices& inner) : inner_(inner) {}

  bool waitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return held_; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool down) override {
    inner_.postKeyboardEvent(charCode, keyCode, down);
  }
  void postMouseEvent(Point position, bool update, std::uint32_t buttonCount, bool left, bool right,
                      bool third) override {
    {
      std::unique_lock lock(mutex_);
      held_ = true;
      changed_.notify_all();
      // Bounded, so a failed test ends instead of leaving the reader thread stuck.
      changed_.wait_for(lock, 10s, [this] { return released_; });
    }
    inner_.postMouseEvent(position, update, buttonCount, left, right, third);
  }
  void warpMouseCursorPosition(Point position) override {
    inner_.warpMouseCursorPosition(position);
  }
  GlobalMousePoint getGlobalMouse() override { return inner_.getGlobalMouse(); }

 private:
  EventServices& inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
};

class ReaderThread : public ::testing::Test {
 protected:
  void TearDown() override {
    events.release();
    if (running_) stop();
  }

  // Opens the port and starts translation on it, as the controller does; returns the
  // descriptor, or -1 after a failure.
  int openAndStart() {
    int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
    if (fd <= 0 || !startReaderThread(serial, control, fd)) {
      ADD_FAILURE() << "no start on " << fd << testing::PrintToString(alerts.shown);
      return -1;
    }
    running_ = true;
    return fd;
  }
  void stop() {
    stopOrAbort(control);
    running_ = false;
  }

  // The reply proves the reader thread runs and has handed every byte sent before the
  // zero byte to the scanner, which now waits for the next one.
  void pingAndAwaitReply() {
    line.send(bytes("{NUL}"));
    ASSERT_EQ(notation(line.waitForDeviceBytes(1, kPatience)), notation("\x11"))
        << "the zero byte was not answered";
  }

  test::PseudoTerminal line;
  test::RecordingAlerts alerts;
  test::LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices traceEvents{traceStream, ScreenSize{}, GlobalMousePoint{}};
  HeldMouseEvents events{traceEvents};
  Interpreter interpreter{events};
  NoSerialPorts registry;
  Serial serial{alerts, interpreter, registry};
  SerialThreadControl control;
  bool running_ = false;  // a reader thread that TearDown must stop
};

TEST_F(ReaderThread, bytes_become_events_and_stop_on_idle_line_returns) {
  int fd = openAndStart();
  ASSERT_GT(fd, 0);
  line.send("a");
  pingAndAwaitReply();
  EXPECT_EQ(trace.text(), "key 0 down\nkey 0 up\n");
  stop();
  EXPECT_TRUE(control.isDone());
  serial.closeSerialPortWithDescriptor(fd);
  EXPECT_EQ(alerts.shown, std::vector<std::string>{});
}

TEST_F(ReaderThread, restart_on_new_descriptor_continues_interpreter_state) {
  int first = openAndStart();
  ASSERT_GT(first, 0);
  line.send(bytes("{ESC},hold"));
  pingAndAwaitReply();
  stop();
  serial.closeSerialPortWithDescriptor(first);
  int exclusive = -1;
  ASSERT_EQ(ioctl(line.portFd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "exclusive use outlived the close; the reopen would fail";

  // Keeps the old number taken, so a thread that read a stale descriptor would show.
  int placeholder = open("/dev/null", O_RDONLY);
  ASSERT_EQ(placeholder, first);
  int second = openAndStart();
  ASSERT_GT(second, 0);
  line.send(bytes(",shift.a"));
  pingAndAwaitReply();
  stop();
  serial.closeSerialPortWithDescriptor(second);
  close(placeholder);

  EXPECT_EQ(trace.text(), "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n");
  EXPECT_EQ(alerts.shown, std::vector<std::string>{});
}

TEST_F(ReaderThread, stop_during_action_lets_the_action_finish) {
  int fd = openAndStart();
  ASSERT_GT(fd, 0);
  line.send(bytes("{ESC},dblclick."));
  ASSERT_TRUE(events.waitUntilHeld(kPatience)) << "the double-click posted nothing";

  auto stopping = std::async(std::launch::async, [this] { stopReaderThread(control); });
  ASSERT_TRUE(spinUntil([this] { return control.shouldExit(); }, kPatience));
  EXPECT_FALSE(control.isDone()) << "done reported in the middle of an action";
  EXPECT_EQ(stopping.wait_for(0s), std::future_status::timeout)
      << "the stop returned while an action was still running";
  events.release();
  ASSERT_EQ(stopping.wait_for(kPatience), std::future_status::ready);
  stopping.get();
  running_ = false;

  EXPECT_EQ(trace.text(),
            "mouse 0 0 update=0 buttons=1 0 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n"
            "mouse 0 0 update=0 buttons=1 0 0\n"
            "mouse 0 0 update=0 buttons=0 0 0\n");
  serial.closeSerialPortWithDescriptor(fd);
  EXPECT_EQ(alerts.shown, std::vector<std::string>{});
}

TEST_F(ReaderThread, hung_up_line_keeps_running_until_stopped_and_close_reports) {
  const std::string kContact =
      std::string("Please notify the developer (") + kDeveloperContactAddress + ").";
  std::size_t descriptorsBefore = openDescriptorCount();
  int fd = openAndStart();
  ASSERT_GT(fd, 0);
  pingAndAwaitReply();
  line.hangUp();
  // Nothing to wait for: the point is what a dead line does over a stretch of time.
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(control.isDone()) << "a hang-up ended translation without a stop";
  stop();

  serial.closeSerialPortWithDescriptor(fd);
  // Linux fails both on a hung-up terminal with EIO; the close goes on regardless.
  EXPECT_EQ(
      alerts.shown,
      (std::vector<std::string>{
          "Internal Error: Error waiting for drain - Input/output error(5). " + kContact,
          "Internal Error: Error resetting tty attributes - Input/output error(5). " + kContact}));
  EXPECT_EQ(openDescriptorCount(), descriptorsBefore - 1)  // the device end is gone too
      << "the port's descriptor was not closed";
}

// Under ThreadSanitizer: a thread that touched the control object, the Serial or the
// interpreter after reporting done would race with their destruction here.
// After the stop the reader thread touches nothing of ours: every object, the control
// object included, may go as soon as the stop returns.
TEST_F(ReaderThread, objects_can_be_destroyed_as_soon_as_the_stop_returns) {
  for (int run = 0; run < 10; ++run) {
    SCOPED_TRACE(run);
    std::ostringstream out;
    TraceEventServices runEvents{out, ScreenSize{}, GlobalMousePoint{}};
    auto runInterpreter = std::make_unique<Interpreter>(runEvents);
    auto runSerial = std::make_unique<Serial>(alerts, *runInterpreter, registry);
    int fd = runSerial->openSerialPortWithPath(line.portPath().c_str(), 9600);
    ASSERT_GT(fd, 0) << testing::PrintToString(alerts.shown);
    auto runControl = std::make_unique<SerialThreadControl>();
    ASSERT_TRUE(startReaderThread(*runSerial, *runControl, fd));
    pingAndAwaitReply();
    stopOrAbort(*runControl);
    runControl.reset();
    runSerial->closeSerialPortWithDescriptor(fd);
    runSerial.reset();
    runInterpreter.reset();
  }
  EXPECT_EQ(alerts.shown, std::vector<std::string>{});
}

}  // namespace
}  // namespace quillmote
