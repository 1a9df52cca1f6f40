// Opening, configuring and closing a real terminal line (a pseudo-terminal), and
// every failure on the way reported in the system's words.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "interpreter/interpreter.h"
#include "serial/serial.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"
#include "support/recording_alerts.h"

namespace quillmote::test {
namespace {

int openDescriptorCount() {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  while (dirent* entry = readdir(directory)) count += entry->d_name[0] != '.';
  closedir(directory);
  return count;
}

std::string suffix() { return " " + developerContactSuffix(); }

class NoPorts final : public SerialRegistry {
 public:
  RegistryQuery querySerialPorts() override { return {}; }
};

// A Serial with everything it needs, alerts recorded.
struct SerialUnderTest {
  TracedInterpreter traced;
  NoPorts registry;
  RecordingAlerts alerts;
  Serial serial{alerts, traced.interpreter(), registry};
};

TEST(SerialOpen, missing_path_reports_the_system_error_and_opens_nothing) {
  SerialUnderTest s;
  int before = openDescriptorCount();
  EXPECT_EQ(s.serial.openSerialPortWithPath("/dev/no-such-port", 9600), -1);
  EXPECT_EQ(s.alerts.shown, std::vector<std::string>{
                                "Internal Error: Error opening serial port /dev/no-such-port - "
                                "No such file or directory(2)." + suffix()});
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SerialOpen, a_file_that_is_no_terminal_is_refused_and_closed) {
  SerialUnderTest s;
  int before = openDescriptorCount();
  EXPECT_EQ(s.serial.openSerialPortWithPath("/dev/null", 9600), -1);
  EXPECT_EQ(s.alerts.shown, std::vector<std::string>{
                                "Internal Error: Error setting TIOCEXCL on /dev/null - "
                                "Inappropriate ioctl for device(25)." + suffix()});
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SerialOpen, a_rate_without_a_speed_code_is_refused_where_settings_are_applied) {
  PseudoTerminal line;
  SerialUnderTest s;
  int before = openDescriptorCount();
  EXPECT_EQ(s.serial.openSerialPortWithPath(line.portPath().c_str(), 12345), -1);
  EXPECT_EQ(s.alerts.shown,
            std::vector<std::string>{"Internal Error: Error setting tty attributes " +
                                     line.portPath() + " - Invalid argument(22)." + suffix()});
  EXPECT_EQ(openDescriptorCount(), before);
}

struct RateCase {
  int baud;
  speed_t code;
};

class SerialOpenRates : public testing::TestWithParam<RateCase> {};

// Raw 8-bit input in which no byte has a meaning of its own, the driver sending XOFF
// and XON, and never CTS flow control on our output.
TEST_P(SerialOpenRates, configures_a_raw_line_at_the_rate) {
  PseudoTerminal line;
  SerialUnderTest s;
  int fd = s.serial.openSerialPortWithPath(line.portPath().c_str(), GetParam().baud);
  ASSERT_GT(fd, 0) << testing::PrintToString(s.alerts.shown);

  termios settings{};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  EXPECT_EQ(cfgetispeed(&settings), GetParam().code);
  EXPECT_EQ(cfgetospeed(&settings), GetParam().code);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(settings.c_cflag & CREAD);
  EXPECT_TRUE(settings.c_cflag & CLOCAL);
  EXPECT_FALSE(settings.c_cflag & CRTSCTS);
  EXPECT_TRUE(settings.c_iflag & IXOFF);
  EXPECT_FALSE(settings.c_iflag & (IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT));
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(settings.c_oflag & OPOST);
  EXPECT_EQ(settings.c_cc[VSTART], 0x11);
  EXPECT_EQ(settings.c_cc[VSTOP], 0x13);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);

  s.serial.closeSerialPortWithDescriptor(fd);
  EXPECT_TRUE(s.alerts.shown.empty()) << testing::PrintToString(s.alerts.shown);
}

INSTANTIATE_TEST_SUITE_P(EveryAllowedRate, SerialOpenRates,
                         testing::Values(RateCase{300, B300}, RateCase{600, B600},
                                         RateCase{1200, B1200}, RateCase{2400, B2400},
                                         RateCase{4800, B4800}, RateCase{9600, B9600},
                                         RateCase{19200, B19200}));

TEST(SerialClose, puts_the_saved_settings_back) {
  PseudoTerminal line;
  termios before{};
  ASSERT_EQ(tcgetattr(line.portFd(), &before), 0);
  before.c_lflag |= ICANON | ECHO;  // something raw mode must change
  cfsetspeed(&before, B38400);
  ASSERT_EQ(tcsetattr(line.portFd(), TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(line.portFd(), &before), 0);

  SerialUnderTest s;
  int fd = s.serial.openSerialPortWithPath(line.portPath().c_str(), 2400);
  ASSERT_GT(fd, 0);
  termios during{};
  ASSERT_EQ(tcgetattr(line.portFd(), &during), 0);
  EXPECT_FALSE(during.c_lflag & ICANON);
  s.serial.closeSerialPortWithDescriptor(fd);

  termios after{};
  ASSERT_EQ(tcgetattr(line.portFd(), &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetispeed(&after), B38400);
  EXPECT_TRUE(s.alerts.shown.empty());
}

// Opens `path` as the unprivileged user "nobody" in a child process (root ignores the
// exclusive flag) and returns the child's errno, or 0 when the open succeeded.
int openAsUnprivilegedUser(const std::string& path) {
  pid_t child = fork();
  if (child == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// While the port is open nobody else can open it; once closed, it can be opened again
// at once, as the next start of translation does.
TEST(SerialOpen, holds_the_port_exclusively_until_closed) {
  PseudoTerminal line;
  if (getuid() == 0) {
    ASSERT_EQ(chown(line.portPath().c_str(), 65534, 65534), 0);
  }
  SerialUnderTest s;
  int fd = s.serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
  ASSERT_GT(fd, 0);
  EXPECT_EQ(openAsUnprivilegedUser(line.portPath()), EBUSY);
  s.serial.closeSerialPortWithDescriptor(fd);
  EXPECT_EQ(openAsUnprivilegedUser(line.portPath()), 0);

  int again = s.serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
  EXPECT_GT(again, 0);
  s.serial.closeSerialPortWithDescriptor(again);
  EXPECT_TRUE(s.alerts.shown.empty()) << testing::PrintToString(s.alerts.shown);
}

// A line whose device has gone: the close reports each failing step and still closes.
TEST(SerialClose, a_hung_up_line_is_still_closed) {
  PseudoTerminal line;
  SerialUnderTest s;
  int fd = s.serial.openSerialPortWithPath(line.portPath().c_str(), 9600);
  ASSERT_GT(fd, 0);
  line.hangUp();
  int before = openDescriptorCount();
  s.serial.closeSerialPortWithDescriptor(fd);
  EXPECT_EQ(openDescriptorCount(), before - 1);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  // Linux fails both the drain and the restore of a hung-up line with EIO.
  EXPECT_EQ(s.alerts.shown,
            (std::vector<std::string>{
                "Internal Error: Error waiting for drain - Input/output error(5)." + suffix(),
                "Internal Error: Error resetting tty attributes - Input/output error(5)." +
                    suffix()}));
}

}  // namespace
}  // namespace quillmote::test
