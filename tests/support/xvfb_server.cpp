#include "support/xvfb_server.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace quillmote::test {
namespace {

using namespace std::chrono_literals;

// Xvfb starts in well under a second; the margin is for loaded CI machines.
constexpr auto kStartPatience = 15s;
constexpr auto kStopPatience = 5s;

}  // namespace

XvfbServer::XvfbServer(const std::vector<std::string>& extraArguments) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  }
  std::vector<std::string> argv = {
      "Xvfb",     "-displayfd", std::to_string(ChildProcess::kPassedDescriptor),
      "-noreset", "-nolisten",  "tcp",
      "-screen",  "0",          std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24"};
  argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
  try {
    process_ = std::make_unique<ChildProcess>(argv, std::vector<std::string>{}, ready[1]);
  } catch (...) {
    close(ready[0]);
    close(ready[1]);
    throw;
  }
  close(ready[1]);
  std::string number;
  try {
    number = readDisplayNumber(ready[0]);
  } catch (...) {
    close(ready[0]);
    throw;
  }
  close(ready[0]);
  displayName_ = ":" + number;

  Display* probe = XOpenDisplay(displayName_.c_str());
  if (probe == nullptr) {
    throw std::runtime_error("Xvfb reported display " + displayName_ +
                             " but accepts no connection: " + process_->errorOutput());
  }
  XCloseDisplay(probe);
}

XvfbServer::~XvfbServer() {
  // SIGTERM lets it remove its lock file and socket; one that does not stop is killed.
  process_->sendSignal(SIGTERM);
  process_->waitForExit(kStopPatience);
}

std::string XvfbServer::readDisplayNumber(int readFd) {
  auto deadline = std::chrono::steady_clock::now() + kStartPatience;
  std::string received;
  while (received.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd watched{readFd, POLLIN, 0};
    int ready = poll(&watched, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      throw std::runtime_error("Xvfb gave no display number within 15 s: " +
                               process_->errorOutput());
    }
    char chunk[32];
    ssize_t got = read(readFd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      throw std::runtime_error("Xvfb ended before it was ready (" +
                               process_->waitForExit(kStopPatience) +
                               "): " + process_->errorOutput());
    }
    received.append(chunk, static_cast<std::size_t>(got));
  }
  received.erase(received.find('\n'));
  return received;
}

}  // namespace quillmote::test
