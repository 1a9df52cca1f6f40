#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quillmote::test {
namespace {

std::string nameOf(const std::string& assignment) {
  return assignment.substr(0, assignment.find('='));
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> merged;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string assignment = *variable;
    bool replaced = false;
    for (const std::string& change : changes) replaced |= nameOf(change) == nameOf(assignment);
    if (!replaced) merged.push_back(std::move(assignment));
  }
  merged.insert(merged.end(), changes.begin(), changes.end());
  return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment, int passedDescriptor) {
  errorFd_ = memfd_create("child-stderr", MFD_CLOEXEC);
  if (errorFd_ < 0) throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errorFd_, 2);
  // A dup2 onto the same number clears close-on-exec, so this works in every case.
  if (passedDescriptor >= 0) {
    posix_spawn_file_actions_adddup2(&actions, passedDescriptor, kPassedDescriptor);
  }
  std::vector<std::string> argStrings = argv;
  std::vector<std::string> envStrings = mergedEnvironment(environment);
  std::vector<char*> args = pointersTo(argStrings);
  std::vector<char*> env = pointersTo(envStrings);
  int spawnError = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    close(errorFd_);
    pid_ = -1;
    throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(spawnError));
  }
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) {
    int error = errno;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(errorFd_);
    throw std::runtime_error(std::string("pidfd_open: ") + std::strerror(error));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (pidFd_ >= 0) close(pidFd_);
  if (errorFd_ >= 0) close(errorFd_);
}

bool ChildProcess::sendSignal(int signalNumber) {
  return pid_ > 0 && kill(pid_, signalNumber) == 0;
}

bool ChildProcess::waitUntilEnded(std::chrono::milliseconds timeout) const {
  if (pid_ <= 0) return true;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ended{pidFd_, POLLIN, 0};
    int ready = poll(&ended, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready >= 0 || errno != EINTR) return ready == 1;
  }
}

std::string ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
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

std::string ChildProcess::errorOutput() const {
  std::string text;
  char chunk[4096];
  for (off_t offset = 0;;) {
    ssize_t got = pread(errorFd_, chunk, sizeof chunk, offset);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

}  // namespace quillmote::test
