// The golden cases of tests/golden/ (format in its README), each run as a test of its
// own named after its file and itself, through a fresh interpreter over the trace
// backend, with the models' promises checked after every run and every byte of every
// run accounted for in exactly one token.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/key_code_translation.h"
#include "support/interpreter_harness.h"
#include "support/promise_checker.h"

namespace quillmote::test {
namespace {

struct GoldenCase {
  std::string where;  // file:line, for failure messages
  std::string name;
  std::string stream;  // byte notation, with {STOP} between runs and {EXIT} at the end
  std::string expected;
  std::map<std::string, std::string> options;
};

std::string trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "k=v k=v" into `options`, over what is there.
void readOptions(const std::string& text, std::map<std::string, std::string>& options) {
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    std::size_t equals = word.find('=');
    options[word.substr(0, equals)] = equals == std::string::npos ? "" : word.substr(equals + 1);
  }
}

std::vector<GoldenCase> readCases(const std::filesystem::path& file) {
  std::vector<GoldenCase> cases;
  std::map<std::string, std::string> defaults{{"after", "INITIAL"}, {"down", ""}};
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (trim(line).empty() || line[0] == '#') continue;
    if (line.starts_with(";;")) {
      readOptions(line.substr(2), defaults);
      continue;
    }
    GoldenCase c{file.filename().string() + ":" + std::to_string(number), "", "", "", defaults};
    std::size_t arrow = line.find(" => ");
    std::size_t nameEnd = line.find(' ');
    c.name = line.substr(0, nameEnd);
    if (arrow == std::string::npos || nameEnd > arrow) {
      c.expected = "(no \" => \" on this line)";  // fails the case, saying where
    } else {
      c.stream = trim(line.substr(nameEnd, arrow - nameEnd));
      std::string rest = line.substr(arrow + 4);
      std::size_t optionsAt = rest.find(";;");
      if (optionsAt != std::string::npos) readOptions(rest.substr(optionsAt + 2), c.options);
      c.expected = trim(rest.substr(0, optionsAt));
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

// A key as the trace names it, spaces made underscores; "#N" for a key without a name.
std::string keyName(int code) {
  std::optional<KeyCodeTranslation> key = translateKeyCode(static_cast<std::uint16_t>(code));
  if (!key) return "#" + std::to_string(code);
  std::string name = key->name;
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

// Events in the cases' notation, from the trace's lines: "shift↓", "a↓↑" for a press
// and its release one after the other, "warp@510,295", "buttons(100)@500,300" and
// "move(100)@510,295" for mouse posts without and with the update flag.
std::vector<std::string> shortEvents(const std::string& trace) {
  static const std::regex key(R"(key (\d+) (down|up)(  # .*)?)");
  static const std::regex mouse(R"(mouse (\S+) (\S+) update=(\d) buttons=(\d) (\d) (\d))");
  static const std::regex warp(R"(warp (\S+) (\S+))");
  std::vector<std::string> events;
  std::istringstream lines(trace);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, m, key)) {
      events.push_back(keyName(std::stoi(m[1])) + (m[2] == "down" ? "↓" : "↑"));
    } else if (std::regex_match(line, m, mouse)) {
      events.push_back((m[3] == "1" ? "move(" : "buttons(") + m[4].str() + m[5].str() +
                       m[6].str() + ")@" + m[1].str() + "," + m[2].str());
    } else if (std::regex_match(line, m, warp)) {
      events.push_back("warp@" + m[1].str() + "," + m[2].str());
    } else {
      events.push_back("?" + line);
    }
  }
  return events;
}

// Joins events, folding a press directly followed by its release into one "↓↑".
std::string joined(const std::vector<std::string>& events) {
  std::string out;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const std::string& event = events[i];
    bool tap = event.ends_with("↓") && i + 1 < events.size() &&
               events[i + 1] == event.substr(0, event.size() - 3) + "↑";
    out += (out.empty() ? "" : " ") + event + (tap ? "↑" : "");
    if (tap) ++i;
  }
  return out.empty() ? "-" : out;
}

// Expected text in the same shape as a rendered result: taps folded, single spaces.
std::string normalised(const std::string& expected) {
  std::string out;
  std::vector<std::string> events;
  std::istringstream words(expected + " |");
  for (std::string word; words >> word;) {
    if (word != "|") {
      if (word != "-") events.push_back(word);
      continue;
    }
    out += (out.empty() ? "" : " | ") + joined(events);
    events.clear();
  }
  return out;
}

// The scanner's view of a run, logged as it happens: each byte as it is requested, "$"
// when the feed reports the end, "[rule token start-condition]" when an action has run.
class GoldenFeed final : public ByteSource, public TokenObserver {
 public:
  GoldenFeed(std::string_view streamBytes, std::string& timeline)
      : bytes_(streamBytes), timeline_(timeline) {}

