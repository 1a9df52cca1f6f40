// The byte feed and the scanner driver on a real pseudo-terminal: the interpreter runs
// on its own thread, as the reader thread runs it, while the test plays the device.

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/byte_feed.h"
#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"
#include "serial/serial_thread_control.h"
#include "support/interpreter_harness.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::notation;
using test::PseudoTerminal;

// Generous: these bound a wait on a condition, they do not measure speed.
constexpr auto kPatience = 2s;
const std::string kReply(1, static_cast<char>(kZeroByteReply));

// One run of translation: do_quillmote over the port on a thread of its own, the way
// the reader thread calls it. Leaving the scope stops the run and joins the thread.
class ReaderRun {
 public:
  ReaderRun(Interpreter& interpreter, int portFd, SerialThreadControl& control)
      : control_(control) {
    control_.setExitWithFlag(false);
    thread_ = std::thread([this, &interpreter, portFd] {
      DescriptorByteSource feed(portFd, control_);
      int result = interpreter.do_quillmote(feed);
      std::lock_guard lock(mutex_);
      result_ = result;
      returned_ = true;
      returnedChanged_.notify_all();
    });
  }

  ~ReaderRun() {
    control_.setExitWithFlag(true);
    if (thread_.joinable()) thread_.join();
  }

  ReaderRun(const ReaderRun&) = delete;
  ReaderRun& operator=(const ReaderRun&) = delete;

  // Requests the stop and waits for do_quillmote to return; true if it did in time.
  bool stop() {
    control_.setExitWithFlag(true);
    if (!waitReturned(kPatience)) return false;
    thread_.join();
    return true;
  }

  bool waitReturned(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return returnedChanged_.wait_for(lock, timeout, [this] { return returned_; });
  }

  bool hasReturned() {
    std::lock_guard lock(mutex_);
    return returned_;
  }

  int result() {
    std::lock_guard lock(mutex_);
    return result_;
  }

  // CPU time the reader thread has used so far.
  std::chrono::nanoseconds cpuTime() {
    clockid_t clock;
    if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0) {
      ADD_FAILURE() << "pthread_getcpuclockid failed";
      return {};
    }
    timespec used{};
    clock_gettime(clock, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
  }

 private:
  SerialThreadControl& control_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable returnedChanged_;
  bool returned_ = false;
  int result_ = -1;
};

class ByteFeedOnLine : public ::testing::Test {
 protected:
  std::unique_ptr<ReaderRun> startRun() {
    return std::make_unique<ReaderRun>(interpreter, line.portFd(), control);
  }

  // The device asks whether we are listening. Its reply proves that the feed has
  // handed every byte sent before it to the scanner, and that the scanner has asked
  // for the next one; the zero byte itself never reaches the scanner.
  void pingAndAwaitReply() {
    line.send(bytes("{NUL}"));
    ASSERT_EQ(notation(line.waitForDeviceBytes(1, kPatience)), notation(kReply))
        << "the zero byte was not answered";
  }

  PseudoTerminal line;
  test::LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
  Interpreter interpreter{events};
  SerialThreadControl control;
};

TEST_F(ByteFeedOnLine, zero_byte_in_command_is_answered_once_and_skipped) {
  auto run = startRun();
  line.send(bytes("{ESC}{NUL}enter."));
  ASSERT_TRUE(trace.waitFor("key 36 up", kPatience)) << trace.text();
  ASSERT_TRUE(run->stop());

  EXPECT_EQ(trace.text(), "key 36 down\nkey 36 up\n");
  EXPECT_EQ(interpreter.startCondition(), StartCondition::INITIAL);
  // The reader has finished, so whatever it wrote is on its way: one reply, no more.
  // Waiting for a second byte that must not come is the only way to see its absence.
  EXPECT_EQ(notation(line.waitForDeviceBytes(2, 300ms)), notation(kReply));
}

TEST_F(ByteFeedOnLine, high_byte_reaches_scanner_unchanged) {
  test::TokenLog tokens;
  interpreter.setTokenObserver(&tokens);
  auto run = startRun();
  line.send(bytes("{xE9}"));
  pingAndAwaitReply();
  ASSERT_TRUE(run->stop());
  interpreter.setTokenObserver(nullptr);
  EXPECT_EQ(tokens.entries, std::vector<std::string>{"26 '{xE9}' INITIAL"});
}

