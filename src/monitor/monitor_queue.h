// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "monitor/monitor_record.h"

namespace quillmote {

// Hands records from the reader thread to a window that shows them when it can. Bounded:
// when the window falls behind, the oldest records go and are counted, so the reader
// thread never waits for the window. Both sides hold the lock only for a few stores:
// the drain swaps whole buffers, and the copying and the formatting happen outside it.
class MonitorQueue final : public MonitorSink {
 public:
  explicit MonitorQueue(std::size_t capacity = 16384);

  // Reader thread.
  void take(const MonitorRecord* records, std::size_t count) override;

  // The window's side: appends every waiting record, oldest first, to `records` and
  // returns how many were dropped since the last drain.
  std::uint64_t drain(std::vector<MonitorRecord>& records);

 private:
  struct Ring {
    std::vector<MonitorRecord> cells;
    std::size_t head = 0, size = 0;
  };

  std::mutex mutex_;
  Ring filling_, draining_;
  std::uint64_t dropped_ = 0;
};

}  // namespace quillmote
