// SPDX-License-Identifier: MIT
// The xtest backend end to end under a stopwatch, on an Xvfb server of its own: a byte
// written on a pseudo-terminal goes through the serial port, the reader thread, the
// interpreter and XTest to a small X client, which notes when each key arrives.
// Figures: the latency from the write of a byte to its KeyPress in the client (median
// and 99th percentile), and the time to type a long text, beside `xdotool type --delay 0`
// typing the same text into the same client in the same run, and the same text typed on the
// German layout (AltGr and other keys for the symbols) against the US one. Prints its figures;
// `--quick` runs shorter rounds (for CI, to keep it alive).
#include <X11/XKBlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/interpreter.h"
#include "platform/xtest/xtest_event_services.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "support/child_process.h"
#include "support/pseudo_terminal.h"
#include "support/xvfb_server.h"
#include "tools/console_alerts.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 30s;

class NoRegistry final : public quillmote::SerialRegistry {
 public:
  quillmote::RegistryQuery querySerialPorts() override { return {}; }
};

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// Nearest rank.
double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

// Prose with capitals, digits and punctuation, so shift goes up and down as in real text.
std::string sampleText(std::size_t length) {
  const std::string sentence =
      "Quillmote types this: The quick brown fox jumps over the lazy dog; 0123456789 "
      "(twice?) & \"more\" [at 50%] -- <ok>! ";
  std::string text;
  while (text.size() < length) text += sentence;
  text.resize(length);
  return text;
}

struct TypingTime {
  double totalMs;        // from the start of sending to the last key's release
  double firstToLastMs;  // from the first key press to the last key's release
};

// Waits until every key of `text` has gone down and up in the client, then checks that
// the keys pressed were those of `text`. The client hears a key as "down A": the keysym's
// name, which for printable ASCII is XKeysymToString of the character itself.
TypingTime collectTyping(Display* display, const std::string& text, Clock::time_point start,
                         const char* who) {
  std::vector<std::string> heard, typed;
  std::size_t checked = 0, releases = 0;
  Clock::time_point first{}, last{};
  bool complete = quillmote::test::hearUntil(
      display, heard,
      [&] {
        for (; checked < heard.size(); ++checked) {
          const std::string& event = heard[checked];
          if (IsModifierKey(XStringToKeysym(event.substr(event.find(' ') + 1).c_str()))) continue;
          if (first == Clock::time_point{}) first = Clock::now();
          if (event.starts_with("down ")) {
            typed.push_back(event.substr(5));
          } else {
            ++releases;
            last = Clock::now();
          }
        }
        return typed.size() >= text.size() && releases >= text.size();
      },
      kPatience);
  bool same = typed.size() == text.size();
  for (std::size_t i = 0; same && i < text.size(); ++i) {
    same = typed[i] == XKeysymToString(static_cast<unsigned char>(text[i]));
  }
  if (!complete || !same) {
    throw std::runtime_error(std::string(who) + ": the client received " +
                             std::to_string(typed.size()) + " of " + std::to_string(text.size()) +
                             " keys" + (complete ? ", not those of the text that was sent" : ""));
  }
  return {microseconds(last - start) / 1000, microseconds(last - first) / 1000};
}

double median(std::vector<double> values) { return percentile(std::move(values), 0.5); }

}  // namespace

