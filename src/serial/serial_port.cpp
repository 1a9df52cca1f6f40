// SPDX-License-Identifier: MIT
// Open, configure and close of the serial line.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "serial/serial.h"

namespace quillmote {
namespace {

// "%s(%d)" of the error number, taken by the caller right after the failing call.
std::string systemError(int errorNumber) {
  return std::string(std::strerror(errorNumber)) + "(" + std::to_string(errorNumber) + ")";
}

// glibc also takes the plain number, other C libraries do not.
bool speedCode(int baud, speed_t& code) {
  switch (baud) {
    case 50: code = B50; return true;
    case 75: code = B75; return true;
    case 110: code = B110; return true;
    case 134: code = B134; return true;
    case 150: code = B150; return true;
    case 200: code = B200; return true;
    case 300: code = B300; return true;
    case 600: code = B600; return true;
    case 1200: code = B1200; return true;
    case 1800: code = B1800; return true;
    case 2400: code = B2400; return true;
    case 4800: code = B4800; return true;
    case 9600: code = B9600; return true;
    case 19200: code = B19200; return true;
    case 38400: code = B38400; return true;
    case 57600: code = B57600; return true;
    case 115200: code = B115200; return true;
    case 230400: code = B230400; return true;
  }
  return false;
}

// USB serial adapters otherwise hold received bytes for up to 16 ms. Not every
// driver knows the request (a pseudo-terminal does not); then nothing changes.
void requestLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }
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
  speed_t speed = B0;
  bool rateKnown = speedCode(baud, speed);
  if (rateKnown) cfsetspeed(&options, speed);
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
  if (!rateKnown) return refuse("Error setting tty attributes ", EINVAL, fd);
  if (tcsetattr(fd, TCSANOW, &options) == -1) {
    return refuse("Error setting tty attributes ", errno, fd);
  }
  int rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &rts);  // a line without modem control has no RTS to raise
  requestLowLatency(fd);
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
  // On a pseudo-terminal the exclusive flag outlives the close while the other end
  // stays open, and the next start would fail.
  ioctl(fileDescriptor, TIOCNXCL);
  close(fileDescriptor);
}

}  // namespace quillmote
