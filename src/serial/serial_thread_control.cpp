// SPDX-License-Identifier: MIT
#include "serial/serial_thread_control.h"

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

}  // namespace quillmote
