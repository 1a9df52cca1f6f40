// SPDX-License-Identifier: MIT
#include "support/pseudo_terminal.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace quillmote::test {

[[noreturn]] static void fail(const char* call) {
  throw std::system_error(errno, std::generic_category(), call);
}

PseudoTerminal::PseudoTerminal() {
  char path[PATH_MAX];  // openpty takes no size: room for any path
  if (openpty(&deviceFd_, &portFd_, path, nullptr, nullptr) != 0) fail("openpty");
  portPath_ = path;
  termios settings{};
  if (tcgetattr(portFd_, &settings) != 0) fail("tcgetattr");
  cfmakeraw(&settings);
  if (tcsetattr(portFd_, TCSANOW, &settings) != 0) fail("tcsetattr");
  if (fcntl(portFd_, F_SETFL, fcntl(portFd_, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl");
}

PseudoTerminal::~PseudoTerminal() {
  close(portFd_);
  hangUp();
}

void PseudoTerminal::send(const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t written = write(deviceFd_, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno != EINTR) fail("write");
    if (written > 0) done += written;
  }
}

std::string PseudoTerminal::waitForDeviceBytes(std::size_t count,
                                               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  for (char byte; received.size() < count && std::chrono::steady_clock::now() < deadline;) {
    pollfd watched{deviceFd_, POLLIN, 0};
    if (poll(&watched, 1, 10) > 0 && read(deviceFd_, &byte, 1) == 1) received += byte;
  }
  return received;
}

void PseudoTerminal::hangUp() { close(std::exchange(deviceFd_, -1)); }

}  // namespace quillmote::test
