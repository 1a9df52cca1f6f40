// SPDX-License-Identifier: MIT
// The unplug watch as timed cases: each step changes the world (the port's link, the line,
// announcements, the clock), looks once, and names the step the watch must answer.
#include "serial/unplug_watch.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <sstream>

namespace quillmote::test {
namespace {

struct Announcements final : DeviceMonitor {
  int descriptor() const override { return -1; }
  std::optional<DeviceEvent> nextEvent() override {
    if (waiting.empty()) return std::nullopt;
    DeviceEvent event = waiting.front();
    waiting.pop_front();
    return event;
  }
  std::deque<DeviceEvent> waiting;
};

// Steps, " | " between them, each "WORLD...: ANSWER". WORLD: running (translation runs),
// hangup (the line hung up), gone (the link removed), null / zero (the link leads to that
// device node), removed / added (announced about the port), +N (the clock moves on N ms).
// ANSWER: - nothing, stop, start. The link leads to /dev/null before the first step.
TEST(UnplugWatch, answers_each_timed_case_step_by_step) {
  const struct {
    const char* name;
    const char* steps;
  } cases[] = {
      {"quiet_line_runs_on", "running: - | running +5000: -"},
      {"silent_return_waits_the_settle_time",
       "running hangup: stop | gone: - | null: - | +999: - | +1: start | +5000: -"},
      {"same_node_after_a_hangup_is_no_return", "running hangup: stop | +5000: - | +5000: -"},
      {"another_node_is_a_return_once_settled", "running hangup: stop | zero: - | +1000: start"},
      {"gone_and_back_between_two_looks", "running removed: stop | removed added: start"},
      {"announced_removal_then_silent_return",
       "running removed: stop | gone: - | null: - | +1000: start"},
      {"own_arrival_says_nothing_of_a_return",
       "added running: - | running hangup: stop | +2000: -"},
      {"gone_again_while_settling_starts_the_settle_time_anew",
       "running hangup: stop | gone: - | null: - | +500: - | gone: - | null +600: - | +999: -"
       " | +1: start"},
  };
  const std::filesystem::path port =
      std::filesystem::temp_directory_path() / ("unplug-watch-" + std::to_string(getpid()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(port);
    std::filesystem::create_symlink("/dev/null", port);
    Announcements announcements;
    UnplugWatch watch(&announcements);
    UnplugWatch::Clock::time_point now{};
    const std::string steps = c.steps;
    for (std::size_t from = 0; from < steps.size();) {
      const std::size_t colon = steps.find(": ", from), end = steps.find(" | ", colon);
      std::istringstream world(steps.substr(from, colon - from));
      const std::string expected = steps.substr(colon + 2, end - colon - 2);
      from = end == std::string::npos ? steps.size() : end + 3;
      bool running = false, hungUp = false;
      for (std::string word; world >> word;) {
        running |= word == "running";
        hungUp |= word == "hangup";
        if (word == "gone" || word == "null" || word == "zero") std::filesystem::remove(port);
        if (word == "null" || word == "zero") std::filesystem::create_symlink("/dev/" + word, port);
        using enum DeviceEvent::Kind;
        if (word == "removed") announcements.waiting.push_back({kRemoved, port.string(), {}});
        if (word == "added") announcements.waiting.push_back({kAdded, port.string(), {}});
        if (word.starts_with('+')) now += std::chrono::milliseconds(std::stoi(word.substr(1)));
      }
      const char* answers[] = {"-", "stop", "start"};
      const UnplugWatch::Step answer = watch.look(port.string(), running, hungUp, now);
      EXPECT_EQ(answers[static_cast<int>(answer)], expected) << "at " << steps.substr(0, from);
    }
  }
  std::filesystem::remove(port);
}

}  // namespace
}  // namespace quillmote::test
