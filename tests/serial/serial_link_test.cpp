// SPDX-License-Identifier: MIT
// The serial link on a real pseudo-terminal, from the open to the reader thread's stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "interpreter/interpreter.h"
#include "platform/trace_event_services.h"
#include "serial/descriptor_byte_source.h"
#include "serial/line_speeds.h"
#include "serial/reader_thread.h"
#include "support/live_trace.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"
#include "support/wait.h"

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::set<std::string> entriesOf(const char* directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename());
  return names;
}

// The link as the controller puts it together, over a pseudo-terminal and a scripted registry.
struct Link final : SerialRegistry {
  RegistryQuery querySerialPorts() override { return registryAnswer; }
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
    serial.closeSerialPortWithDescriptor(fd);
  }
  RegistryQuery registryAnswer;
  PseudoTerminal line;
  LiveTrace trace;
  std::ostream traceStream{&trace};
  TraceEventServices events{traceStream, ScreenSize{}, GlobalMousePoint{}};
  Interpreter interpreter{events};
  RecordingAlerts alerts;
  Serial serial{alerts, interpreter, *this};
  SerialThreadControl control;
};

// Each rate gives a raw 8-bit line, XON/XOFF sent by the driver, no CTS flow control, held
// exclusively; the close restores the line's own settings. An unknown rate opens nothing. The
// low-latency request, which a pseudo-terminal refuses, fails quietly and changes nothing.
TEST(SerialOpen, raw_exclusive_line_at_each_rate_and_its_own_settings_back_at_close) {
  Link link;
  auto descriptors = entriesOf("/proc/self/fd");
  EXPECT_EQ(link.serial.openSerialPortWithPath(link.line.portPath().c_str(), 1234), -1);
  termios own{}, set{}, back{};  // its own: as a terminal program leaves it, cooked
  ASSERT_EQ(tcgetattr(link.line.portFd(), &own), 0);
  own.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(link.line.portFd(), TCSANOW, &own), 0);
  for (const LineSpeed& speed : kLineSpeeds) {  // each code as glibc, taking the number, has it
    termios numeric{};
    EXPECT_TRUE(cfsetspeed(&numeric, static_cast<speed_t>(speed.rate)) == 0 &&
                cfgetospeed(&numeric) == speed.code)
        << speed.rate;
  }
  std::vector<int> rates(kOfferedRates.begin(), kOfferedRates.end());
  rates.push_back(4000000);
  for (int baud : rates) {
    speed_t code = speedCode(baud).value_or(B0);
    int fd = link.serial.openSerialPortWithPath(link.line.portPath().c_str(), baud), held = 0;
    ASSERT_EQ(tcgetattr(fd, &set), 0) << testing::PrintToString(link.alerts.shown);
    EXPECT_EQ(std::pair(cfgetispeed(&set), cfgetospeed(&set)), std::pair(code, code));
    EXPECT_EQ(set.c_cflag & (CSIZE | CREAD | CLOCAL | CRTSCTS), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(set.c_iflag & (IXOFF | IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), IXOFF);
    EXPECT_FALSE((set.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) || (set.c_oflag & OPOST));
    EXPECT_EQ(std::pair(set.c_cc[VSTART], set.c_cc[VSTOP]), std::pair(cc_t{0x11}, cc_t{0x13}));
    EXPECT_TRUE(ioctl(fd, TIOCGEXCL, &held) == 0 && held && fcntl(fd, F_GETFL) & O_NONBLOCK);
    serial_struct serial{};
    EXPECT_EQ(ioctl(fd, TIOCGSERIAL, &serial), -1)
        << "a line with serial flags: not what is tested";
    link.serial.closeSerialPortWithDescriptor(fd);
    ASSERT_EQ(tcgetattr(link.line.portFd(), &back), 0);
    EXPECT_EQ(std::tuple(back.c_iflag, back.c_oflag, back.c_cflag, back.c_lflag),
              std::tuple(own.c_iflag, own.c_oflag, own.c_cflag, own.c_lflag));
    EXPECT_FALSE(ioctl(link.line.portFd(), TIOCGEXCL, &held) || held) << "still held";
  }
  EXPECT_EQ(entriesOf("/proc/self/fd"), descriptors) << "a port was left open";
  EXPECT_EQ(link.alerts.shown.size(), 1u) << testing::PrintToString(link.alerts.shown);
}

