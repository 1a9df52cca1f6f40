// SPDX-License-Identifier: MIT
#include "platform/uinput/device_opened.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quillmote {
namespace {

// Looks again at least this often when no open is announced (a node opened before it
// was watched announces nothing).
constexpr auto kLookInterval = std::chrono::milliseconds(50);

}  // namespace

bool heldByAnotherProcess(const std::string& node) {
  namespace fs = std::filesystem;
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename();
    if (pid == self || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
    std::error_code unreadable;  // another user's process, or one that just ended
    for (const fs::directory_entry& fd :
         fs::directory_iterator(process.path() / "fd", unreadable)) {
      std::error_code gone;
      if (fs::read_symlink(fd.path(), gone) == node) return true;
    }
  }
  return false;
}

bool waitUntilOpened(const std::vector<std::string>& nodes, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  for (const std::string& node : nodes) {
    if (watcher >= 0) inotify_add_watch(watcher, node.c_str(), IN_OPEN);
  }
  auto allHeld = [&] { return std::all_of(nodes.begin(), nodes.end(), heldByAnotherProcess); };
  bool held = allHeld();
  while (!held && std::chrono::steady_clock::now() < deadline) {
    pollfd opened{watcher, POLLIN, 0};
    if (poll(&opened, watcher >= 0 ? 1 : 0, static_cast<int>(kLookInterval.count())) > 0) {
      char events[4096];
      while (read(watcher, events, sizeof events) > 0) {
      }
    }
    held = allHeld();
  }
  if (watcher >= 0) close(watcher);
  return held;
}

}  // namespace quillmote
