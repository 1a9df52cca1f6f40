// SPDX-License-Identifier: MIT
// The golden cases of tests/golden/ (format in its README), each a test of its own named
// after its file and itself, run through a fresh interpreter over the trace backend with
// the models' promises checked after every run and every byte accounted for in one token.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "monitor/monitor_lines.h"
#include "monitor/monitor_tap.h"
#include "platform/key_code_translation.h"
#include "platform/trace_event_services.h"
#include "support/interpreter_harness.h"
#include "support/promise_checker.h"

namespace quillmote::test {
namespace {

struct GoldenCase {
  std::string where, name, stream, expected;  // where: file:line
  std::map<std::string, std::string> options;
};

void readOptions(const std::string& text, std::map<std::string, std::string>& options) {
  static const std::regex option(R"((\w+)(=(\S*))?)");
  for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i) {
    options[(*i)[1]] = (*i)[3];
  }
}

std::vector<GoldenCase> readCases(const std::filesystem::path& file) {
  static const std::regex caseLine(R"((\S+) +(.*?) +=> +(.*?) *(;;(.*))?)");
  std::vector<GoldenCase> cases;
  std::map<std::string, std::string> defaults{{"after", "INITIAL"}, {"down", ""}};
  std::ifstream in(file);
  std::smatch m;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    std::string where = file.filename().string() + ":" + std::to_string(++number);
    if (line.starts_with(";;")) {
      readOptions(line.substr(2), defaults);
    } else if (std::regex_match(line, m, caseLine)) {
      cases.push_back({where, m[1], m[2], m[3], defaults});
      readOptions(m[5], cases.back().options);
    } else if (line.find_first_not_of(' ') != std::string::npos && line[0] != '#') {
      cases.push_back({where, "line_" + std::to_string(number), "", "(not a case)", defaults});
    }
  }
  return cases;
}

// A key as the trace names it, spaces made underscores; "#N" for a key without a name.
std::string keyName(int code) {
  std::optional<KeyCodeTranslation> key = translateKeyCode(static_cast<std::uint16_t>(code));
  std::string name = key ? key->name : "#" + std::to_string(code);
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

// Events in the cases' words, joined by spaces; a press directly followed by its release
// folds into one "↓↑".
std::string joined(const std::vector<std::string>& events) {
  std::string out;
  for (std::size_t i = 0; i < events.size(); ++i) {
    bool tap = events[i].ends_with("↓") && i + 1 < events.size() &&
               events[i + 1] == events[i].substr(0, events[i].size() - 3) + "↑";
    out += (out.empty() ? "" : " ") + events[i] + (tap ? "↑" : "");
    i += tap;
  }
  return out.empty() ? "-" : out;
}

// The trace's lines in the cases' words.
std::string shortEvents(const std::string& trace) {
  static const std::regex key(R"(key (\d+) (down|up)(  # .*)?)"), warp(R"(^warp (\S+) (\S+)$)"),
      mouse(R"(mouse (\S+) (\S+) update=(\d) buttons=(\d) (\d) (\d))");
  std::vector<std::string> events;
  std::istringstream lines(trace);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, m, key)) {
      events.push_back(keyName(std::stoi(m[1])) + (m[2] == "down" ? "↓" : "↑"));
    } else if (std::regex_match(line, m, mouse)) {
      events.push_back(m.format("$4$5$6)@$1,$2").insert(0, m[3] == "1" ? "move(" : "buttons("));
    } else {
      events.push_back(std::regex_replace(line, warp, "warp@$1,$2"));
    }
  }
  return joined(events);
}

// One run's bytes from the memory source, its own zero handling included, logging the
// timeline (see the README) as the scanner asks and acts.
struct GoldenFeed final : ByteSource, TokenObserver {
  GoldenFeed(std::string_view streamBytes, std::string& timeline)
      : source(streamBytes), log(timeline) {}

  int yy_read_char() override {
    int next = source.yy_read_char();
    if (next == 0) {
      ++ends;
      log += '$';
      return 0;
    }
    log += notation(std::string(1, static_cast<char>(next)));
    return next;
  }
  void tokenDecided(int rule, std::string_view token, StartCondition) override {
    bytesInTokens += token.size();
    pending = std::to_string(rule) + " " + notation(token);
  }
  void actionDone(StartCondition after) override {
    log += "[" + pending + " " + startConditionName(after) + "]";
  }

  int ends = 0;
  std::size_t bytesInTokens = 0;
  MemoryByteSource source;
  std::string& log;
  std::string pending;
};

// The monitor's lines for a stream on a fresh interpreter, byte lines and the events' comments
// left out, " | " between them.
std::string monitorLines(const std::string& stream) {
  struct Kept final : MonitorSink {
    void take(const MonitorRecord* records, std::size_t count) override {
      kept.insert(kept.end(), records, records + count);
    }
    std::vector<MonitorRecord> kept;
  } sink;
  std::ostringstream traced;
  TraceEventServices trace(traced, ScreenSize{}, GlobalMousePoint{});
  MonitorTap tap(trace);
  tap.attach(&sink);
  Interpreter interpreter(tap);
  interpreter.setTokenObserver(&tap);
  MemoryByteSource source(stream);
  interpreter.do_quillmote(source);
  MonitorLines words;
  std::vector<std::string> lines;
  for (const MonitorRecord& record : sink.kept) words.add(record, lines);
  std::string shown;
  for (const std::string& line : lines) {
    if (line.starts_with("byte ")) continue;
    shown += (shown.empty() ? "" : " | ") + line.substr(0, line.find("  #"));
  }
  return shown;
}

