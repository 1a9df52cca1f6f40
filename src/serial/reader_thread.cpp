// SPDX-License-Identifier: MIT
#include "serial/reader_thread.h"

#include <system_error>
#include <thread>

#include "interpreter/interpreter.h"
#include "serial/descriptor_byte_source.h"

namespace quillmote {

void Serial::quillmoteWithThreadControl(SerialThreadControl& control) {
  // Read once: a descriptor set after the thread started is not this run's.
  int fileDescriptor = control.getFileDescriptorId();
  DescriptorByteSource feed(fileDescriptor, control);
  interpreter_.do_quillmote(feed);
  control.allDone();
}

bool startReaderThread(Serial& serial, SerialThreadControl& control, int fileDescriptor) {
  control.setFileDescriptorId(fileDescriptor);
  control.setExitWithFlag(false);
  try {
    std::thread([&serial, &control] { serial.quillmoteWithThreadControl(control); }).detach();
  } catch (const std::system_error&) {
    // No thread will ever report done: say so, or the next stop would wait forever.
    control.allDone();
    return false;
  }
  return true;
}

void stopReaderThread(SerialThreadControl& control) {
  control.setExitWithFlag(true);
  while (!control.isDone()) std::this_thread::yield();
  control.waitUntilAllDoneReturned();
}

}  // namespace quillmote
