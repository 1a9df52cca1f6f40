// The serial link under faults: signals in the middle of a read, replies that cannot be
// written, ports that vanish or are taken, and a thousand stops and starts while bytes
// stream in. Nothing may be lost, doubled, leaked or left hanging.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "interpreter/byte_feed.h"
#include "interpreter/interpreter.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;

// The threads of this process once their number has stopped changing: detached reader
// threads end on their own shortly after their stop.
int settledThreadCount() {
  auto count = [] {
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
    closedir(dir);
    return n;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int last = count();
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int now = count();
    if (now == last) return now;
    last = now;
  }
  return last;
}

int entriesIn(const char* directory) {
  int count = 0;
  DIR* dir = opendir(directory);
  while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

// Counts the presses of each key, from any thread, without a lock.
class PressCounter final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t, std::uint16_t keyCode, bool keyDown) override {
    if (keyDown) presses[keyCode].fetch_add(1);
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override {}
  void warpMouseCursorPosition(Point) override {}
  GlobalMousePoint getGlobalMouse() override { return {}; }

  long total() const {
    long sum = 0;
    for (const auto& count : presses) sum += count.load();
    return sum;
  }
  std::atomic<long> presses[256] = {};
};

class NoPorts final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override { return {}; }
};

// The reader thread is interrupted by a signal again and again while bytes arrive:
// the feed goes back to its wait, and every byte comes out once, in order.
TEST(FaultInjection, signals_during_reads_lose_no_byte) {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);  // no SA_RESTART: waits and reads fail with EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  PseudoTerminal line;
  SerialThreadControl control;
  std::string received;
  std::atomic<pthread_t> reader{};
  std::atomic<bool> started{false};
  std::thread readerThread([&] {
    reader = pthread_self();
    started = true;
    for (int c; (c = read_char(line.portFd(), control)) != 0;) received += static_cast<char>(c);
  });
  while (!started) std::this_thread::yield();

  std::atomic<bool> interrupting{true};
  std::thread interrupter([&] {
    while (interrupting) {
      pthread_kill(reader.load(), SIGUSR1);
      std::this_thread::sleep_for(500us);
    }
  });
  std::string sent;
  for (int i = 0; i < 2000; ++i) sent += static_cast<char>('a' + i % 26);
  for (std::size_t at = 0; at < sent.size(); at += 100) {
    line.send(std::string_view(sent).substr(at, 100));
    std::this_thread::sleep_for(1ms);
  }
  line.send(std::string(1, '\0'));  // answered once everything before it was read
  // Generous: under a sanitizer every signal costs the reader thread much more.
  EXPECT_EQ(line.waitForDeviceBytes(1, 30s), "\x11");
  interrupting = false;
  interrupter.join();
  control.setExitWithFlag(true);
  readerThread.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(received, sent);
}

// A device that never reads its replies: once the line's output queue is full the
// reply cannot be written, and the feed goes on reading regardless.
TEST(FaultInjection, replies_that_cannot_be_written_do_not_stop_the_feed) {
  PseudoTerminal line;
  SerialThreadControl control;
  // Far more zero bytes than the line can queue replies for.
  const std::string zeros(300000, '\0');
  std::thread device([&] { line.send(zeros + "Z"); });
  int returned = read_char(line.portFd(), control);
  device.join();
  EXPECT_EQ(returned, 'Z');
  std::string replies = line.waitForDeviceBytes(zeros.size(), 1s);
  EXPECT_GT(replies.size(), 0u);
  EXPECT_LT(replies.size(), zeros.size()) << "the queue never filled: nothing was tested";
  EXPECT_EQ(replies.find_first_not_of('\x11'), std::string::npos);
}

// Listed a moment ago, gone now: the open reports it in the system's words.
TEST(FaultInjection, port_that_vanishes_between_listing_and_opening) {
  std::string path;
  {
    PseudoTerminal line;
    path = line.portPath();
  }
  TracedInterpreter traced;
  NoPorts registry;
  RecordingAlerts alerts;
  Serial serial(alerts, traced.interpreter(), registry);
  EXPECT_EQ(serial.openSerialPortWithPath(path.c_str(), 9600), -1);
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_TRUE(alerts.shown[0].starts_with("Internal Error: Error opening serial port " + path +
                                          " - No such file or directory(2)."))
      << alerts.shown[0];
}

