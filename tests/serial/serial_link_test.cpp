// The serial link on a real pseudo-terminal, from the open to the reader thread's stop.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <set>
#include <thread>

#include "interpreter/byte_feed.h"
#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"
#include "serial/reader_thread.h"
#include "support/interpreter_harness.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kPatience = 5s;  // bounds waits on conditions; measures nothing

template <typename Condition>
bool waitUntil(Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return condition();
}

std::set<std::string> entriesOf(const char* directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename());
  return names;
}

struct ScriptedRegistry final : SerialRegistry {
  RegistryQuery querySerialPorts() override { return answer; }
  RegistryQuery answer;
};

// The link as the controller puts it together, over a pseudo-terminal.
struct Link {
  // Opens the port and starts translation: the descriptor, or -1.
  int start() {
    int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 19200);
    EXPECT_GT(fd, 0) << testing::PrintToString(alerts.shown);
    return fd > 0 && startReaderThread(serial, control, fd) ? fd : -1;
  }
  void stop(int fd) {
    if (fd < 0) return;
    EXPECT_FALSE(control.isDone()) << "the run ended before its stop";
    stopReaderThread(control);
    EXPECT_TRUE(control.isDone()) << "the stop returned while the reader thread ran on";
    serial.closeSerialPortWithDescriptor(fd);
  }

  PseudoTerminal line;
  LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
  Interpreter interpreter{events};
  ScriptedRegistry registry;
  RecordingAlerts alerts;
  Serial serial{alerts, interpreter, registry};
  SerialThreadControl control;
};

// Each rate gives a raw 8-bit line, XON/XOFF sent by the driver, no CTS flow control, held
// exclusively; the close restores the line and frees it. An unknown rate leaves nothing open.
TEST(SerialOpen, raw_exclusive_line_at_each_rate_and_its_own_settings_back_at_close) {
  Link link;
  std::string path = link.line.portPath();
  auto descriptors = entriesOf("/proc/self/fd");
  EXPECT_EQ(link.serial.openSerialPortWithPath(path.c_str(), 1234), -1);
  EXPECT_EQ(entriesOf("/proc/self/fd"), descriptors) << "the refused open left the port open";
  termios own{};  // as a line is left by a terminal program: cooked, at 38400 bit/s
  ASSERT_EQ(tcgetattr(link.line.portFd(), &own), 0);
  own.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(link.line.portFd(), TCSANOW, &own), 0);
  for (auto [baud, code] : {std::pair<int, speed_t>{300, B300}, {600, B600}, {1200, B1200},
                            {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}}) {
    int fd = link.serial.openSerialPortWithPath(path.c_str(), baud);
    termios set{}, back{};
    int held = 0;
    ASSERT_EQ(tcgetattr(fd, &set), 0) << testing::PrintToString(link.alerts.shown);
    EXPECT_EQ(std::pair(cfgetispeed(&set), cfgetospeed(&set)), std::pair(code, code));
    EXPECT_EQ(set.c_cflag & (CSIZE | CREAD | CLOCAL | CRTSCTS), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(set.c_iflag & (IXOFF | IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), IXOFF);
    EXPECT_FALSE((set.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) || (set.c_oflag & OPOST));
    EXPECT_EQ(std::pair(set.c_cc[VSTART], set.c_cc[VSTOP]), std::pair(cc_t{0x11}, cc_t{0x13}));
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(ioctl(fd, TIOCGEXCL, &held) == 0 && held) << "not held exclusively";
    link.serial.closeSerialPortWithDescriptor(fd);
    ASSERT_EQ(tcgetattr(link.line.portFd(), &back), 0);
    EXPECT_EQ(std::tuple(back.c_iflag, back.c_oflag, back.c_cflag, back.c_lflag),
              std::tuple(own.c_iflag, own.c_oflag, own.c_cflag, own.c_lflag));
    EXPECT_TRUE(ioctl(link.line.portFd(), TIOCGEXCL, &held) == 0 && !held) << "still held";
  }
  EXPECT_EQ(link.alerts.shown.size(), 1u) << testing::PrintToString(link.alerts.shown);
}

SerialPortEntry port(const std::string& path) { return {path.substr(5), path, path, ""}; }

// The registry's ports as listed and as the first call-out path that fits with its zero;
// none after a failed query. Here udev lists no terminal without a device behind it, like
// the consoles, /dev/tty and /dev/ptmx of every Linux machine (the ports command's test
// holds the whole listing against sysfs).
TEST(SerialDiscovery, lists_the_registrys_ports_and_only_terminals_with_a_device) {
  Link link;
  link.registry.answer.ports = {{"a", "", "", ""}, port("/dev/ttyUSB10"), port("/dev/ttyS1")};
  EXPECT_EQ(link.serial.getArrayOfSerialPorts(),
            (std::vector<std::string>{"", "/dev/ttyUSB10", "/dev/ttyS1"}));
  char path[12] = "stale";
  SerialIterator ports;
  ASSERT_EQ(link.serial.getSerialIterator(ports), 0);
  EXPECT_EQ(link.serial.getSerialPathWithIterator(ports, path, sizeof path), 0);
  EXPECT_STREQ(path, "/dev/ttyS1");
  EXPECT_EQ(link.serial.getSerialPathWithIterator(ports, path, sizeof path), 5) << "none left";
  EXPECT_STREQ(path, "");
  EXPECT_TRUE(link.alerts.shown.empty());
  link.registry.answer = {RegistryFailure::kMatchingServices, -2, {port("/dev/ttyS1")}};
  EXPECT_TRUE(link.serial.getArrayOfSerialPorts().empty());
  EXPECT_EQ(link.alerts.shown.size(), 1u);
  for (const SerialPortEntry& entry : UdevSerialRegistry().querySerialPorts().ports) {
    EXPECT_TRUE(fs::exists("/sys/class/tty/" + entry.ttyDevice + "/device")) << entry.ttyDevice;
  }
}