TEST_F(ByteFeedOnLine, every_zero_byte_gets_its_own_reply_as_it_is_read) {
  auto run = startRun();
  // One at a time: each reply comes before the next zero byte is even sent.
  for (int i = 0; i < 3; ++i) pingAndAwaitReply();
  // Three in a row: three replies.
  line.send(bytes("{NUL}{NUL}{NUL}"));
  EXPECT_EQ(notation(line.waitForDeviceBytes(3, kPatience)),
            notation(kReply + kReply + kReply));
  ASSERT_TRUE(run->stop());

  EXPECT_EQ(trace.text(), "") << "a zero byte reached the scanner";
  EXPECT_EQ(interpreter.startCondition(), StartCondition::INITIAL);
  EXPECT_EQ(notation(line.waitForDeviceBytes(1, 300ms)), "") << "a reply too many";
}

TEST_F(ByteFeedOnLine, typed_byte_acts_before_the_next_byte_arrives) {
  struct Case {
    const char* sent;
    const char* lastEvent;
  };
  const Case cases[] = {
      {"a", "key 0 up"},                   // a typed byte in INITIAL
      {"{ESC}enter.", "key 36 up"},        // a named key, complete at its full stop
      {"{ESC},hold,shift.b", "key 56 up"}, // a held shift, released after the "b"
  };
  auto run = startRun();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    trace.clear();
    line.send(bytes(c.sent));
    // Nothing more is sent: the action must not wait for a following byte.
    EXPECT_TRUE(trace.waitFor(c.lastEvent, kPatience)) << trace.text();
  }
  ASSERT_TRUE(run->stop());
}

TEST_F(ByteFeedOnLine, stop_on_idle_line_returns) {
  auto run = startRun();
  pingAndAwaitReply();  // the feed is running and now waits on a silent line
  control.setExitWithFlag(true);
  ASSERT_TRUE(run->waitReturned(kPatience)) << "do_quillmote did not return after a stop";
  EXPECT_EQ(run->result(), 0);
  EXPECT_EQ(trace.text(), "");
}

TEST_F(ByteFeedOnLine, hung_up_line_neither_spins_nor_ends_the_run) {
  auto run = startRun();
  pingAndAwaitReply();
  line.hangUp();

  auto cpuBefore = run->cpuTime();
  auto wallBefore = std::chrono::steady_clock::now();
  // The point is what happens over a stretch of time with nothing to wait for.
  std::this_thread::sleep_for(300ms);
  auto cpuUsed = run->cpuTime() - cpuBefore;
  auto wallElapsed = std::chrono::steady_clock::now() - wallBefore;

  EXPECT_FALSE(run->hasReturned()) << "a hang-up ended the run without a stop";
  EXPECT_LT(cpuUsed, 20ms) << "the reader used "
                           << std::chrono::duration_cast<std::chrono::microseconds>(cpuUsed)
                                  .count()
                           << " us of CPU in "
                           << std::chrono::duration_cast<std::chrono::microseconds>(
                                  wallElapsed)
                                  .count()
                           << " us on a hung-up line";
  control.setExitWithFlag(true);
  ASSERT_TRUE(run->waitReturned(kPatience)) << "a stop on a hung-up line was not seen";
  EXPECT_EQ(run->result(), 0);
}

// Bytes that have arrived but decide no token yet when the stop comes are scanned to
// their end during the stop; the start condition they leave carries into the next run.
struct PendingAtStop {
  const char* name;
  const char* pending;
  const char* traceDuringStop;
  StartCondition afterStop;
  const char* nextRun;
  const char* traceOfNextRun;
};

class ByteFeedStopWithPending : public ByteFeedOnLine,
                                public ::testing::WithParamInterface<PendingAtStop> {};

