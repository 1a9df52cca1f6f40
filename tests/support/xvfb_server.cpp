#include "support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace quillmote::test {

XvfbServer::XvfbServer() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  const std::string readyFd = std::to_string(ChildProcess::kPassedDescriptor);
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", readyFd, "-noreset", "-nolisten", "tcp",
                               "-screen", "0", "1280x800x24"},
      std::vector<std::string>{}, ready[1]);
  close(ready[1]);
  // Xvfb writes the display number and a line feed there once clients can connect.
  pollfd waiting{ready[0], POLLIN, 0};
  for (char c = 0; c != '\n' && poll(&waiting, 1, 15000) == 1 && read(ready[0], &c, 1) == 1;) {
    displayName_ += c;
  }
  close(ready[0]);
  if (!displayName_.ends_with('\n')) throw std::runtime_error("Xvfb: " + process_->errorOutput());
  displayName_ = ":" + displayName_.substr(0, displayName_.size() - 1);
}

}  // namespace quillmote::test
