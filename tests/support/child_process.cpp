#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quillmote::test {

using std::chrono::milliseconds;

// Delegates, so that a throw from the body runs the destructor, which cleans up.
ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, int passedDescriptor,
                           const std::string& inputPath)
    : ChildProcess() {
  auto fail = [](const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
  };
  outputFd_ = memfd_create("child-stdout", MFD_CLOEXEC);
  errorFd_ = memfd_create("child-stderr", MFD_CLOEXEC);
  if (outputFd_ < 0 || errorFd_ < 0) fail("memfd_create", errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outputFd_, 1);
  posix_spawn_file_actions_adddup2(&actions, errorFd_, 2);
  // A dup2 onto the same number clears close-on-exec, so this works in every case.
  if (passedDescriptor >= 0) {
    posix_spawn_file_actions_adddup2(&actions, passedDescriptor, kPassedDescriptor);
  }
  std::vector<std::string> args = argv, env = environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string name(*variable, std::strcspn(*variable, "=") + 1);
    if (std::ranges::none_of(env, [&](auto& change) { return change.starts_with(name); })) {
      env.emplace_back(*variable);
    }
  }
  auto pointersTo = [](std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
  };
  int error = posix_spawnp(&pid_, args.at(0).c_str(), &actions, nullptr, pointersTo(args).data(),
                           pointersTo(env).data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    fail("cannot start " + argv[0], error);
  }
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) fail("pidfd_open", errno);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {pidFd_, outputFd_, errorFd_}) {
    if (fd >= 0) close(fd);
  }
}

bool ChildProcess::sendSignal(int signalNumber) {
  return pid_ > 0 && kill(pid_, signalNumber) == 0;
}

bool ChildProcess::waitUntilEnded(milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (pollfd ended{pidFd_, POLLIN, 0}; pid_ > 0;) {
    auto left = std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now());
    int ready = poll(&ended, 1, static_cast<int>(std::max<long>(left.count(), 0)));
    if (ready >= 0 || errno != EINTR) return ready == 1;
  }
  return true;
}

std::string ChildProcess::waitForExit(milliseconds timeout) {
  if (pid_ <= 0) return "already reaped";
  bool ended = waitUntilEnded(timeout);
  if (!ended) kill(pid_, SIGKILL);
  int status = 0;
  pid_t reaped = waitpid(pid_, &status, 0);
  pid_ = -1;
  if (!ended) return "still running after " + std::to_string(timeout.count()) + " ms";
  if (reaped < 0) return std::string("waitpid: ") + std::strerror(errno);
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  return "signal " + std::to_string(WTERMSIG(status));
}

std::string ChildProcess::contents(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

bool ChildProcess::waitForText(const std::string& text, milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto written = [&] {
    return output().find(text) != std::string::npos ||
           errorOutput().find(text) != std::string::npos;
  };
  // A file gives no sign when it grows: look again every few milliseconds.
  while (!written()) {
    if (waitUntilEnded(milliseconds(10))) return written();
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

}  // namespace quillmote::test
