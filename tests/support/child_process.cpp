// SPDX-License-Identifier: MIT
#include "support/child_process.h"

#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <system_error>
#include <thread>

#include "support/wait.h"

extern char** environ;

namespace quillmote::test {

using namespace std::chrono;

// Delegates, so that a throw from the body runs the destructor, which cleans up.
ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, int passedDescriptor,
                           const std::string& input)
    : ChildProcess() {
  for (int* fd : {&inputFd_, &outputFd_, &errorFd_}) *fd = memfd_create("child", MFD_CLOEXEC);
  std::ofstream("/proc/self/fd/" + std::to_string(inputFd_), std::ios::binary) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inputFd_, 0);
  posix_spawn_file_actions_adddup2(&actions, outputFd_, 1);
  posix_spawn_file_actions_adddup2(&actions, errorFd_, 2);
  // A dup2 onto the same number clears close-on-exec, so this works in every case.
  if (passedDescriptor >= 0) {
    posix_spawn_file_actions_adddup2(&actions, passedDescriptor, kPassedDescriptor);
  }
  // env(1) sets the variables, then finds the program in PATH and becomes it.
  std::vector<std::string> words = {"env", "--"};
  words.insert(words.end(), environment.begin(), environment.end());
  words.insert(words.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  int error = posix_spawn(&pid, "/usr/bin/env", &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::system_error(error, std::generic_category(), "starting env");
  pid_ = pid;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  for (int fd : {inputFd_, outputFd_, errorFd_}) close(fd);
}

std::string ChildProcess::waitForExit(milliseconds timeout) {
  int status = 0;
  if (pid_ <= 0) return "already reaped";
  if (!waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
    return "still running after " + std::to_string(timeout.count()) + " ms";
  }
  pid_ = -1;
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  return "signal " + std::to_string(WTERMSIG(status));
}

// Opened anew through /proc, a file is read from its start while the child writes on.
std::string ChildProcess::contents(int fd) {
  std::ifstream file("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool ChildProcess::waitForText(const std::string& text, milliseconds timeout) const {
  auto holds = [&](const std::string& written) { return written.find(text) != text.npos; };
  return waitUntil([&] { return holds(output()) || holds(errorOutput()); }, timeout);
}

}  // namespace quillmote::test
