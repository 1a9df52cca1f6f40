// `quillmote-cli run` and `quillmote-cli ports`, the real binary end to end: a
// pseudo-terminal plays the device, the program's standard streams are captured.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/alerts.h"
#include "support/interpreter_harness.h"
#include "support/pseudo_terminal.h"

extern char** environ;

namespace quillmote {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::notation;
using test::withoutComments;

// Generous, for sanitizer builds too: these bound waits, they do not measure speed.
constexpr auto kPatience = 5s;

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// quillmote-cli running with its standard output and error on pipes. A process still
// running when the object goes is killed, so a failed test leaves nothing behind.
class CliProcess {
 public:
  // Runs quillmote-cli, or `program` with `args` when another program starts it.
  explicit CliProcess(const std::vector<std::string>& args,
                      const char* program = QUILLMOTE_CLI) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2: " << std::strerror(errno);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int spawnError = posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (spawnError != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawnError);
      pid_ = -1;
      return;
    }
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd_ < 0) ADD_FAILURE() << "pidfd_open: " << std::strerror(errno);
  }

  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {outFd_, errFd_, pidFd_}) {
      if (fd >= 0) close(fd);
    }
  }

  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // True once standard output, without trace comments, is `expected`; false after
  // `timeout`, with whatever came by then in out().
  bool waitForOutput(const std::string& expected, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (withoutComments(out_) != expected) {
      pollfd watched{outFd_, POLLIN, 0};
      if (poll(&watched, 1, millisecondsUntil(deadline)) <= 0 || !readSome(outFd_, out_)) {
        return false;
      }
    }
    return true;
  }

  // True once standard error holds `fragment` `times` times; false after `timeout`.
  bool waitForError(const std::string& fragment, int times, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto count = [this, &fragment] {
      int found = 0;
      for (auto at = err_.find(fragment); at != std::string::npos;
           at = err_.find(fragment, at + 1)) {
        ++found;
      }
      return found;
    };
    while (count() < times) {
      pollfd watched{errFd_, POLLIN, 0};
      if (poll(&watched, 1, millisecondsUntil(deadline)) <= 0 || !readSome(errFd_, err_)) {
        return false;
      }
    }
    return true;
  }

  void sendSignal(int signalNumber) { ASSERT_EQ(kill(pid_, signalNumber), 0); }

  // The exit status once the program has ended and closed its streams; -1 if it ended
  // by a signal or was still running after `timeout` (it is killed then).
  int waitForExit(std::chrono::milliseconds timeout) {
    pollfd exited{pidFd_, POLLIN, 0};
    bool ended = pid_ > 0 && poll(&exited, 1, static_cast<int>(timeout.count())) == 1;
    if (pid_ > 0 && !ended) kill(pid_, SIGKILL);
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    while (readSome(outFd_, out_)) {
    }
    while (readSome(errFd_, err_)) {
    }
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Appends what one read returns; false at end of stream or on error.
  static bool readSome(int fd, std::string& into) {
    char chunk[4096];
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int pidFd_ = -1;
  std::string out_;
  std::string err_;
};

TEST(RunCommand, translates_live_and_stops_cleanly_on_signal) {
  for (int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(stopSignal));
    test::PseudoTerminal line;
    CliProcess cli({"run", "--port", line.portPath(), "--baud", "9600", "--backend", "trace"});

    // The reply also proves the reader thread runs, and the stop signals are taken.
    line.send(bytes("{NUL}"));
    ASSERT_EQ(notation(line.waitForDeviceBytes(1, kPatience)), notation("\x11"))
        << "the zero byte was not answered";
    line.send(bytes("{ESC},hold,shift.a"));
    const std::string events = "key 56 down\nkey 0 down\nkey 0 up\nkey 56 up\n";
    EXPECT_TRUE(cli.waitForOutput(events, kPatience)) << "printed so far:\n" << cli.out();

    cli.sendSignal(stopSignal);
    ASSERT_EQ(cli.waitForExit(kPatience), 0) << cli.err();
    EXPECT_EQ(withoutComments(cli.out()), events);
    EXPECT_TRUE(cli.err().ends_with("Stopped.\n")) << cli.err();
    EXPECT_EQ(cli.err().find("Internal Error"), std::string::npos) << cli.err();
  }
}

