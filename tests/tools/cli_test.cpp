// SPDX-License-Identifier: MIT
// quillmote-cli, the real binary: refusals, trace, `run` with a device that comes and goes, ports.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/scripted_devices.h"
#include "support/wait.h"
#include "support/xvfb_server.h"
#include "tools/ports_command.h"

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::kPatience;

const std::string kDemo = QUILLMOTE_EXAMPLES_DIR "/demo";

ChildProcess cli(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), QUILLMOTE_CLI);
  return ChildProcess(args, {}, -1, input);
}

// The exit status, a text the error output names, and the arguments. A usage error (status 2)
// comes before any work; a port that cannot be opened ends the run with status 1.
TEST(Cli, refuses_what_it_cannot_do_naming_it) {
  const std::vector<std::string> cases[] = {
      {"exit 2", "subcommand"},
      {"exit 2", "800by600", "trace", "--screen", "800by600"},
      {"exit 2", "800,10", "trace", "--pointer", "800,10", "--screen", "800x600"},
      {"exit 2", "/no/such", "trace", kDemo + ".qm", "/no/such"},
      {"exit 2", "1234", "run", "--port", "/no/such", "--baud", "1234"},
      {"exit 2", "--port", "run", "--baud", "9600"},
      {"exit 1", "/no/such", "run", "--port", "/no/such", "--backend", "trace"}};
  for (const std::vector<std::string>& c : cases) {
    ChildProcess program = cli({c.begin() + 2, c.end()});
    EXPECT_EQ(program.waitForExit(kPatience), c[0]) << c[1];
    EXPECT_NE(program.errorOutput().find(c[1]), std::string::npos) << program.errorOutput();
    EXPECT_EQ(program.output(), "") << c[1];
  }
}

// The bundled stream as scripts/demo.sh traces it (the README shows demo.trace), then standard
// input in the place of "-": a move confined to the screen given. No file: standard input alone.
TEST(TraceCommand, prints_each_file_then_standard_input_in_the_trace_format) {
  auto trace = [](std::vector<std::string> args) {
    args.insert(args.begin(), "trace");
    ChildProcess program = cli(args, test::bytes("{ESC},move,10000,10000."));
    EXPECT_EQ(program.waitForExit(kPatience), "exit 0") << program.errorOutput();
    return program.output();
  };
  std::ifstream demo(kDemo + ".trace");
  EXPECT_EQ(trace({"--screen", "800x600", "--pointer", "500,300", kDemo + ".qm", "-"}),
            std::string(std::istreambuf_iterator<char>(demo), {}) +
                "warp 10510 10295\nwarp 510 295\nmouse 799 599 update=1 buttons=0 0 0\n");
  EXPECT_EQ(trace({}), "warp 10000 10000\nwarp 0 0\nmouse 1919 1079 update=1 buttons=0 0 0\n");
}

// The port is a link, as /dev/serial/by-id names are, first missing; a pseudo-terminal that
// hangs up is the unplug. The shift locked then is let up, as the device that locked it is
// gone, and the drain and restore that fail on the vanished line are no news.
TEST(RunCommand, reconnect_waits_for_the_port_and_goes_on_after_an_unplug) {
  const std::string port = testing::TempDir() + "quillmote-port-" + std::to_string(getpid());
  ChildProcess run = cli({"run", "--reconnect", "--port", port, "--backend", "trace"});
  auto waitFor = [&](const std::string& text) {
    EXPECT_TRUE(run.waitForText(text, kPatience)) << text << run.output() << run.errorOutput();
  };
  waitFor("Waiting for " + port + "\n");
  auto first = std::make_unique<test::PseudoTerminal>();
  std::filesystem::create_symlink(first->portPath(), port);
  waitFor("Translating " + port);
  first->send(test::bytes("{ESC},lock,shift.a"));
  waitFor("key 0 up");
  first->hangUp();
  waitFor("Device gone, waiting for " + port + "\n");
  std::filesystem::remove(port);
  test::PseudoTerminal second;
  std::filesystem::create_symlink(second.portPath(), port);
  waitFor("waiting for " + port + "\nTranslating");
  second.send(test::bytes("b"));
  waitFor("key 11 up");
  run.sendSignal(SIGTERM);
  EXPECT_EQ(run.waitForExit(kPatience), "exit 0") << run.errorOutput();
  std::filesystem::remove(port);
  EXPECT_EQ(test::withoutComments(run.output()),
            "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\nkey 11 down\nkey 11 up\n");
  EXPECT_EQ(run.errorOutput().find("Internal Error"), std::string::npos) << run.errorOutput();
}