// Another program holds the port for exclusive use: we are refused at the open, and
// the other program's line is left as it was. Root ignores the flag, so our side runs
// as "nobody" in a child process.
TEST(FaultInjection, port_held_exclusively_by_another_process) {
  PseudoTerminal line;
  ASSERT_EQ(ioctl(line.portFd(), TIOCEXCL), 0);
  if (getuid() == 0) {
    ASSERT_EQ(chown(line.portPath().c_str(), 65534, 65534), 0);
  }
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  if (child == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    TracedInterpreter traced;
    NoPorts registry;
    RecordingAlerts alerts;
    Serial serial(alerts, traced.interpreter(), registry);
    int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
    std::string shown = alerts.shown.empty() ? "" : alerts.shown[0];
    [[maybe_unused]] ssize_t written = write(report[1], shown.data(), shown.size());
    _exit(fd == -1 ? 0 : 101);
  }
  close(report[1]);
  std::string shown;
  char chunk[512];
  for (ssize_t got; (got = read(report[0], chunk, sizeof chunk)) > 0;) shown.append(chunk, got);
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "100: could not drop privileges; 101: the open succeeded";
  EXPECT_TRUE(shown.starts_with("Internal Error: Error opening serial port " + line.portPath() +
                                " - Device or resource busy(16)."))
      << shown;
}

// A thousand stops and starts while bytes stream in: every byte the feed read is acted
// on exactly once, no descriptor or thread is left behind, and the interpreter's state
// carries across every stop.
TEST(FaultInjection, thousand_stops_and_starts_while_bytes_stream) {
  PseudoTerminal line;
  PressCounter events;
  Interpreter interpreter(events);
  NoPorts registry;
  RecordingAlerts alerts;
  Serial serial(alerts, interpreter, registry);
  SerialThreadControl control;
  // One cycle first: a sanitizer starts a helper thread of its own at the first thread.
  int warmUp = serial.openSerialPortWithPath(line.portPath().c_str(), 19200);
  ASSERT_GT(warmUp, 0);
  ASSERT_TRUE(startReaderThread(serial, control, warmUp));
  stopReaderThread(control);
  serial.closeSerialPortWithDescriptor(warmUp);
  int descriptorsBefore = entriesIn("/proc/self/fd");
  int threadsBefore = settledThreadCount();

  // "q" is key 12 and nothing else in the stream presses it.
  std::atomic<bool> streaming{true};
  std::atomic<long> sent{0};
  std::thread device([&] {
    while (streaming) {
      line.send("q");
      sent.fetch_add(1);
      std::this_thread::sleep_for(20us);
    }
  });
  for (int cycle = 0; cycle < 1000; ++cycle) {
    int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 19200);
    ASSERT_GT(fd, 0) << testing::PrintToString(alerts.shown);
    ASSERT_TRUE(startReaderThread(serial, control, fd));
    std::this_thread::sleep_for(100us);
    stopReaderThread(control);
    serial.closeSerialPortWithDescriptor(fd);
  }
  streaming = false;
  device.join();

  // What is still queued on the line is read by one last run, then all is accounted for.
  int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 19200);
  ASSERT_GT(fd, 0);
  ASSERT_TRUE(startReaderThread(serial, control, fd));
  line.send(bytes("{ESC},hold{NUL}"));
  ASSERT_EQ(line.waitForDeviceBytes(1, 5s), "\x11");
  stopReaderThread(control);
  serial.closeSerialPortWithDescriptor(fd);

  EXPECT_EQ(events.presses[12].load(), sent.load());
  EXPECT_EQ(events.total(), sent.load());
  EXPECT_EQ(interpreter.startCondition(), StartCondition::HOLD_LIST);
  EXPECT_TRUE(alerts.shown.empty()) << testing::PrintToString(alerts.shown);
  EXPECT_EQ(entriesIn("/proc/self/fd"), descriptorsBefore);
  EXPECT_EQ(settledThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace quillmote::test