// The registry's ports as listed and as the first call-out path that fits with its zero;
// none after a failed query. udev lists no terminal without a device behind it (consoles).
TEST(SerialDiscovery, lists_the_registrys_ports_and_only_terminals_with_a_device) {
  Link link;
  auto port = [](std::string path) { return SerialPortEntry{path.substr(5), path, path, ""}; };
  link.registryAnswer.ports = {{"a", "", "", ""}, port("/dev/ttyUSB10"), port("/dev/ttyS1")};
  EXPECT_EQ(link.serial.getArrayOfSerialPorts(),
            (std::vector<std::string>{"", "/dev/ttyUSB10", "/dev/ttyS1"}));
  char path[12] = "stale";
  SerialIterator ports;
  ASSERT_EQ(link.serial.getSerialIterator(ports), 0);
  EXPECT_EQ(link.serial.getSerialPathWithIterator(ports, path, sizeof path), 0);
  EXPECT_STREQ(path, "/dev/ttyS1");
  EXPECT_EQ(link.serial.getSerialPathWithIterator(ports, path, sizeof path), 5) << "none left";
  EXPECT_STREQ(path, "");
  link.registryAnswer = {RegistryFailure::kMatchingServices, -2, {port("/dev/ttyS1")}};
  EXPECT_TRUE(link.serial.getArrayOfSerialPorts().empty());
  EXPECT_EQ(link.alerts.shown.size(), 1u) << "one alert, for the failed query";
  // The kernel's own word, from sysfs: a tty with a device behind it, unless serial-core
  // marks it a placeholder (type 0).
  std::set<std::string> expected, listed;
  for (const auto& tty : fs::directory_iterator("/sys/class/tty")) {
    std::string type;
    std::ifstream(tty.path() / "type") >> type;
    if (exists(tty.path() / "device") && type != "0") expected.insert(tty.path().filename());
  }
  for (auto& p : UdevSerialRegistry().querySerialPorts().ports) listed.insert(p.ttyDevice);
  EXPECT_EQ(listed, expected);
}

// Signals that interrupt the feed's waits lose no byte and no reply to a zero byte; replies
// that cannot be written (the device never reads them) do not stop the feed.
TEST(ByteFeed, neither_signals_nor_unwritable_replies_lose_a_byte_or_stop_the_feed) {
  signal(SIGUSR1, [](int) {});  // select is never restarted: an interrupted wait fails
  Link link;
  auto feed = [&] { return read_char(link.line.portFd(), link.control); };
  std::string sent, received;
  for (int i = 0; i < 2000; ++i) sent += i % 4 == 0 ? '\0' : static_cast<char>('a' + i % 26);
  std::jthread device([&, sent, reader = pthread_self()] {
    for (std::size_t at = 0; at < sent.size(); at += 20, std::this_thread::sleep_for(500us)) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(500us);  // the signal, not a byte, ends the feed's wait
      link.line.send(sent.substr(at, 20));
    }
    link.line.send("Z");
  });
  for (int c; (c = feed()) > 0 && c != 'Z';) received += char(c);
  EXPECT_EQ(link.line.waitForDeviceBytes(500, 5s), std::string(500, '\x11'));
  std::erase(sent, '\0');
  ASSERT_EQ(received, sent);
  device = std::jthread([&] { link.line.send(std::string(200000, '\0') + "Z"); });
  EXPECT_EQ(feed(), 'Z') << "the replies that could not be written stopped the feed";
  EXPECT_EQ(write(link.line.portFd(), "", 1), -1) << "the queue never filled: nothing tested";
}

// A thousand stops and starts lose or double no streaming byte; a typed byte acts at once; a
// hung-up line (device unplugged) neither ends the run nor spins; no thread outlives its stop.
TEST(ReaderThread, stops_and_starts_lose_nothing_bytes_act_at_once_a_hang_up_ends_nothing) {
  Link link;
  std::atomic<long> sent{0};
  // The device holds back while a few thousand bytes wait unread: a pseudo-terminal holds
  // only about 16 KiB, and a blocked send would never see its stop.
  std::jthread device([&](std::stop_token stop) {
    for (int queued = 0; !stop.stop_requested(); std::this_thread::sleep_for(20us)) {
      if (ioctl(link.line.portFd(), FIONREAD, &queued) == 0 && queued > 2000) continue;
      link.line.send("q");
      ++sent;
    }
  });
  auto threads = entriesOf("/proc/self/task");  // after the first: a sanitizer adds one then
  for (int cycle = 0; cycle < 1000; ++cycle) {
    int fd = link.start();
    std::this_thread::sleep_for(100us);  // a run long enough to read a few bytes
    link.stop(fd);
  }
  device = {};            // stops the stream and waits for its end
  int fd = link.start();  // reads what is still queued, up to the zero byte
  link.line.send(bytes("{NUL}"));
  EXPECT_EQ(link.line.waitForDeviceBytes(1, 5s), "\x11");
  EXPECT_EQ(std::ranges::count(link.trace.text(), '\n'), 2 * sent) << "a press and a release each";
  for (auto [stream, last] : {std::pair{"a", "key 0 up"}, {"{ESC}enter.", "key 36 up"}}) {
    link.line.send(bytes(stream));
    EXPECT_TRUE(link.trace.waitFor(last, 5s)) << stream;
  }
  link.line.hangUp();
  auto start = std::chrono::steady_clock::now();
  for (int look = 0; look < 4; ++look) {  // four looks span at least three slices
    link.control.setExitWithFlag(false);  // as at a run's start: clears the hang-up note
    ASSERT_TRUE(waitUntil([&] { return link.control.lineHungUp(); })) << "the run ended";
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2us * kWaitSliceMicroseconds) << "spins";
  link.stop(fd);
  auto left = [&] { return std::ranges::includes(threads, entriesOf("/proc/self/task")); };
  EXPECT_TRUE(waitUntil(left)) << "a reader thread outlived its stop";  // detached: they leave
}

}  // namespace
}  // namespace quillmote::test
