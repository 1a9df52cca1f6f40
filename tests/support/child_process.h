#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quillmote::test {

// A program started by a test or a benchmark. Its standard input and output are
// /dev/null; its standard error goes to an unlinked temporary file, so a chatty program
// never blocks on a full pipe and its messages can still be shown when something fails.
// A process still running when the object goes is killed, so nothing is left behind.
class ChildProcess {
 public:
  // The descriptor number under which `passedDescriptor` reaches the program.
  static constexpr int kPassedDescriptor = 3;

  // Starts `argv[0]` (looked up in PATH when it has no slash) with the environment of
  // this process, where each "NAME=value" of `environment` replaces or adds a variable.
  // `passedDescriptor`, when not -1, is handed to the program as kPassedDescriptor.
  // Throws std::runtime_error when the program cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {},
                        int passedDescriptor = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Sends a signal; false once the process has been reaped.
  bool sendSignal(int signalNumber);

  // True once the process has ended (reaped or not), false if it still runs after
  // `timeout`.
  bool waitUntilEnded(std::chrono::milliseconds timeout) const;

  // Waits for the end and reaps the process: "exit N" or "signal N", or, when it still
  // runs after `timeout`, kills it and says "still running after N ms".
  std::string waitForExit(std::chrono::milliseconds timeout);

  // What the program has written to its standard error so far.
  std::string errorOutput() const;

 private:
  pid_t pid_ = -1;
  int pidFd_ = -1;
  int errorFd_ = -1;
};

}  // namespace quillmote::test