TEST_P(ByteFeedStopWithPending, pending_bytes_scanned_during_stop) {
  const PendingAtStop& c = GetParam();
  {
    auto run = startRun();
    line.send(bytes(c.pending));
    pingAndAwaitReply();
    EXPECT_EQ(trace.text(), "") << "a pending byte acted before the stop";
    ASSERT_TRUE(run->stop());
    EXPECT_EQ(run->result(), 0);
  }
  EXPECT_EQ(trace.text(), c.traceDuringStop);
  EXPECT_EQ(interpreter.startCondition(), c.afterStop);

  trace.clear();
  auto nextRun = startRun();
  line.send(bytes(c.nextRun));
  pingAndAwaitReply();
  ASSERT_TRUE(nextRun->stop());
  EXPECT_EQ(trace.text(), c.traceOfNextRun);
}

INSTANTIATE_TEST_SUITE_P(
    ByteFeed, ByteFeedStopWithPending,
    ::testing::Values(
        // "a" and "b" could still begin a key name: typed at the stop, COMMAND stays,
        // so the next run takes "enter." as a named key.
        PendingAtStop{"letters_after_escape", "{ESC}ab",
                      "key 0 down\nkey 0 up\nkey 11 down\nkey 11 up\n",
                      StartCondition::COMMAND, "enter.", "key 36 down\nkey 36 up\n"},
        // The name could still grow: shift is held at the stop and the list stays
        // open, so the next run's "." closes it and "a" is typed capital.
        PendingAtStop{"hold_list_name", "{ESC},hold,shift", "key 56 down\n",
                      StartCondition::HOLD_LIST, ".a",
                      "key 0 down\nkey 0 up\nkey 56 up\n"},
        // A move without its second field is no command: its bytes are typed.
        PendingAtStop{"unfinished_move", "{ESC},move,10",
                      "key 43 down\nkey 43 up\n"
                      "key 46 down\nkey 46 up\n"
                      "key 31 down\nkey 31 up\n"
                      "key 9 down\nkey 9 up\n"
                      "key 14 down\nkey 14 up\n"
                      "key 43 down\nkey 43 up\n"
                      "key 18 down\nkey 18 up\n"
                      "key 29 down\nkey 29 up\n",
                      StartCondition::COMMAND, "enter.", "key 36 down\nkey 36 up\n"}),
    [](const ::testing::TestParamInfo<PendingAtStop>& info) { return info.param.name; });

// read_char alone on the port end, without a scanner.
class ByteFeedReadChar : public ::testing::Test {
 protected:
  // read_char, with a stop requested should it still be waiting after a while, so a
  // fault shows as a wrong result instead of a test that never ends.
  int readCharOrGiveUp() {
    auto reading = std::async(std::launch::async,
                              [this] { return read_char(line.portFd(), control); });
    if (reading.wait_for(kPatience) != std::future_status::ready) {
      control.setExitWithFlag(true);
    }
    return reading.get();
  }

  PseudoTerminal line;
  SerialThreadControl control;
};

TEST_F(ByteFeedReadChar, bytes_come_back_as_signed_8_bit_values) {
  struct Case {
    const char* sent;
    int expected;
  };
  const Case cases[] = {
      {"{x01}", 1}, {"a", 97}, {"{x7F}", 127}, {"{x80}", -128}, {"{xE9}", -23}, {"{xFF}", -1},
  };
  std::string all;
  for (const Case& c : cases) all += bytes(c.sent);
  line.send(all);
  for (const Case& c : cases) {
    EXPECT_EQ(readCharOrGiveUp(), c.expected) << c.sent;
  }
}

TEST_F(ByteFeedReadChar, zero_byte_is_answered_and_never_returned) {
  line.send(bytes("{NUL}{xE9}"));
  EXPECT_EQ(readCharOrGiveUp(), -23);
  EXPECT_EQ(notation(line.waitForDeviceBytes(1, kPatience)), notation(kReply));
}

TEST_F(ByteFeedReadChar, requested_exit_returns_zero_and_leaves_the_byte) {
  line.send("x");
  ASSERT_TRUE(line.waitUntilPortReadable(kPatience));
  control.setExitWithFlag(true);
  EXPECT_EQ(readCharOrGiveUp(), 0);

  // The byte waits for the next run.
  ASSERT_TRUE(line.waitUntilPortReadable(0ms)) << "the byte was read during the exit";
  control.setExitWithFlag(false);
  EXPECT_EQ(readCharOrGiveUp(), 'x');
}

}  // namespace
}  // namespace quillmote
