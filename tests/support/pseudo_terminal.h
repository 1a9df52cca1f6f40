#pragma once

#include <chrono>
#include <string>
#include <string_view>

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
  std::string portPath() const;
  // Sends every one of `bytes` from the device to the port.
  void send(std::string_view bytes);
  // The bytes the device has received once there are `count`, or fewer at `timeout`.
  std::string waitForDeviceBytes(std::size_t count, std::chrono::milliseconds timeout);
  // The device goes away: its end is closed, and the port end reads as hung up.
  void hangUp();

 private:
  int portFd_ = -1;
  int deviceFd_ = -1;
};

}  // namespace quillmote::test
