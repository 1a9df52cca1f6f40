// SPDX-License-Identifier: MIT
// quillmote-cli: see what a device's bytes become, without a desktop.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <string>

#include "serial/line_speeds.h"
#include "tools/doctor.h"
#include "tools/ports_command.h"
#include "tools/run_command.h"
#include "tools/trace_command.h"

namespace {

// Every usage error ends with this status, as a failed trace does.
constexpr int kUsageError = 2;

}  // namespace

// An exception that escapes (memory exhausted) ends the program as it should: unhandled.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
  CLI::App app{"Quillmote: a serial device as the computer's keyboard and mouse", "quillmote-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "quillmote-cli " QUILLMOTE_VERSION);

  quillmote::TraceOptions traceOptions;
  std::string screenText;
  std::string pointerText;
  CLI::App* trace = app.add_subcommand(
      "trace", "Print every event Quillmote would post for captured byte streams");
  trace->add_option("--screen", screenText, "Simulated screen, WxH (default 1920x1080)");
  trace->add_option("--pointer", pointerText, "Pointer at the start, X,Y (default 0,0)");
  trace->add_option("FILE", traceOptions.files,
                    "Byte streams, one run each; - or none for standard input");

  app.add_subcommand("ports", "List the machine's serial ports");

  quillmote::RunOptions runOptions;
  CLI::App* run =
      app.add_subcommand("run", "Translate a serial port's bytes until Ctrl+C or SIGTERM");
  run->add_option("--port", runOptions.port,
                  "Serial port path, best its /dev/serial/by-id/ name (see `ports`), "
                  "e.g. /dev/ttyUSB0")
      ->required();
  run->add_option("--baud", runOptions.baud,
                  "Line speed in bit/s: any speed Linux has, 50 to 4000000 (default 9600)");
  run->add_option("--backend", runOptions.backend,
                  "Event backend: xtest (X11), uinput (Wayland, console) or trace (print "
                  "the events); default: QUILLMOTE_BACKEND, else xtest under X11, else uinput")
      ->check(CLI::IsMember({"xtest", "uinput", "trace"}));
  run->add_flag("--reconnect", runOptions.reconnect,
                "When the device is unplugged, wait for it and go on once it is back; "
                "also waits for a port that is not there yet");
  run->add_flag("--key-positions", runOptions.keyPositions,
                "Press the keys at the positions they have on a US keyboard, whatever the "
                "desktop's layout (default: type what a US keyboard types, on any layout; "
                "also QUILLMOTE_KEYS=positions)");
  run->add_option("--layout", runOptions.layout,
                  "The desktop's keyboard layout for the uinput backend, as XKB names: de, fr, "
                  "us:dvorak (default: QUILLMOTE_LAYOUT, else the Wayland compositor's layout, "
                  "else /etc/default/keyboard, else us)");
  run->add_option("--pointer", runOptions.pointer,
                  "How the uinput backend moves the pointer: absolute (to the exact spot; the "
                  "default where the desktop's size is known) or relative (by steps, shaped by "
                  "the desktop's acceleration; for use beside another mouse); default: "
                  "QUILLMOTE_POINTER")
      ->check(CLI::IsMember({"absolute", "relative"}));
  run->add_flag("--echo", runOptions.echo,
                "Print each byte received, each command as Quillmote took it, and the events "
                "posted for it in the trace's words, and which keys and buttons are held "
                "down whenever that changes");

  quillmote::DoctorOptions doctorOptions;
  CLI::App* doctor = app.add_subcommand(
      "doctor", "Check this machine for what keeps Quillmote from working, one line each");
  doctor->add_option("--port", doctorOptions.port,
                     "The port to check (default: every serial port found)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& helpOrVersion) {
    return app.exit(helpOrVersion);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kUsageError;
  }

  if (trace->parsed()) {
    if (!screenText.empty() && !quillmote::parseScreenSize(screenText, traceOptions.screen)) {
      std::cerr << "quillmote-cli trace: --screen takes WxH, each 1 to 32767, not \"" << screenText
                << "\"\n";
      return kUsageError;
    }
    if (!pointerText.empty() &&
        !quillmote::parsePointer(pointerText, traceOptions.screen, traceOptions.pointer)) {
      std::cerr << "quillmote-cli trace: --pointer takes X,Y on the screen, not \"" << pointerText
                << "\"\n";
      return kUsageError;
    }
    return quillmote::runTrace(traceOptions, std::cin, std::cout, std::cerr);
  }
  if (app.got_subcommand("ports")) {
    quillmote::UdevSerialRegistry registry;
    return quillmote::runPorts(registry, std::cout, std::cerr);
  }
  if (run->parsed()) {
    if (!quillmote::speedCode(runOptions.baud)) {
      std::cerr << "quillmote-cli run: --baud " << runOptions.baud
                << " is not a speed Linux has; allowed:";
      for (const quillmote::LineSpeed& speed : quillmote::kLineSpeeds)
        std::cerr << ' ' << speed.rate;
      std::cerr << '\n';
      return kUsageError;
    }
    return quillmote::runTranslation(runOptions, std::cout, std::cerr);
  }
  if (doctor->parsed()) return quillmote::runDoctor(doctorOptions, std::cout, std::cerr);
  return kUsageError;
}
