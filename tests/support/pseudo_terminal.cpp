#include "support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillmote::test {
namespace {

[[noreturn]] void fail(const char* call) {
  int error = errno;
  throw std::runtime_error(std::string(call) + ": " + std::strerror(error) + "(" +
                           std::to_string(error) + ")");
}

// Milliseconds left until `deadline`, for poll; never negative.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
  if (openpty(&deviceFd_, &portFd_, nullptr, nullptr, nullptr) != 0) fail("openpty");
  try {
    termios settings{};
    if (tcgetattr(portFd_, &settings) != 0) fail("tcgetattr");
    cfmakeraw(&settings);
    if (tcsetattr(portFd_, TCSANOW, &settings) != 0) fail("tcsetattr");
    int flags = fcntl(portFd_, F_GETFL);
    if (flags < 0 || fcntl(portFd_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
  } catch (...) {
    close(portFd_);
    close(deviceFd_);
    throw;
  }
}

std::string PseudoTerminal::portPath() const {
  char path[128];
  if (ttyname_r(portFd_, path, sizeof path) != 0) {
    errno = errno ? errno : ENOTTY;
    fail("ttyname_r");
  }
  return path;
}

PseudoTerminal::~PseudoTerminal() {
  close(portFd_);
  if (deviceFd_ >= 0) close(deviceFd_);
}

void PseudoTerminal::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(deviceFd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("write");
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string PseudoTerminal::waitForDeviceBytes(std::size_t count,
                                               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string received;
  while (received.size() < count) {
    pollfd watched{deviceFd_, POLLIN, 0};
    int ready = poll(&watched, 1, millisecondsUntil(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if (ready == 0) break;  // deadline passed
    char chunk[256];
    std::size_t wanted = std::min(sizeof chunk, count - received.size());
    ssize_t got = read(deviceFd_, chunk, wanted);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      fail("read");
    }
    if (got == 0) break;  // the port end is gone
    received.append(chunk, static_cast<std::size_t>(got));
  }
  return received;
}

bool PseudoTerminal::waitUntilPortReadable(std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd watched{portFd_, POLLIN, 0};
    int ready = poll(&watched, 1, millisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) fail("poll");
  }
}

void PseudoTerminal::hangUp() {
  if (deviceFd_ < 0) return;
  close(deviceFd_);
  deviceFd_ = -1;
}

}  // namespace quillmote::test