// The port is a link, as /dev/serial/by-id names are: a pseudo-terminal whose device end
// closes is the unplug, the link going away is the device node going, and a new
// pseudo-terminal behind the same link is the device plugged in again.
TEST(RunCommand, reconnect_waits_for_the_port_and_goes_on_after_an_unplug) {
  char directory[] = "/tmp/quillmote-reconnect-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string port = std::string(directory) + "/port";
  CliProcess cli({"run", "--reconnect", "--port", port, "--baud", "9600", "--backend",
                  "trace"});
  const std::string translating = "Translating " + port + " at 9600 bit/s";
  ASSERT_TRUE(cli.waitForError("Waiting for " + port + "\n", 1, kPatience)) << cli.err();

  auto first = std::make_unique<test::PseudoTerminal>();
  ASSERT_EQ(symlink(first->portPath().c_str(), port.c_str()), 0);
  ASSERT_TRUE(cli.waitForError(translating, 1, kPatience)) << cli.err();
  first->send(bytes("{ESC},lock,shift.a"));
  std::string events = "key 56 down\nkey 0 down\nkey 0 up\n";
  ASSERT_TRUE(cli.waitForOutput(events, kPatience)) << cli.out();

  first->hangUp();
  ASSERT_TRUE(cli.waitForError("Device gone, waiting for " + port + "\n", 1, kPatience))
      << cli.err();
  // The locked shift is let up: the device that locked it is gone.
  events += "key 56 up\n";
  EXPECT_TRUE(cli.waitForOutput(events, kPatience)) << cli.out();
  ASSERT_EQ(unlink(port.c_str()), 0);

  test::PseudoTerminal second;
  ASSERT_EQ(symlink(second.portPath().c_str(), port.c_str()), 0);
  ASSERT_TRUE(cli.waitForError(translating, 2, kPatience)) << cli.err();
  second.send(bytes("b"));
  events += "key 11 down\nkey 11 up\n";
  EXPECT_TRUE(cli.waitForOutput(events, kPatience)) << cli.out();

  cli.sendSignal(SIGTERM);
  EXPECT_EQ(cli.waitForExit(kPatience), 0) << cli.err();
  // The drain and restore on the vanished line fail; after an unplug that is no news.
  EXPECT_EQ(cli.err().find("Internal Error"), std::string::npos) << cli.err();
  EXPECT_TRUE(cli.err().ends_with("Stopped.\n")) << cli.err();
  unlink(port.c_str());
  rmdir(directory);
}

TEST(RunCommand, port_that_fails_to_open_is_reported_with_status_1) {
  CliProcess cli({"run", "--port", "/no/such", "--baud", "9600", "--backend", "trace"});
  ASSERT_EQ(cli.waitForExit(kPatience), 1) << cli.err();
  EXPECT_EQ(cli.err(),
            std::string("Internal Error: Error opening serial port /no/such - No such file "
                        "or directory(2). Please notify the developer (") +
                kDeveloperContactAddress + ").\n");
  EXPECT_EQ(cli.out(), "");
}

// The first thing many people meet: a port they may not open. The program is run as a
// user without rights to the port (nobody, when the tests run as root, who may open
// anything), from a copy that user may execute.
TEST(RunCommand, port_refused_for_lack_of_permission_shows_the_open_alert_verbatim) {
  test::PseudoTerminal line;
  ASSERT_EQ(chmod(line.portPath().c_str(), 0), 0);
  std::vector<std::string> args{"run", "--port", line.portPath(), "--backend", "trace"};
  char directory[] = "/tmp/quillmote-refused-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string copy = std::string(directory) + "/quillmote-cli";
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(directory, 0755), 0);
    ASSERT_EQ(std::system(("cp " + std::string(QUILLMOTE_CLI) + " " + copy).c_str()), 0);
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", copy});
  }
  CliProcess cli(args, geteuid() == 0 ? "/usr/bin/setpriv" : QUILLMOTE_CLI);
  EXPECT_EQ(cli.waitForExit(kPatience), 1) << cli.err();
  EXPECT_EQ(cli.err(), "Internal Error: Error opening serial port " + line.portPath() +
                           " - Permission denied(13). Please notify the developer (" +
                           kDeveloperContactAddress + ").\n");
  unlink(copy.c_str());
  rmdir(directory);
}

TEST(RunCommand, usage_errors_exit_2_before_opening_the_port) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* mentioned;
  };
  // The port does not exist: an open attempt would end with status 1 and its alert.
  const Case cases[] = {
      {"rate_not_allowed",
       {"run", "--port", "/no/such", "--baud", "1234"},
       "1234 is not a rate Quillmote uses; allowed: 300, 600, 1200, 2400, 4800, 9600, 19200"},
      {"port_missing", {"run", "--baud", "9600"}, "--port"},
      {"unknown_backend", {"run", "--port", "/no/such", "--backend", "bogus"}, "bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CliProcess cli(c.args);
    ASSERT_EQ(cli.waitForExit(kPatience), 2) << cli.err();
    EXPECT_NE(cli.err().find(c.mentioned), std::string::npos) << cli.err();
    EXPECT_EQ(cli.err().find("Internal Error"), std::string::npos) << cli.err();
    EXPECT_EQ(cli.out(), "");
  }
}

TEST(PortsCommand, lists_only_character_devices_that_exist) {
  CliProcess cli({"ports"});
  ASSERT_EQ(cli.waitForExit(kPatience), 0) << cli.err();
  if (cli.out() == "No serial ports found.\n") GTEST_SKIP() << "this machine has no ports";
  std::istringstream lines(cli.out());
  int listed = 0;
  for (std::string entry; std::getline(lines, entry); ++listed) {
    SCOPED_TRACE(entry);
    std::size_t first = entry.find('\t');
    ASSERT_NE(first, std::string::npos) << "no path field";
    std::string path = entry.substr(first + 1, entry.find('\t', first + 1) - first - 1);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << path << " is not a character device";
  }
  EXPECT_GT(listed, 0) << "neither ports nor \"No serial ports found.\"";
}

}  // namespace
}  // namespace quillmote
