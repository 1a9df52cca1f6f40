// SPDX-License-Identifier: MIT
#pragma once

#include <termios.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace quillmote {

// A line speed in bits per second, the terminal interface's code for it, and whether the
// desktop program's preferences offer it (as a row of their rate matrix, titled with the rate).
struct LineSpeed {
  int rate;
  speed_t code;
  bool offered = false;
};

// Every speed Linux's terminal interface has, slowest first. The code is looked up here
// rather than passing the number: glibc takes the plain number too, other C libraries
// do not.
inline constexpr LineSpeed kLineSpeeds[] = {
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300, true},
    {600, B600, true},
    {1200, B1200, true},
    {1800, B1800},
    {2400, B2400, true},
    {4800, B4800, true},
    {9600, B9600, true},
    {19200, B19200, true},
    {38400, B38400, true},
    {57600, B57600, true},
    {115200, B115200, true},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
};

// The offered rates, slowest first: the rows of the preferences' rate matrix, in order.
inline constexpr auto kOfferedRates = [] {
  std::array<int, std::ranges::count_if(kLineSpeeds, &LineSpeed::offered)> rates{};
  std::size_t row = 0;
  for (const LineSpeed& speed : kLineSpeeds) {
    if (speed.offered) rates[row++] = speed.rate;
  }
  return rates;
}();

// A row's title in the rate matrix: its rate.
inline std::string lineSpeedTitle(int rate) { return std::to_string(rate); }

// The code of `rate`, or nothing when the terminal interface has no such speed.
constexpr std::optional<speed_t> speedCode(int rate) {
  for (const LineSpeed& speed : kLineSpeeds) {
    if (speed.rate == rate) return speed.code;
  }
  return std::nullopt;
}

}  // namespace quillmote
