// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmote {

// One thing the interpreter did, as the monitor hands it from the reader thread to
// whoever shows it: small and fixed in size, so making one costs no allocation and
// turning it into words happens on the reader's side (monitor_lines.h).
struct MonitorRecord {
  enum class Kind : std::uint8_t {
    kByte,        // a byte arrived: `value`
    kWaiting,     // the scanner asks for a byte while `length` bytes wait undecided
    kToken,       // the scanner took a command in start condition `value`: `length` bytes,
                  // the first in `text`
    kActionDone,  // its action is done, leaving the start condition `value`
    kKey,         // key `keyCode` went down (`down`) or up
    kMouse,       // a mouse post at x, y; `update`, `buttons` (bit 0 left, 1 right, 2 third)
    kWarp,        // the pointer was warped to x, y
  };
  static constexpr int kTextSize = 20;  // longer than any key name, so a name stays whole

  Kind kind = Kind::kByte;
  std::uint8_t value = 0;
  bool down = false;
  bool update = false;
  std::uint8_t buttons = 0;
  std::uint16_t keyCode = 0;
  std::uint32_t length = 0;
  float x = 0, y = 0;
  char text[kTextSize] = {};
};

// Takes records on the reader thread, a batch at a time, in order: at the latest when the
// interpreter is about to wait for the next byte, and when a run ends. Must not block for
// long: the interpreter waits for it.
class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  virtual void take(const MonitorRecord* records, std::size_t count) = 0;
};

}  // namespace quillmote
