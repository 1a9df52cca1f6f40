// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <string>

namespace quillmote::test {

// A pseudo-terminal as the serial line: the port end raw 8-bit and non-blocking like the
// real port; at the device end the test plays the device. Failures throw std::system_error.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // The port end: its descriptor, and its path for code that opens the port itself.
  int portFd() const { return portFd_; }
  const std::string& portPath() const { return portPath_; }
  // Sends every one of `bytes` from the device to the port.
  void send(const std::string& bytes);
  // The bytes the device has received once there are `count`, or fewer at `timeout`.
  std::string waitForDeviceBytes(std::size_t count, std::chrono::milliseconds timeout);
  // The device goes away: its end is closed, and the port end reads as hung up.
  void hangUp();

 private:
  int portFd_ = -1, deviceFd_ = -1;
  std::string portPath_;
};

}  // namespace quillmote::test