// Expected and actual events side by side, one a line, "!" where they differ.
std::string sideBySide(const std::string& expected, const std::string& actual) {
  auto words = [](const std::string& text) {
    std::istringstream in(text);
    return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
  };
  std::vector<std::string> left = words(expected), right = words(actual);
  std::string out = "  expected              actual\n";
  for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    std::string l = i < left.size() ? left[i] : "", r = i < right.size() ? right[i] : "";
    // Padded by characters, not bytes: the arrows take three bytes each.
    auto width = std::ranges::count_if(l, [](char b) { return (b & 0xC0) != 0x80; });
    out += (l == r ? "  " : "! ") + l + std::string(std::max<long>(2, 22 - width), ' ') + r + "\n";
  }
  return out;
}

// Runs one case and returns the scanner's buffer capacity after it.
int runCase(GoldenCase c) {
  SCOPED_TRACE(c.where + "  " + c.stream.substr(0, 200));
  ScreenSize screen;  // from the options, where they give one
  GlobalMousePoint pointer;
  std::sscanf(c.options["screen"].c_str(), "%dx%d", &screen.width, &screen.height);
  std::sscanf(c.options["pointer"].c_str(), "%hd,%hd", &pointer.h, &pointer.v);
  std::ostringstream out;
  TraceEventServices trace(out, screen, pointer);
  PromiseChecker checked(trace);
  Interpreter interpreter(checked);
  std::string timeline, events;
  auto endSegment = [&] {
    checked.checkModels(interpreter);
    events += (events.empty() ? "" : " | ") + shortEvents(out.str());
    out.str("");
  };
  // A run before each {STOP} or {EXIT}, and after it unless an {EXIT} ends the stream.
  for (std::size_t from = 0, stop = 0; stop != std::string::npos; from = stop + 6) {
    stop = std::min(c.stream.find("{STOP}", from), c.stream.find("{EXIT}", from));
    std::string runBytes = bytes(c.stream.substr(from, stop - from));
    GoldenFeed feed(runBytes, timeline);
    interpreter.setTokenObserver(&feed);
    interpreter.do_quillmote(feed);
    EXPECT_EQ(feed.ends, 1) << "the feed was asked again after it reported the end";
    const auto zeros = static_cast<std::size_t>(std::ranges::count(runBytes, '\0'));
    EXPECT_EQ(feed.source.zeroByteReplies(), zeros) << "a zero byte not answered";
    EXPECT_EQ(feed.bytesInTokens, runBytes.size() - zeros) << "bytes lost or doubled";
    endSegment();
    if (stop != std::string::npos && c.stream.compare(stop, 6, "{EXIT}") == 0) {
      interpreter.releaseEverythingHeld();
      endSegment();
      if (stop + 6 == c.stream.size()) break;
    }
  }
  EXPECT_EQ(checked.brokenPromises(), std::vector<std::string>{});
  if (c.expected == "*") return interpreter.bufferCapacity();  // the promises alone
  const std::string actual = c.options.count("monitor")    ? monitorLines(bytes(c.stream))
                             : c.options.count("timeline") ? timeline
                                                           : events;
  if (actual != c.expected) ADD_FAILURE() << sideBySide(c.expected, actual);
  EXPECT_STREQ(startConditionName(interpreter.startCondition()), c.options["after"].c_str());
  std::string down;  // "shift:3,option:5": every key whose state word is not 0, ascending
  for (int code = 0; code < 256; ++code) {
    std::int32_t word = interpreter.keyState().state(code);
    if (word != 0) down += (down.empty() ? "" : ",") + keyName(code) + ":" + std::to_string(word);
  }
  EXPECT_EQ(down, c.options["down"]);
  return interpreter.bufferCapacity();
}

// Every byte value, in every start condition, is taken by some rule exactly once.
TEST(GoldenPromises, hold_for_every_byte_in_every_start_condition) {
  for (std::string prefix :
       {"", "{ESC}", "{ESC},lock", "{ESC},combine", "{ESC},hold", "{ESC},click"}) {
    for (char byte = 1; byte != 0; ++byte) {
      runCase({"every byte", "", prefix + notation(std::string(1, byte)) + "x", "*", {}});
    }
  }
}

// A key name longer than the scanner's buffer stays one token; the buffer doubles exactly
// when the pending bytes reach its capacity less one, and stays so in later runs.
TEST(ScannerBuffer, grows_at_capacity_less_one_pending_and_keeps_long_names_whole) {
  for (auto [letters, capacity] : {std::pair{16382, 16384}, {16383, 32768}, {16384, 32768}}) {
    const std::string name = std::string(letters, 'x') + ".";
    const std::string timeline =
        "{ESC}[1 {ESC} COMMAND]" + name + "[8 " + name + " INITIAL]$a[26 a INITIAL]$$";
    EXPECT_EQ(runCase({"",
                       "",
                       "{ESC}" + name + "{STOP}a{STOP}",
                       timeline,
                       {{"timeline", ""}, {"after", "INITIAL"}}}),
              capacity);
  }
}

struct Golden : testing::Test {
  explicit Golden(GoldenCase goldenCase) : c(std::move(goldenCase)) {}
  void TestBody() override { runCase(c); }
  GoldenCase c;
};

}  // namespace
}  // namespace quillmote::test

int main(int argc, char** argv) {
  using namespace quillmote::test;
  testing::InitGoogleTest(&argc, argv);
  std::set<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(QUILLMOTE_GOLDEN_DIR)) {
    if (entry.path().extension() == ".txt") files.insert(entry.path());
  }
  for (const auto& file : files) {
    for (const GoldenCase& c : readCases(file)) {
      testing::RegisterTest(file.stem().c_str(), c.name.c_str(), nullptr, nullptr, __FILE__,
                            __LINE__, [c] { return static_cast<testing::Test*>(new Golden(c)); });
    }
  }
  return RUN_ALL_TESTS();
}
