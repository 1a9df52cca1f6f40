// SPDX-License-Identifier: MIT
#include "serial/descriptor_byte_source.h"

#include <poll.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

namespace quillmote {
namespace {

// True when `fd` became readable within one slice. The timeout is set afresh for
// every wait. select's fixed set cannot hold a descriptor at or past FD_SETSIZE
// (storing one would write past the set), so such a descriptor is waited on with poll.
bool waitReadable(int fd) {
  if (fd >= 0 && fd < FD_SETSIZE) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(fd, &readSet);
    timeval timeout{0, kWaitSliceMicroseconds};
    return select(fd + 1, &readSet, nullptr, nullptr, &timeout) > 0 && FD_ISSET(fd, &readSet);
  }
  pollfd watched{fd, POLLIN, 0};
  return poll(&watched, 1, static_cast<int>(kWaitSliceMicroseconds / 1000)) > 0 &&
         (watched.revents & POLLIN) != 0;
}

}  // namespace

int read_char(int fd, SerialThreadControl& control) {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    if (control.shouldExit()) return 0;
    control.serveBetweenBytes();
    Clock::time_point sliceStart = Clock::now();
    if (!waitReadable(fd)) continue;
    unsigned char byte = 0;
    ssize_t got = read(fd, &byte, 1);
    if (got < 0 && errno == EINTR) continue;  // a signal, not a dead line
    if (got != 1) {
      // End of file from a terminal is a hang-up; EIO and ENXIO are a device that is
      // gone. EAGAIN is neither: someone else took the byte.
      if (got == 0 || errno == EIO || errno == ENXIO || errno == ENODEV) {
        control.noteLineHungUp();
      }
      // A hung-up line reads as readable and then yields nothing, forever: wait out
      // the rest of the slice so it costs no CPU. The flag is still seen each slice.
      std::this_thread::sleep_until(sliceStart + std::chrono::microseconds(kWaitSliceMicroseconds));
      continue;
    }
    control.noteByteReceived();
    if (byte != 0) return static_cast<std::int8_t>(byte);
    // The device sends a zero byte to ask whether we are listening. A signal during the
    // write would lose the answer, so it is written again; a full or dead line is not
    // waited on.
    while (write(fd, &kZeroByteReply, 1) < 0 && errno == EINTR) {
    }
  }
}

int DescriptorByteSource::yy_read_char() {
  return static_cast<std::int8_t>(read_char(yy_fd, *yy_threadControl));
}

}  // namespace quillmote
