// SPDX-License-Identifier: MIT
#include "platform/uinput/device_opened.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <set>

namespace quillmote {

bool waitUntilOpened(const std::vector<std::string>& nodes, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watcher < 0) return false;
  std::set<int> waiting;
  for (const std::string& node : nodes) {
    int watch = inotify_add_watch(watcher, node.c_str(), IN_OPEN);
    if (watch >= 0) waiting.insert(watch);
  }
  const bool watched = waiting.size() == nodes.size();
  while (watched && !waiting.empty()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{watcher, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count()) + 1) <= 0) break;
    alignas(inotify_event) char events[4096];
    ssize_t length = read(watcher, events, sizeof events);
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      if ((event->mask & IN_OPEN) != 0) waiting.erase(event->wd);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(watcher);
  return watched && waiting.empty();
}

}  // namespace quillmote
