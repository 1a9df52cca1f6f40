// SPDX-License-Identifier: MIT
// The serial link under a stopwatch, on a real pseudo-terminal: how long a byte takes
// from the device's write to its event reaching the backend, how long a stop takes on
// an idle line, and how much CPU `quillmote-cli run` uses on an idle and on a hung-up
// line. Prints its figures; `--quick` runs shorter rounds (for CI, to keep it alive).
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/interpreter.h"
#include "monitor/monitor_lines.h"
#include "monitor/monitor_queue.h"
#include "monitor/monitor_tap.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "tools/console_alerts.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using quillmote::EventServices;
using quillmote::GlobalMousePoint;
using quillmote::Point;

// Counts key presses and notes when the last one arrived.
class TimingEvents final : public EventServices {
 public:
  void postKeyboardEvent(std::uint16_t, std::uint16_t, bool keyDown) override {
    if (!keyDown) return;
    arrivedAt.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    presses.fetch_add(1, std::memory_order_release);
  }
  void postMouseEvent(Point, bool, std::uint32_t, bool, bool, bool) override {}
  void warpMouseCursorPosition(Point) override {}
  GlobalMousePoint getGlobalMouse() override { return {}; }

  std::atomic<long> presses{0};
  std::atomic<Clock::rep> arrivedAt{0};
};

class NoRegistry final : public quillmote::SerialRegistry {
 public:
  quillmote::RegistryQuery querySerialPorts() override { return {}; }
};

struct Line {
  int device = -1;
  int port = -1;
  std::string path;
};

Line openLine() {
  Line line;
  if (openpty(&line.device, &line.port, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::exit(1);
  }
  line.path = ttyname(line.port);
  return line;
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * (values.size() - 1))];
}

// Byte-to-event latencies over `bytes` bytes, one at a time.
std::vector<double> latencies(int device, TimingEvents& events, int bytes) {
  std::vector<double> measured;
  measured.reserve(bytes);
  for (int i = 0; i < bytes; ++i) {
    long before = events.presses.load(std::memory_order_acquire);
    Clock::time_point written = Clock::now();
    if (write(device, "a", 1) != 1) std::exit(1);
    while (events.presses.load(std::memory_order_acquire) == before) {
    }
    Clock::time_point arrived{Clock::duration(events.arrivedAt.load())};
    measured.push_back(std::chrono::duration<double, std::micro>(arrived - written).count());
  }
  return measured;
}

void printLatencies(const char* how, const std::vector<double>& measured) {
  std::printf(
      "byte to event latency %s over %zu bytes: median %.1f us, 99th percentile %.1f us, "
      "max %.1f us\n",
      how, measured.size(), percentile(measured, 0.5), percentile(measured, 0.99),
      percentile(measured, 1.0));
}

// The same line measured without the monitor and then with its queue attached and drained
// as the window drains it (every 50 ms, each record made into words), in one run.
void measureLatencyAndStop(int bytes, int stops) {
  TimingEvents events;
  quillmote::MonitorTap tap(events);
  quillmote::Interpreter interpreter(tap);
  quillmote::ConsoleAlerts alerts(std::cerr);
  NoRegistry registry;
  quillmote::Serial serial(alerts, interpreter, registry);
  quillmote::SerialThreadControl control;
  Line line = openLine();
  int fd = serial.openSerialPortWithPath(line.path.c_str(), 19200);
  if (fd <= 0) std::exit(1);
  quillmote::startReaderThread(serial, control, fd);

  std::vector<double> plain = latencies(line.device, events, bytes);
  quillmote::MonitorQueue queue;
  tap.attach(&queue);
  interpreter.setTokenObserver(&tap);
  std::atomic<bool> draining{true};
  std::size_t lines = 0;
  std::thread window([&] {
    quillmote::MonitorLines words;
    std::vector<quillmote::MonitorRecord> records;
    std::vector<std::string> text;
    while (draining.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      records.clear();
      queue.drain(records);
      for (const quillmote::MonitorRecord& record : records) words.add(record, text);
      lines += text.size();
      text.clear();
    }
  });
  std::vector<double> monitored = latencies(line.device, events, bytes);
  draining.store(false);
  window.join();
  interpreter.setTokenObserver(nullptr);
  tap.attach(nullptr);
  printLatencies("without the monitor", plain);
  printLatencies("with the monitor draining", monitored);
  std::printf("monitor cost at the 99th percentile: %+.1f us (%zu lines made)\n",
              percentile(monitored, 0.99) - percentile(plain, 0.99), lines);

  std::vector<double> stopTimes;
  for (int i = 0; i < stops; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // let the line go idle
    Clock::time_point asked = Clock::now();
    quillmote::stopReaderThread(control);
    stopTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    quillmote::startReaderThread(serial, control, fd);
  }
  quillmote::stopReaderThread(control);
  serial.closeSerialPortWithDescriptor(fd);
  close(line.port);
  close(line.device);
  std::printf("stop handshake on an idle line over %d stops: median %.1f ms, max %.1f ms\n", stops,
              percentile(stopTimes, 0.5), percentile(stopTimes, 1.0));
}

// User plus system CPU time of a process, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long userTicks = 0, systemTicks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) userTicks = std::stoull(field);
    if (index == 15) {
      systemTicks = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// False when `run` did not end cleanly: its figures would then measure nothing. With
// --reconnect the hung-up line is stopped and the device waited for instead.
bool measureRunCpu(const char* cli, int seconds, bool reconnect) {
  Line line = openLine();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {cli,
                        "run",
                        "--port",
                        line.path.c_str(),
                        "--baud",
                        "9600",
                        "--backend",
                        "trace",
                        reconnect ? "--reconnect" : nullptr,
                        nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, cli, &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let it start

  double start = cpuSeconds(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double idle = cpuSeconds(pid) - start;

  close(line.device);  // the device goes away: the line hangs up
  start = cpuSeconds(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double hungUp = cpuSeconds(pid) - start;

  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  close(line.port);
  std::printf(
      "quillmote-cli run%s CPU over %d s: idle line %.2f%% of a core, %s %.2f%% "
      "of a core (exit status %d)\n",
      reconnect ? " --reconnect" : "", seconds, 100.0 * idle / seconds,
      reconnect ? "waiting for the unplugged device" : "hung-up line", 100.0 * hungUp / seconds,
      WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  measureLatencyAndStop(quick ? 1000 : 10000, quick ? 3 : 20);
  bool clean = measureRunCpu(QUILLMOTE_CLI, quick ? 1 : 10, false);
  clean = measureRunCpu(QUILLMOTE_CLI, quick ? 1 : 10, true) && clean;
  return clean ? 0 : 1;
}
