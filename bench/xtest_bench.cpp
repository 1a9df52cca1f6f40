// The xtest backend end to end under a stopwatch, on an Xvfb server of its own: a byte
// written on a pseudo-terminal goes through the serial port, the reader thread, the
// interpreter and XTest to a small X client, which notes when each key arrives.
// Figures: the latency from the write of a byte to its KeyPress in the client (median
// and 99th percentile), and the time to type a long text, beside `xdotool type --delay 0`
// typing the same text into the same client in the same run. Prints its figures;
// `--quick` runs shorter rounds (for CI, to keep it alive).
#include <X11/XKBlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "interpreter/interpreter.h"
#include "platform/xtest/xtest_event_services.h"
#include "serial/reader_thread.h"
#include "serial/serial.h"
#include "tools/console_alerts.h"
#include "support/child_process.h"
#include "support/pseudo_terminal.h"
#include "support/x_event_client.h"
#include "support/xvfb_server.h"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using quillmote::test::XEventClient;
using quillmote::test::XRecordedEvent;

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

bool isTypedKey(const XRecordedEvent& event) { return !IsModifierKey(event.keysym); }

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
// the client received exactly `text`.
TypingTime collectTyping(XEventClient& client, const std::string& text, Clock::time_point start,
                         const char* who) {
  std::size_t presses = 0, releases = 0, checked = 0;
  bool complete = client.waitUntil(
      [&] {
        for (; checked < client.events().size(); ++checked) {
          const XRecordedEvent& event = client.events()[checked];
          if (!event.isKey() || !isTypedKey(event)) continue;
          (event.kind == XRecordedEvent::Kind::kKeyPress ? presses : releases) += 1;
        }
        return presses >= text.size() && releases >= text.size();
      },
      kPatience);
  std::string typed;
  for (const XRecordedEvent& event : client.events()) {
    if (event.kind == XRecordedEvent::Kind::kKeyPress && isTypedKey(event)) typed += event.text;
  }
  if (!complete || typed != text) {
    throw std::runtime_error(
        std::string(who) + ": the client received " + std::to_string(typed.size()) + " of " +
        std::to_string(text.size()) + " characters" +
        (typed == text.substr(0, typed.size()) ? "" : ", not the text that was sent"));
  }
  Clock::time_point first = client.events().front().received;
  Clock::time_point last = client.events().back().received;
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
    XEventClient client(server.displayName());
    quillmote::test::PseudoTerminal line;
    std::string error, warnings;
    std::unique_ptr<quillmote::XTestEventServices> events =
        quillmote::XTestEventServices::open(server.displayName().c_str(), error, warnings);
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
      client.clear();
      Clock::time_point written = Clock::now();
      line.send(std::string(1, c));
      auto isRelease = [c](const XRecordedEvent& e) {
        return e.kind == XRecordedEvent::Kind::kKeyRelease && e.keysym == static_cast<KeySym>(c);
      };
      if (!client.waitForEvent(isRelease, kPatience)) {
        throw std::runtime_error(std::string("the key ") + c + " never arrived");
      }
      const XRecordedEvent& press = client.events().front();
      if (press.kind != XRecordedEvent::Kind::kKeyPress || press.keysym != static_cast<KeySym>(c)) {
        throw std::runtime_error("the first event of a typed key is not its press");
      }
      if (i >= warmUp) latencies.push_back(microseconds(press.received - written));
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
      client.clear();
      Clock::time_point start = Clock::now();
      std::jthread sender([&] { line.send(text); });
      TypingTime quillmote = collectTyping(client, text, start, "Quillmote");
      sender.join();
      ours.push_back(quillmote.totalMs);
      oursSpan.push_back(quillmote.firstToLastMs);

      client.clear();
      start = Clock::now();
      quillmote::test::ChildProcess xdotool({"xdotool", "type", "--delay", "0", "--", text},
                                            {"DISPLAY=" + server.displayName()});
      TypingTime peer = collectTyping(client, text, start, "xdotool");
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

    quillmote::stopReaderThread(control);
    serial.closeSerialPortWithDescriptor(fd);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "xtest_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