  int yy_read_char() override {
    // Zero bytes never reach the scanner: the feeds answer and drop them.
    while (next_ < bytes_.size() && bytes_[next_] == '\0') {
      ++next_;
      ++zeroBytes;
    }
    if (next_ == bytes_.size()) {
      ++ends;
      timeline_ += '$';
      return 0;
    }
    char byte = bytes_[next_++];
    timeline_ += show(std::string_view(&byte, 1));
    return static_cast<signed char>(byte);
  }
  void tokenDecided(int rule, std::string_view token) override {
    bytesInTokens += token.size();
    pending_ = std::to_string(rule) + " " + show(token);
  }
  void actionDone(StartCondition after) override {
    timeline_ += "[" + pending_ + " " + startConditionName(after) + "]";
  }

  int ends = 0;
  std::size_t zeroBytes = 0;
  std::size_t bytesInTokens = 0;

 private:
  static std::string show(std::string_view streamBytes) {
    std::string out;
    for (char c : streamBytes) out += c == ' ' ? "{SP}" : notation(std::string_view(&c, 1));
    return out;
  }

  std::string_view bytes_;
  std::size_t next_ = 0;
  std::string& timeline_;
  std::string pending_;
};

// "shift:3,option:5": every key that is not all up, ascending.
std::string keysDown(const KeyState& keys) {
  std::string out;
  for (int code = 0; code < 256; ++code) {
    if (keys.state(code) == 0) continue;
    out += (out.empty() ? "" : ",") + keyName(code) + ":" + std::to_string(keys.state(code));
  }
  return out;
}

void runCase(const GoldenCase& c) {
  SCOPED_TRACE(c.where + "  " + c.stream);
  std::string stream = c.stream;
  bool exitAfter = stream.ends_with("{EXIT}");
  if (exitAfter) stream.resize(stream.size() - 6);
  ScreenSize screen;
  GlobalMousePoint pointer;
  if (c.options.count("screen")) std::sscanf(c.options.at("screen").c_str(), "%dx%d", &screen.width, &screen.height);
  if (c.options.count("pointer")) std::sscanf(c.options.at("pointer").c_str(), "%hd,%hd", &pointer.h, &pointer.v);

  std::ostringstream out;
  TraceEventServices trace(out, screen, pointer);
  PromiseChecker checked(trace);
  Interpreter interpreter(checked);
  std::string timeline, events;
  auto endSegment = [&] {
    events += (events.empty() ? "" : " | ") + joined(shortEvents(out.str()));
    out.str("");
  };
  for (std::size_t from = 0;;) {
    std::size_t stop = stream.find("{STOP}", from);
    const std::string runBytes = bytes(stream.substr(from, stop - from));
    GoldenFeed feed(runBytes, timeline);
    interpreter.setTokenObserver(&feed);
    interpreter.do_quillmote(feed);
    EXPECT_EQ(feed.ends, 1) << "the feed was asked again after it reported the end";
    EXPECT_EQ(feed.bytesInTokens + feed.zeroBytes, runBytes.size()) << "bytes lost or doubled between tokens";
    checked.checkModels(interpreter);
    endSegment();
    if (stop == std::string::npos) break;
    from = stop + 6;
  }
  if (exitAfter) {
    interpreter.releaseEverythingHeld();
    endSegment();
  }
  EXPECT_EQ(checked.brokenPromises(), std::vector<std::string>{});
  const bool wantsTimeline = c.options.count("timeline");
  EXPECT_EQ(wantsTimeline ? timeline : events, wantsTimeline ? c.expected : normalised(c.expected));
  EXPECT_STREQ(startConditionName(interpreter.startCondition()), c.options.at("after").c_str());
  EXPECT_EQ(keysDown(interpreter.keyState()), c.options.at("down"));
}

class Golden : public testing::Test {
 public:
  explicit Golden(GoldenCase c) : case_(std::move(c)) {}
  void TestBody() override { runCase(case_); }

 private:
  GoldenCase case_;
};

}  // namespace
}  // namespace quillmote::test

int main(int argc, char** argv) {
  using namespace quillmote::test;
  testing::InitGoogleTest(&argc, argv);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(QUILLMOTE_GOLDEN_DIR)) {
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    for (GoldenCase& c : readCases(file)) {
      testing::RegisterTest(file.stem().c_str(), c.name.c_str(), nullptr, nullptr, __FILE__,
                            __LINE__, [c]() -> testing::Test* { return new Golden(c); });
    }
  }
  return RUN_ALL_TESTS();
}
