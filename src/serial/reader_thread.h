// SPDX-License-Identifier: MIT
#pragma once

#include "serial/serial.h"

namespace quillmote {

// The start handshake, after a successful open: hands `fileDescriptor` to `control`,
// clears both flags and starts a detached reader thread running the interpreter.
// False when the system could not start a thread; nothing is running then.
bool startReaderThread(Serial& serial, SerialThreadControl& control, int fileDescriptor);

// The stop handshake: requests the stop, then waits until the reader thread reports
// done (within one wait slice of the byte feed plus the action in progress). Only
// then may the caller close the port.
void stopReaderThread(SerialThreadControl& control);

}  // namespace quillmote
