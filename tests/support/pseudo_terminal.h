#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace quillmote::test {

// A pseudo-terminal standing in for the serial line. The port end is set up the way
// the real port is opened: raw 8-bit and non-blocking. The device end is where a test
// plays the device: it sends the command bytes and reads what the program wrote back.
// Failures throw std::runtime_error naming the call and the system's error text.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // The descriptor the program reads and writes, as it would the serial port.
  int portFd() const { return portFd_; }
  // The port end's device path, for code that opens the port itself.
  std::string portPath() const;
  // The device end, for tests that play the device at a lower level.
  int deviceFd() const { return deviceFd_; }

  // Sends raw bytes from the device to the port, all of them.
  void send(std::string_view bytes);

  // Waits until the device has received `count` bytes or `timeout` has passed, and
  // returns the bytes received by then (fewer than `count` on timeout).
  std::string waitForDeviceBytes(std::size_t count, std::chrono::milliseconds timeout);

  // True once the port end has a byte to read, false if none arrives within `timeout`.
  // Lets a test be sure a sent byte is waiting at the port before it acts.
  bool waitUntilPortReadable(std::chrono::milliseconds timeout) const;

  // The device goes away: its end is closed, and the port end reads as hung up.
  void hangUp();

 private:
  int portFd_ = -1;
  int deviceFd_ = -1;
};

}  // namespace quillmote::test