// A signal interrupts the reader's waits, reads and replies again and again while bytes
// arrive: every byte comes out once, in order, and every zero byte gets its one reply.
TEST(ByteFeed, signals_during_reads_lose_no_byte) {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // no SA_RESTART: waits and reads fail with EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  Link link;
  std::string sent, received;
  for (int i = 0; i < 2000; ++i) sent += i % 4 == 3 ? '\0' : static_cast<char>('a' + i % 26);
  std::thread reader([&] {
    for (int c; (c = read_char(link.line.portFd(), link.control)) != 0;) received += char(c);
  });
  std::atomic<bool> interrupting{true};
  std::thread interrupter([&] {
    for (; interrupting; std::this_thread::sleep_for(500us)) {
      pthread_kill(reader.native_handle(), SIGUSR1);
    }
  });
  for (std::size_t at = 0; at < sent.size(); at += 100) {
    link.line.send(sent.substr(at, 100));
    std::this_thread::sleep_for(1ms);  // pacing, so that the reader waits often
  }
  interrupting = false;
  interrupter.join();
  link.line.send(bytes("{NUL}"));  // answered once every byte before it was read
  EXPECT_EQ(link.line.waitForDeviceBytes(501, kPatience), std::string(501, '\x11'));
  link.control.setExitWithFlag(true);
  reader.join();
  std::erase(sent, '\0');
  EXPECT_EQ(received, sent);
}

// A device that never reads its replies: once the line's output queue is full the
// replies cannot be written, and the feed goes on reading regardless.
TEST(ByteFeed, replies_that_cannot_be_written_do_not_stop_the_feed) {
  Link link;
  const std::string zeros(300000, '\0');  // far more than the line can queue replies for
  std::thread device([&] { link.line.send(zeros + "Z"); });
  EXPECT_EQ(read_char(link.line.portFd(), link.control), 'Z');
  device.join();
  std::string replies = link.line.waitForDeviceBytes(zeros.size(), 1s);
  EXPECT_GT(replies.size(), 0u);
  EXPECT_LT(replies.size(), zeros.size()) << "the queue never filled: nothing was tested";
  EXPECT_EQ(replies.find_first_not_of('\x11'), std::string::npos);
}

// Each action runs as soon as its last byte is read: nothing waits for a next byte.
TEST(ReaderThread, a_typed_byte_acts_before_the_next_byte_arrives) {
  Link link;
  int fd = link.start();
  for (auto [sent, last] : {std::pair{"a", "key 0 up"}, {"{ESC}enter.", "key 36 up"},
                            {"{ESC},hold,shift.b", "key 56 up"}}) {
    link.line.send(bytes(sent));
    EXPECT_TRUE(link.trace.waitFor(last, kPatience)) << sent << "\n" << link.trace.text();
  }
  link.stop(fd);
}

// An unplugged device's line reads as hung up forever: the run must go on until stopped.
TEST(ReaderThread, a_hung_up_line_neither_ends_the_run_nor_spins_and_still_closes) {
  Link link;
  int fd = link.start();
  link.line.hangUp();
  ASSERT_TRUE(waitUntil([&] { return link.control.lineHungUp(); }));
  std::clock_t before = std::clock();
  std::this_thread::sleep_for(300ms);  // what a dead line costs over a stretch of time
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 10) << "the reader spins on the dead line";
  link.stop(fd);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the port was left open";
}

// Every byte read is acted on exactly once, and no descriptor or thread is left behind.
TEST(ReaderThread, a_thousand_stops_and_starts_while_bytes_stream_lose_or_double_nothing) {
  Link link;
  link.stop(link.start());  // a sanitizer starts a helper thread at the first thread
  auto descriptors = entriesOf("/proc/self/fd");
  auto threads = entriesOf("/proc/self/task");  // the warm-up's reader may still be there
  std::atomic<bool> streaming{true};
  std::atomic<long> sent{0};
  std::thread device([&] {
    for (; streaming; ++sent, std::this_thread::sleep_for(20us)) link.line.send("q");
  });
  for (int cycle = 0; cycle < 1000; ++cycle) {
    int fd = link.start();
    std::this_thread::sleep_for(100us);  // a run long enough to read a few bytes
    link.stop(fd);
  }
  streaming = false;
  device.join();
  int fd = link.start();  // reads what is still queued, up to the zero byte
  link.line.send(bytes("{NUL}"));
  EXPECT_EQ(link.line.waitForDeviceBytes(1, kPatience), "\x11");
  link.stop(fd);
  std::string events = link.trace.text(), typed;
  for (long q = 0; q < sent; ++q) typed += "key 12 down\nkey 12 up\n";
  EXPECT_TRUE(events == typed) << sent << " sent; events: " << std::ranges::count(events, '\n');
  EXPECT_EQ(entriesOf("/proc/self/fd"), descriptors);
  // Detached reader threads leave shortly after their stop; a leaked one never does.
  EXPECT_TRUE(waitUntil([&] {
    return std::ranges::includes(threads, entriesOf("/proc/self/task"));
  })) << "a reader thread outlived its stop";
}

}  // namespace
}  // namespace quillmote::test
