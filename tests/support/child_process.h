// SPDX-License-Identifier: MIT
#pragma once

#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

namespace quillmote::test {

// A program started by a test or a benchmark, killed if it still runs when the object goes.
// Its standard input, output and error are unlinked files: a chatty program never blocks on
// a full pipe, and what it wrote can be waited for and shown.
class ChildProcess {
 public:
  static constexpr int kPassedDescriptor = 3;  // where `passedDescriptor` reaches the program

  // Runs argv[0], found in PATH, with the "NAME=value" entries of `environment` set,
  // `passedDescriptor` (unless -1), and `input` to read. A program that is not found ends
  // with status 127 and says why; std::system_error when nothing can start.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {}, int passedDescriptor = -1,
                        const std::string& input = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool sendSignal(int number) { return pid_ > 0 && kill(pid_, number) == 0; }  // false once reaped
  // Reaps the process: "exit N" or "signal N"; "still running after N ms" leaves it running.
  std::string waitForExit(std::chrono::milliseconds timeout);
  // What the program has written to its standard output, or error, so far.
  std::string output() const { return contents(outputFd_); }
  std::string errorOutput() const { return contents(errorFd_); }
  // True once either holds `text`, false if `timeout` passes first.
  bool waitForText(const std::string& text, std::chrono::milliseconds timeout) const;

 private:
  ChildProcess() = default;
  static std::string contents(int fd);

  pid_t pid_ = -1;
  int inputFd_ = -1, outputFd_ = -1, errorFd_ = -1;
};

}  // namespace quillmote::test
