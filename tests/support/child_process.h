#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quillmote::test {

// A program started by a test or a benchmark, killed if it still runs when the object goes.
// Its standard output and error go to unlinked files: a chatty program never blocks on a
// full pipe, and what it wrote can be waited for and shown.
class ChildProcess {
 public:
  static constexpr int kPassedDescriptor = 3;  // where `passedDescriptor` reaches the program

  // Starts argv[0] (looked up in PATH) with this process's environment changed by the
  // "NAME=value" entries of `environment`, `passedDescriptor` (unless -1), and the file
  // `inputPath` as standard input. Throws std::runtime_error when it cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {}, int passedDescriptor = -1,
                        const std::string& inputPath = "/dev/null");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool sendSignal(int signalNumber);  // false once the process has been reaped
  // True once the process has ended, false if it still runs after `timeout`.
  bool waitUntilEnded(std::chrono::milliseconds timeout) const;
  // Reaps the process: "exit N", "signal N", or, killed, "still running after N ms".
  std::string waitForExit(std::chrono::milliseconds timeout);
  // What the program has written to its standard output, or error, so far.
  std::string output() const { return contents(outputFd_); }
  std::string errorOutput() const { return contents(errorFd_); }
  // True once either holds `text`; false when the program ends or `timeout` passes first.
  bool waitForText(const std::string& text, std::chrono::milliseconds timeout) const;

 private:
  ChildProcess() = default;
  static std::string contents(int fd);

  pid_t pid_ = -1;
  int pidFd_ = -1, outputFd_ = -1, errorFd_ = -1;
};

}  // namespace quillmote::test