int main(int argc, char** argv) {
  bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int latencySamples = quick ? 500 : 5000;
  const std::size_t textLength = quick ? 1000 : 10000;
  const int rounds = quick ? 1 : 3;

  try {
    quillmote::test::XvfbServer server;
    Display* display = quillmote::test::listenToInput(server.displayName());
    quillmote::test::PseudoTerminal line;
    std::string error, warnings;
    std::unique_ptr<quillmote::XTestEventServices> events =
        quillmote::XTestEventServices::open(server.displayName().c_str(), false, error, warnings);
    if (!events) throw std::runtime_error(error);
    quillmote::ConsoleAlerts alerts(std::cerr);
    NoRegistry registry;
    quillmote::Interpreter interpreter(*events);
    quillmote::Serial serial(alerts, interpreter, registry);
    // Outlives the reader thread, whose last step still holds its lock.
    static quillmote::SerialThreadControl& control = *new quillmote::SerialThreadControl;
    int fd = serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
    if (fd <= 0 || !quillmote::startReaderThread(serial, control, fd)) {
      throw std::runtime_error("translation did not start on " + line.portPath());
    }

    // One byte at a time, each awaited to its release, so every sample stands alone.
    std::vector<double> latencies;
    const int warmUp = 100;
    for (int i = 0; i < warmUp + latencySamples; ++i) {
      char c = static_cast<char>('a' + i % 26);
      std::vector<std::string> heard;
      Clock::time_point written = Clock::now(), pressed{};
      line.send(std::string(1, c));
      bool arrived = quillmote::test::hearUntil(
          display, heard,
          [&] {
            if (pressed == Clock::time_point{} && !heard.empty()) pressed = Clock::now();
            return heard.size() >= 2;
          },
          kPatience);
      if (!arrived || heard[0] != std::string("down ") + c || heard[1] != std::string("up ") + c) {
        throw std::runtime_error(std::string("the key ") + c +
                                 " did not arrive as its press and release");
      }
      if (i >= warmUp) latencies.push_back(microseconds(pressed - written));
    }
    double p99 = percentile(latencies, 0.99);
    std::printf(
        "byte written to KeyPress in an X client over %d characters: median %.1f us, 99th "
        "percentile %.1f us, max %.1f us (target: 99th percentile under 2000 us: %s)\n",
        latencySamples, percentile(latencies, 0.5), p99,
        *std::max_element(latencies.begin(), latencies.end()), p99 < 2000 ? "met" : "NOT met");

    const std::string text = sampleText(textLength);
    std::vector<double> ours, oursSpan, theirs, theirsSpan;
    for (int round = 0; round < rounds; ++round) {
      Clock::time_point start = Clock::now();
      std::jthread sender([&] { line.send(text); });
      TypingTime quillmote = collectTyping(display, text, start, "Quillmote");
      sender.join();
      ours.push_back(quillmote.totalMs);
      oursSpan.push_back(quillmote.firstToLastMs);

      start = Clock::now();
      quillmote::test::ChildProcess xdotool({"xdotool", "type", "--delay", "0", "--", text},
                                            {"DISPLAY=" + server.displayName()});
      TypingTime peer = collectTyping(display, text, start, "xdotool");
      std::string status = xdotool.waitForExit(kPatience);
      if (status != "exit 0") {
        throw std::runtime_error("xdotool: " + status + ": " + xdotool.errorOutput());
      }
      theirs.push_back(peer.totalMs);
      theirsSpan.push_back(peer.firstToLastMs);
    }
    double oursMs = median(ours), theirsMs = median(theirs);
    std::printf(
        "typing %zu characters (median of %d rounds): Quillmote %.1f ms (%.0f characters/s; "
        "first to last key %.1f ms), xdotool type --delay 0 %.1f ms (%.0f characters/s; first "
        "to last key %.1f ms) (target: Quillmote at least as fast: %s)\n",
        text.size(), rounds, oursMs, static_cast<double>(text.size()) / oursMs * 1000,
        median(oursSpan), theirsMs, static_cast<double>(text.size()) / theirsMs * 1000,
        median(theirsSpan), oursMs <= theirsMs ? "met" : "NOT met");

    // The same text on a layout where symbols sit on other keys, some behind AltGr.
    auto setLayout = [&](const char* layout) {
      quillmote::test::ChildProcess setxkbmap(
          {"setxkbmap", "-display", server.displayName(), layout});
      if (setxkbmap.waitForExit(kPatience) != "exit 0") {
        throw std::runtime_error(std::string("setxkbmap ") + layout + ": " +
                                 setxkbmap.errorOutput());
      }
    };
    std::vector<double> german;
    setLayout("de");
    for (int round = 0; round < rounds; ++round) {
      Clock::time_point start = Clock::now();
      std::jthread sender([&] { line.send(text); });
      german.push_back(collectTyping(display, text, start, "Quillmote on de").totalMs);
    }
    setLayout("us");
    double germanMs = median(german);
    std::printf(
        "typing %zu characters on the de layout: %.1f ms (%.0f characters/s), on us %.1f ms: "
        "%.2f times as fast (target: at least half as fast: %s)\n",
        text.size(), germanMs, static_cast<double>(text.size()) / germanMs * 1000, oursMs,
        oursMs / germanMs, oursMs / germanMs >= 0.5 ? "met" : "NOT met");

    quillmote::stopReaderThread(control);
    serial.closeSerialPortWithDescriptor(fd);
    XCloseDisplay(display);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "xtest_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
