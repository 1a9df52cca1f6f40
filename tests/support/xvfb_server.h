#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace quillmote::test {

// An Xvfb server of the caller's own, so tests neither need nor disturb a display of the
// machine. Xvfb picks a free display number itself and reports it once it accepts
// connections (-displayfd), so nothing is guessed and parallel tests never collide.
// -noreset: otherwise the server resets when its last client leaves, and would forget
// anything left pressed, which the tests want to see.
class XvfbServer {
 public:
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 800;

  // Starts the server, with `extraArguments` appended to its command line, and returns
  // once a client can connect. Throws std::runtime_error, with Xvfb's own messages,
  // when it does not start: a test that needs a display fails without one.
  explicit XvfbServer(const std::vector<std::string>& extraArguments = {});
  // Stops the server.
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", for XOpenDisplay or DISPLAY.
  const std::string& displayName() const { return displayName_; }

 private:
  // Reads the display number Xvfb writes once it is ready.
  std::string readDisplayNumber(int readFd);

  std::unique_ptr<ChildProcess> process_;
  std::string displayName_;
};

}  // namespace quillmote::test
