// SPDX-License-Identifier: MIT
// Open, configure and close of the serial line.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "serial/line_speeds.h"
#include "serial/serial.h"

namespace quillmote {
namespace {

// "%s(%d)" of the error number, taken by the caller right after the failing call.
std::string systemError(int errorNumber) {
  // The category's message is strerror's text, made without strerror's shared buffer.
  return std::generic_category().message(errorNumber) + "(" + std::to_string(errorNumber) + ")";
}

// USB serial adapters otherwise hold received bytes for up to 16 ms. Not every
// driver knows the request (a pseudo-terminal does not); then nothing changes. The
// flags the port had, to be put back at close; nothing when the driver has none.
std::optional<int> requestLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
  int original = serial.flags;
  if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }
  return original;
}

// The low-latency flag outlives the close in the driver (an FTDI adapter keeps its 1 ms
// latency timer), so it is given back as the line's other settings are.
void restoreSerialFlags(int fd, int flags) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.flags == flags) return;
  serial.flags = flags;
  ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace

int Serial::openSerialPortWithPath(const char* path, int baud) {
  // O_NOCTTY: without it the port would become the controlling terminal of a process
  // that has none, and unplugging the adapter would then kill us with SIGHUP.
  // Shows why a step failed, with the error number taken right after it, then closes
  // whatever is open: the device keeps the settings it had.
  auto refuse = [this, path](const char* failedStep, int error, int openDescriptor) {
    alerts_.criticalAlert(failedStep + std::string(path) + " - " + systemError(error) + ".");
    if (openDescriptor >= 0) close(openDescriptor);
    return -1;
  };
  int fd = open(path, O_RDWR | O_NONBLOCK | O_NOCTTY);
  if (fd == -1) return refuse("Error opening serial port ", errno, -1);
  if (ioctl(fd, TIOCEXCL) == -1) return refuse("Error setting TIOCEXCL on ", errno, fd);
  if (tcgetattr(fd, &gOriginalTTYAttrs) == -1) {
    return refuse("Error getting tty attributes ", errno, fd);
  }

  termios options = gOriginalTTYAttrs;
  cfmakeraw(&options);
  std::optional<speed_t> speed = speedCode(baud);
  if (speed) cfsetspeed(&options, *speed);
  // The driver sends XOFF and XON to the device as its input queue fills and drains;
  // IXON stays off, so those bytes arriving from the device are data.
  options.c_iflag |= IXOFF;
  options.c_cc[VSTART] = 0x11;
  options.c_cc[VSTOP] = 0x13;
  // Linux has no RTS-only input flow control, and CRTSCTS would also stop our output
  // whenever CTS is low: with a device that does not drive CTS, replies would wait
  // and the drain at close would never end. RTS is asserted below instead.
  options.c_cflag |= CS8 | CREAD | CLOCAL;
  options.c_cflag &= ~CRTSCTS;

  // A rate with no speed code would leave the line at its old rate unnoticed: refuse
  // it where the driver refuses settings.
  if (!speed) return refuse("Error setting tty attributes ", EINVAL, fd);
  if (tcsetattr(fd, TCSANOW, &options) == -1) {
    return refuse("Error setting tty attributes ", errno, fd);
  }
  int rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &rts);  // a line without modem control has no RTS to raise
  originalSerialFlags_ = requestLowLatency(fd);
  return fd;
}

void Serial::closeSerialPortWithDescriptor(int fileDescriptor, bool deviceGone) {
  if (tcdrain(fileDescriptor) == -1 && !deviceGone) {
    int error = errno;
    alerts_.criticalAlert("Error waiting for drain - " + systemError(error) + ".");
  }
  if (tcsetattr(fileDescriptor, TCSANOW, &gOriginalTTYAttrs) == -1 && !deviceGone) {
    int error = errno;
    alerts_.criticalAlert("Error resetting tty attributes - " + systemError(error) + ".");
  }
  if (originalSerialFlags_) restoreSerialFlags(fileDescriptor, *originalSerialFlags_);
  // On a pseudo-terminal the exclusive flag outlives the close while the other end
  // stays open, and the next start would fail.
  ioctl(fileDescriptor, TIOCNXCL);
  close(fileDescriptor);
}

}  // namespace quillmote
