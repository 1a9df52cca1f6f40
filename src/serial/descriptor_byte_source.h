// SPDX-License-Identifier: MIT
#pragma once

#include "interpreter/byte_source.h"
#include "serial/serial_thread_control.h"

namespace quillmote {

// The feed waits for the port in slices of this length and looks at the exit flag
// before each one, so a stop is seen within one slice on a silent line.
inline constexpr long kWaitSliceMicroseconds = 100000;
// Written back to the line for every zero byte received.
inline constexpr unsigned char kZeroByteReply = 0x11;

// The next non-zero byte received on `fd`, as a signed 8-bit value widened to int
// (bytes 0x80 to 0xFF come back as -128 to -1). Reads one byte per call, never ahead.
// A zero byte is answered with kZeroByteReply and skipped. Returns 0 only once
// `control` says the thread is to exit; a failing or hung-up line is retried, not
// returned, and costs no more than one look per slice. A hang-up is noted on `control`.
int read_char(int fd, SerialThreadControl& control);

// The serial port: bytes until a stop is requested.
class DescriptorByteSource final : public ByteSource {
 public:
  DescriptorByteSource(int fd, SerialThreadControl& control)
      : yy_fd(fd), yy_threadControl(&control) {}

  int yy_read_char() override;

 private:
  int yy_fd;
  SerialThreadControl* yy_threadControl;
};

}  // namespace quillmote
