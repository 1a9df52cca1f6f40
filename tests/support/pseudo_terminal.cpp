#include "support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace quillmote::test {

[[noreturn]] static void fail(const char* call, int error = errno) {
  throw std::system_error(error, std::generic_category(), call);
}

PseudoTerminal::PseudoTerminal() {
  if (openpty(&deviceFd_, &portFd_, nullptr, nullptr, nullptr) != 0) fail("openpty");
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

std::string PseudoTerminal::portPath() const {
  char path[128];
  if (int error = ttyname_r(portFd_, path, sizeof path); error != 0) fail("ttyname_r", error);
  return path;
}

void PseudoTerminal::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(deviceFd_, bytes.data(), bytes.size());
    if (written < 0 && errno != EINTR) fail("write");
    bytes.remove_prefix(std::max<ssize_t>(written, 0));
  }
}

std::string PseudoTerminal::waitForDeviceBytes(std::size_t count,
                                               std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + timeout;
  std::string received;
  for (auto now = Clock::now(); received.size() < count && now < deadline; now = Clock::now()) {
    pollfd watched{deviceFd_, POLLIN, 0};
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    if (poll(&watched, 1, static_cast<int>(left)) <= 0) continue;  // no byte yet, or a signal
    char chunk[256];
    ssize_t got = read(deviceFd_, chunk, std::min(sizeof chunk, count - received.size()));
    if (got == 0) break;  // the port end is gone
    if (got < 0 && errno != EINTR && errno != EAGAIN) fail("read");
    received.append(chunk, std::max<ssize_t>(got, 0));
  }
  return received;
}

void PseudoTerminal::hangUp() {
  if (deviceFd_ >= 0) close(deviceFd_);
  deviceFd_ = -1;
}

}  // namespace quillmote::test
