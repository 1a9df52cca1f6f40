// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace quillmote {

// Where the user-interface thread and the reader thread meet. The lock is held only
// around the two flag stores; the flags are read without it, so they are atomic and
// every read sees the latest store. One object serves every run.
class SerialThreadControl {
 public:
  SerialThreadControl() = default;

  // Written before the reader thread starts; the thread start orders it.
  void setFileDescriptorId(std::int32_t fileDescriptor) { fileDescriptorId = fileDescriptor; }
  std::int32_t getFileDescriptorId() const { return fileDescriptorId; }

  // True once a stop has been requested.
  bool shouldExit() const { return doExit.load(); }

  // true requests the stop and leaves isDone alone; false prepares a new run by
  // clearing both flags.
  void setExitWithFlag(bool flag);

  // The reader thread saw the line hang up (the device was unplugged, or the other end
  // of a pseudo-terminal closed). The thread goes on waiting for a stop; whoever watches
  // for unplugged devices reads this. Cleared at the start of each run.
  void noteLineHungUp() { lineHungUp_.store(true); }
  bool lineHungUp() const { return lineHungUp_.load(); }

  // The feed received a byte; how many so far, for whoever shows when the last one came.
  // A counter rather than a clock: reading a clock at every byte would cost more than the
  // byte's interpretation. Written by the reader thread alone.
  void noteByteReceived() {
    bytesReceived_.store(bytesReceived_.load(std::memory_order_relaxed) + 1,
                         std::memory_order_relaxed);
  }
  std::uint64_t bytesReceived() const { return bytesReceived_.load(std::memory_order_relaxed); }

  // Runs `work` on the calling thread while the reader thread waits at its next look for
  // a byte, which comes within one wait slice: the scanner keeps its state, so a command
  // the device is halfway through goes on afterwards as it would have. False, with the
  // work not run, when the reader thread has ended (or never ran) this run.
  bool runBetweenBytes(const std::function<void()>& work);
  // The reader thread's side, at each look for a byte: waits there while such work runs.
  void serveBetweenBytes() {
    if (pauseAsked_.load()) waitWhilePaused();
  }

  // The reader thread has finished the interpreter for this run.
  void allDone();
  bool isDone() const { return isDone_.load(); }

  // After isDone has answered true: returns once the reader thread has left allDone,
  // which still releases the lock after the flag is visible. From then on the reader
  // thread touches the object no more, and it may be destroyed.
  void waitUntilAllDoneReturned();

 private:
  std::int32_t fileDescriptorId = 0;
  std::mutex serialThradLock;
  std::atomic<bool> doExit{false};
  std::atomic<bool> isDone_{false};
  std::atomic<bool> lineHungUp_{false};
  std::atomic<std::uint64_t> bytesReceived_{0};
  void waitWhilePaused();
  std::mutex pauseLock_;
  std::condition_variable pauseChanged_;
  std::atomic<bool> pauseAsked_{false};
  bool readerPaused_ = false;  // under pauseLock_
};

}  // namespace quillmote
