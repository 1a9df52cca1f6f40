// quillmote-cli, the real binary: what it refuses, the trace it prints, `run` over a
// pseudo-terminal playing the device, and the ports it lists.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::ChildProcess;
using test::withoutComments;

constexpr auto kPatience = 5s;  // generous for sanitizer builds: it bounds waits only
const std::string kDemo = QUILLMOTE_EXAMPLES_DIR "/demo";

std::vector<std::string> cli(std::vector<std::string> args) {
  args.insert(args.begin(), QUILLMOTE_CLI);
  return args;
}

// A path of this process's own: other builds may run these tests at the same time.
std::string temporary(const std::string& name) {
  return testing::TempDir() + "quillmote-" + std::to_string(getpid()) + "-" + name;
}

// The exit status, a text the error output names, and the arguments. A usage error
// (status 2) comes before any work: before the trace of a good file, or before opening
// a port that does not exist, which ends with status 1.
TEST(Cli, refuses_what_it_cannot_do_naming_it) {
  const std::vector<std::string> cases[] = {
      {"exit 2", "subcommand"},
      {"exit 2", "--bogus", "trace", "--bogus"},
      {"exit 2", "800by600", "trace", "--screen", "800by600"},
      {"exit 2", "800,10", "trace", "--pointer", "800,10", "--screen", "800x600"},
      {"exit 2", "/no/such", "trace", kDemo + ".qm", "/no/such"},
      {"exit 2", "1234", "run", "--port", "/no/such", "--baud", "1234"},
      {"exit 2", "--port", "run", "--baud", "9600"},
      {"exit 2", "bogus", "run", "--port", "/no/such", "--backend", "bogus"},
      {"exit 1", "Error opening serial port /no/such", "run", "--port", "/no/such", "--backend",
       "trace"}};
  for (const std::vector<std::string>& c : cases) {
    ChildProcess program(cli({c.begin() + 2, c.end()}));
    EXPECT_EQ(program.waitForExit(kPatience), c[0]) << c[1];
    EXPECT_NE(program.errorOutput().find(c[1]), std::string::npos) << program.errorOutput();
    EXPECT_EQ(program.output(), "") << c[1];
  }
}

// The bundled stream as scripts/demo.sh traces it (demo.trace is what the README shows,
// key names in comments), then standard input in the place of "-": a move confined to
// the screen given. Without files, standard input alone, on the default screen.
TEST(TraceCommand, prints_each_file_then_standard_input_in_the_trace_format) {
  std::string input = temporary("input");
  std::ofstream(input, std::ios::binary) << bytes("{ESC},move,10000,10000.");
  std::ifstream demoTrace(kDemo + ".trace");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--screen", "800x600", "--pointer", "500,300", kDemo + ".qm", "-"},
       std::string(std::istreambuf_iterator<char>(demoTrace), {}) +
           "warp 10510 10295\nwarp 510 295\nmouse 799 599 update=1 buttons=0 0 0\n"},
      {{}, "warp 10000 10000\nwarp 0 0\nmouse 1919 1079 update=1 buttons=0 0 0\n"}};
  for (const auto& [args, expected] : cases) {
    std::vector<std::string> command = cli({"trace"});
    command.insert(command.end(), args.begin(), args.end());
    ChildProcess trace(command, {}, -1, input);
    ASSERT_EQ(trace.waitForExit(kPatience), "exit 0") << trace.errorOutput();
    EXPECT_EQ(trace.output(), expected);
  }
  std::filesystem::remove(input);
}

TEST(RunCommand, translates_live_and_lets_keys_up_when_stopped_by_signal) {
  for (int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(stopSignal));
    test::PseudoTerminal line;
    ChildProcess run(cli({"run", "--port", line.portPath(), "--backend", "trace"}));
    // The reply also proves the reader thread runs, and the stop signals are taken.
    line.send(bytes("{NUL}"));
    ASSERT_EQ(line.waitForDeviceBytes(1, kPatience), "\x11") << run.errorOutput();
    line.send(bytes("{ESC},lock,shift.a"));
    EXPECT_TRUE(run.waitForText("key 0 up", kPatience)) << run.output();
    run.sendSignal(stopSignal);
    ASSERT_EQ(run.waitForExit(kPatience), "exit 0") << run.errorOutput();
    EXPECT_EQ(withoutComments(run.output()), "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n");
    EXPECT_TRUE(run.errorOutput().ends_with("Stopped.\n")) << run.errorOutput();
  }
}

// The port is a link, as /dev/serial/by-id names are: a pseudo-terminal whose device end
// closes is the unplug, and a new one behind the same link is the device plugged in again.
TEST(RunCommand, reconnect_waits_for_the_port_and_goes_on_after_an_unplug) {
  const std::string port = temporary("port");
  ChildProcess run(cli({"run", "--reconnect", "--port", port, "--backend", "trace"}));
  ASSERT_TRUE(run.waitForText("Waiting for " + port + "\n", kPatience)) << run.errorOutput();
  auto first = std::make_unique<test::PseudoTerminal>();
  std::filesystem::create_symlink(first->portPath(), port);
  ASSERT_TRUE(run.waitForText("Translating " + port, kPatience)) << run.errorOutput();
  first->send(bytes("{ESC},lock,shift.a"));
  ASSERT_TRUE(run.waitForText("key 0 up", kPatience)) << run.output();
  first->hangUp();
  ASSERT_TRUE(run.waitForText("Device gone, waiting for " + port + "\n", kPatience));
  std::filesystem::remove(port);
  test::PseudoTerminal second;
  std::filesystem::create_symlink(second.portPath(), port);
  ASSERT_TRUE(run.waitForText("waiting for " + port + "\nTranslating", kPatience))
      << run.errorOutput();
  second.send(bytes("b"));
  EXPECT_TRUE(run.waitForText("key 11 up", kPatience)) << run.output();
  run.sendSignal(SIGTERM);
  EXPECT_EQ(run.waitForExit(kPatience), "exit 0") << run.errorOutput();
  std::filesystem::remove(port);
  // The locked shift is let up at the unplug, as the device that locked it is gone; the
  // drain and restore that fail then on the vanished line are no news.
  EXPECT_EQ(withoutComments(run.output()),
            "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\nkey 11 down\nkey 11 up\n");
  EXPECT_EQ(run.errorOutput().find("Internal Error"), std::string::npos) << run.errorOutput();
}

// What the kernel says, read from sysfs: a tty with a device behind it, unless serial-core
// marks it a placeholder (type 0). Virtual consoles and pseudo-terminals have none.
TEST(PortsCommand, lists_each_tty_with_a_device_behind_it) {
  std::set<std::string> expected, listed;
  for (const auto& tty : std::filesystem::directory_iterator("/sys/class/tty")) {
    std::string type;
    std::ifstream(tty.path() / "type") >> type;
    if (exists(tty.path() / "device") && type != "0") {
      expected.insert("/dev/" + tty.path().filename().string());
    }
  }
  ChildProcess ports(cli({"ports"}));
  ASSERT_EQ(ports.waitForExit(kPatience), "exit 0") << ports.errorOutput();
  if (expected.empty()) {
    EXPECT_EQ(ports.output(), "No serial ports found.\n");
  }
  std::istringstream lines(expected.empty() ? "" : ports.output());
  for (std::string name, path; lines >> name >> path; lines.ignore(1000, '\n')) listed.insert(path);
  EXPECT_EQ(listed, expected) << ports.output();
}

}  // namespace
}  // namespace quillmote
