// SPDX-License-Identifier: MIT
// The command line's own parsers, in process: each form accepted exactly, and a text that
// fails leaves the output as it was (a sentinel shows it untouched).
#include <gtest/gtest.h>

#include "serial/line_speeds.h"
#include "tools/trace_command.h"

namespace quillmote::test {
namespace {

TEST(OptionParsers, accept_their_forms_exactly_and_leave_the_output_alone_otherwise) {
  const struct {
    const char* text;
    int width, height;  // 0, 0: refused
  } screens[] = {
      {"800x600", 800, 600}, {"1x1", 1, 1},      {"32767x32767", 32767, 32767},
      {"32768x600", 0, 0},   {"0x600", 0, 0},    {"800x0", 0, 0},
      {"-800x600", 0, 0},    {"+800x600", 0, 0}, {"800X600", 0, 0},
      {"800x", 0, 0},        {"x600", 0, 0},     {"800x600x", 0, 0},
      {" 800x600", 0, 0},    {"800x600 ", 0, 0}, {"", 0, 0},
      {"8e2x600", 0, 0},
  };
  for (const auto& c : screens) {
    ScreenSize screen{11, 22};
    EXPECT_EQ(parseScreenSize(c.text, screen), c.width != 0) << c.text;
    EXPECT_EQ(std::pair(screen.width, screen.height),
              c.width != 0 ? std::pair(c.width, c.height) : std::pair(11, 22))
        << c.text;
  }
  const struct {
    const char* text;
    int x, y;  // -1, -1: refused on an 800x600 screen
  } pointers[] = {
      {"0,0", 0, 0},    {"799,599", 799, 599}, {"800,10", -1, -1}, {"10,600", -1, -1},
      {"-1,0", -1, -1}, {"1,2,3", -1, -1},     {"1;2", -1, -1},    {"1,", -1, -1},
      {",2", -1, -1},   {"", -1, -1},
  };
  for (const auto& c : pointers) {
    GlobalMousePoint pointer{.v = 44, .h = 33};
    EXPECT_EQ(parsePointer(c.text, ScreenSize{800, 600}, pointer), c.x >= 0) << c.text;
    EXPECT_EQ((std::pair<int, int>(pointer.h, pointer.v)),
              c.x >= 0 ? std::pair(c.x, c.y) : std::pair(33, 44))
        << c.text;
  }
  for (int rate : {50, 9600, 4000000}) EXPECT_TRUE(speedCode(rate)) << rate;
  for (int rate : {0, -9600, 1234, 4000001}) EXPECT_FALSE(speedCode(rate)) << rate;
}

}  // namespace
}  // namespace quillmote::test
