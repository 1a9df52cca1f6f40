// SPDX-License-Identifier: MIT
#include "serial/serial_thread_control.h"

#include <chrono>

namespace quillmote {

void SerialThreadControl::setExitWithFlag(bool flag) {
  {
    std::lock_guard<std::mutex> hold(serialThradLock);
    doExit.store(flag);
  }
  // Cleared outside the lock: at the start of a run no reader thread writes it any more.
  if (!flag) {
    isDone_.store(false);
    lineHungUp_.store(false);
  }
}

void SerialThreadControl::waitUntilAllDoneReturned() {
  std::lock_guard<std::mutex> hold(serialThradLock);
}

void SerialThreadControl::allDone() {
  std::lock_guard<std::mutex> hold(serialThradLock);
  isDone_.store(true);
}

bool SerialThreadControl::runBetweenBytes(const std::function<void()>& work) {
  std::unique_lock<std::mutex> hold(pauseLock_);
  pauseAsked_.store(true);
  // The reader thread says when it waits; its end says nothing here, so that is looked at
  // every few milliseconds.
  while (!readerPaused_ && !isDone()) pauseChanged_.wait_for(hold, std::chrono::milliseconds(5));
  const bool paused = readerPaused_;
  if (paused) work();
  pauseAsked_.store(false);
  pauseChanged_.notify_all();
  return paused;
}

void SerialThreadControl::waitWhilePaused() {
  std::unique_lock<std::mutex> hold(pauseLock_);
  readerPaused_ = true;
  pauseChanged_.notify_all();
  pauseChanged_.wait(hold, [this] { return !pauseAsked_.load(); });
  readerPaused_ = false;
}

}  // namespace quillmote
