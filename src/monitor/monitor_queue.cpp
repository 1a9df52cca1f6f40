// SPDX-License-Identifier: MIT
#include "monitor/monitor_queue.h"

#include <utility>

namespace quillmote {

MonitorQueue::MonitorQueue(std::size_t capacity) {
  filling_.cells.resize(capacity == 0 ? 1 : capacity);
  draining_.cells.resize(filling_.cells.size());
}

void MonitorQueue::take(const MonitorRecord* records, std::size_t count) {
  std::lock_guard<std::mutex> hold(mutex_);
  Ring& ring = filling_;
  std::size_t capacity = ring.cells.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (ring.size == capacity) {
      ring.cells[ring.head] = records[i];  // the oldest makes room
      ring.head = (ring.head + 1) % capacity;
      ++dropped_;
    } else {
      ring.cells[(ring.head + ring.size) % capacity] = records[i];
      ++ring.size;
    }
  }
}

std::uint64_t MonitorQueue::drain(std::vector<MonitorRecord>& records) {
  std::uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    std::swap(filling_, draining_);
    filling_.head = 0;
    filling_.size = 0;
    dropped = std::exchange(dropped_, 0);
  }
  // Only this side touches the drained ring until the next drain swaps it back.
  for (std::size_t i = 0; i < draining_.size; ++i) {
    records.push_back(draining_.cells[(draining_.head + i) % draining_.cells.size()]);
  }
  return dropped;
}

}  // namespace quillmote
