// SPDX-License-Identifier: MIT
#pragma once

#include <termios.h>

#include <optional>

namespace quillmote {

// A line speed in bits per second and the terminal interface's code for it.
struct LineSpeed {
  int rate;
  speed_t code;
};

// Every speed Linux's terminal interface has, slowest first. The code is looked up here
// rather than passing the number: glibc takes the plain number too, other C libraries
// do not.
inline constexpr LineSpeed kLineSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The code of `rate`, or nothing when the terminal interface has no such speed.
constexpr std::optional<speed_t> speedCode(int rate) {
  for (const LineSpeed& speed : kLineSpeeds) {
    if (speed.rate == rate) return speed.code;
  }
  return std::nullopt;
}

}  // namespace quillmote