// The X server goes away (a logout, a crashed session) while the device types: translation
// stops, the line gets its own settings back, one line says why, with the status the guide
// names; Xlib neither speaks nor ends the process.
TEST(RunCommand, the_x_server_going_away_stops_translation_and_gives_the_line_back) {
  auto xvfb = std::make_unique<test::XvfbServer>();
  const std::string display = xvfb->displayName();
  test::PseudoTerminal line;
  termios own{}, back{};
  ASSERT_EQ(tcgetattr(line.portFd(), &own), 0);
  ChildProcess run({QUILLMOTE_CLI, "run", "--port", line.portPath(), "--backend", "xtest"},
                   {"DISPLAY=" + display});
  ASSERT_TRUE(run.waitForText("Ctrl+C stops.\n", kPatience)) << run.errorOutput();
  line.send(std::string(2000, 'a'));  // less than the line holds: the device never waits
  xvfb.reset();
  EXPECT_EQ(run.waitForExit(kPatience), "exit 3") << run.errorOutput();
  ASSERT_EQ(tcgetattr(line.portFd(), &back), 0);
  EXPECT_EQ(std::tuple(back.c_iflag, back.c_oflag, back.c_cflag, back.c_lflag, cfgetospeed(&back)),
            std::tuple(own.c_iflag, own.c_oflag, own.c_cflag, own.c_lflag, cfgetospeed(&own)));
  EXPECT_TRUE(run.errorOutput().ends_with(
      "Ctrl+C stops.\nquillmote-cli run: the X server of display " + display +
      " went away; translation stopped and the serial "
      "line restored.\n"))
      << run.errorOutput();
}

// The echo says what each byte did in words, and its event lines are exactly the trace tool's
// for the same bytes: a hold, a byte that types nothing, a name waiting, a move, no such key;
// what is held is told after the events that change it.
TEST(RunCommand, echo_tells_bytes_and_commands_and_shows_the_trace_tools_events) {
  const std::string first = "{ESC},hold,shift.a{CR}{ESC}ent",
                    rest = "er.{ESC},move,10,-5.{ESC}nokey.";
  test::PseudoTerminal line;
  ChildProcess run = cli({"run", "--echo", "--port", line.portPath(), "--backend", "trace"});
  auto waitFor = [&](const std::string& text) {
    EXPECT_TRUE(run.waitForText(text, kPatience)) << text << run.output() << run.errorOutput();
  };
  waitFor("Translating");
  line.send(test::bytes(first));
  waitFor("byte t  (ent waits for its period)\n");
  line.send(test::bytes(rest));
  waitFor("command nokey.  -> INITIAL  (no key has this name)\n");
  run.sendSignal(SIGTERM);
  EXPECT_EQ(run.waitForExit(kPatience), "exit 0") << run.errorOutput();
  ChildProcess trace = cli({"trace"}, test::bytes(first + rest));
  EXPECT_EQ(trace.waitForExit(kPatience), "exit 0");
  std::string events, echoed = run.output();
  std::istringstream lines(echoed);
  for (std::string l; std::getline(lines, l);) {
    if (l.starts_with("key ") || l.starts_with("mouse ") || l.starts_with("warp "))
      events += l + "\n";
  }
  EXPECT_EQ(events, trace.output());
  for (const char* told :
       {"byte ESC\ncommand ESC  -> COMMAND\n", "byte .\ncommand ,shift\nkey 56 down",
        "command enter.  -> INITIAL\nkey 36 down",
        "command 0x0D  (typed nothing: no key types it)\n", "command .  -> INITIAL\nheld Shift\n",
        "# shift\nheld nothing\n"}) {
    EXPECT_NE(echoed.find(told), std::string::npos) << told << echoed;
  }
}

// A USB port with its by-id name beside its node, then its model and serial; a built-in one
// by its node alone.
TEST(PortsCommand, names_the_by_id_link_beside_the_tty_then_model_and_serial) {
  test::ScriptedDevices devices;
  devices.ports = {{"ttyS0", "/dev/ttyS0", "/dev/ttyS0", "", ""},
                   {"ttyUSB0", "/dev/serial/by-id/usb-FTDI_A1-if00-port0", "/dev/ttyUSB0",
                    "FT232R USB UART", "A1"}};
  std::ostringstream out, err;
  EXPECT_EQ(runPorts(devices, out, err), 0);
  EXPECT_EQ(out.str(),
            "/dev/ttyS0\t/dev/ttyS0\n/dev/ttyUSB0\t/dev/ttyUSB0\t"
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0\tFT232R USB UART\tserial A1\n");
}

}  // namespace
}  // namespace quillmote
