// SPDX-License-Identifier: MIT
#include "tools/doctor_facts.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/backends.h"
#include "platform/layout/assumed_layout.h"
#include "platform/wayland/compositor_layout.h"
#include "platform/xtest/xtest_event_services.h"
#include "serial/serial.h"

namespace quillmote {
namespace {

// What the program, found on PATH and run without a shell, writes on its standard output;
// nothing when it cannot be run or does not exit with status 0.
std::optional<std::string> programOutput(std::vector<std::string> arguments) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  int spawnError = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  std::string output;
  char buffer[512];
  for (ssize_t got = 0; spawnError == 0;) {
    got = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (got > 0) {
      output.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  if (spawnError != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

}  // namespace

std::optional<std::string> SystemFacts::environment(const std::string& name) {
  // Read while the doctor runs alone: nothing in the program sets the environment.
  const char* value = std::getenv(name.c_str());  // NOLINT(concurrency-mt-unsafe)
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  return value;
}

std::optional<std::vector<std::string>> SystemFacts::serialPorts() {
  UdevSerialRegistry registry;
  SerialIterator iterator;
  if (createSerialIterator(registry, iterator) != kSerialSuccess) return std::nullopt;
  std::vector<std::string> paths;
  for (const SerialPortEntry& entry : iterator.entries) paths.push_back(entry.dialinDevice);
  return paths;
}

int SystemFacts::openError(const std::string& path) {
  int fileDescriptor = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fileDescriptor < 0) return errno;
  ::close(fileDescriptor);
  return 0;
}

std::optional<int> SystemFacts::latencyTimer(const std::string& path) {
  // A by-id link names the node; the node's name is the tty's name in sysfs. Only
  // ftdi_sio has the attribute.
  std::error_code error;
  std::filesystem::path node = std::filesystem::canonical(path, error);
  if (error) return std::nullopt;
  std::ifstream attribute("/sys/class/tty/" + node.filename().string() + "/device/latency_timer");
  int milliseconds = 0;
  if (!(attribute >> milliseconds)) return std::nullopt;
  return milliseconds;
}

std::optional<FileGroup> SystemFacts::fileGroup(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  FileGroup group{status.st_gid, ""};
  if (const struct group* entry = ::getgrgid(status.st_gid)) group.name = entry->gr_name;
  return group;
}

std::vector<gid_t> SystemFacts::sessionGroups() {
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<std::size_t>(std::max(count, 0)));
  groups.push_back(::getegid());
  return groups;
}

std::vector<gid_t> SystemFacts::databaseGroups() {
  const struct passwd* user = ::getpwuid(::getuid());
  if (user == nullptr) return {};
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  // A first call that finds the list too long says how long it is.
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return {};
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

std::vector<std::string> SystemFacts::processNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    // A process may end between the listing and the read; it is then simply not there.
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (std::getline(comm, name)) names.push_back(name);
  }
  return names;
}

bool SystemFacts::fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// dpkg's own tool, not its database files, whose layout is dpkg's private business.
std::optional<std::string> SystemFacts::packageStatus(const std::string& package) {
  return programOutput({"dpkg-query", "--show", "--showformat=${Status}\n", package});
}

LayoutFacts SystemFacts::keyboardLayout(BackendKind backend) {
  LayoutFacts facts;
  std::shared_ptr<const LayoutTable> table;
  if (backend == BackendKind::kXTest) {
    std::string error, warnings;
    auto xtest = XTestEventServices::open(nullptr, false, error, warnings);
    if (!xtest) return facts;  // the session's findings say why
    table = xtest->layoutTable();
    facts.layout = xtest->layoutDescription() + " (from the X server)";
  } else if (backend == BackendKind::kUInput) {
    DesktopEnvironment environment = DesktopEnvironment::ofThisProcess();
    std::unique_ptr<WaylandDesktop> compositor;
    std::string unreachable;
    if (environment.waylandDisplay) {
      compositor = WaylandDesktop::connect(environment.waylandDisplay->c_str(), unreachable);
    }
    if (!compositor) environment.waylandDisplay.reset();
    std::optional<CompositorLayout> followed;
    if (auto names = namedUInputLayout("", environment, kSystemKeyboardFile)) {
      table = compileLayout(*names, facts.error);
      facts.layout = describeLayout(*names) + " (from " + names->source + ")";
    } else if (table = followed
                           .emplace(*compositor,
                                    environment.currentDesktop && environment.currentDesktop->find(
                                                                      "GNOME") != std::string::npos
                                        ? DesktopLayoutRecord(gnomeInputSource)
                                        : DesktopLayoutRecord())
                           .current();
               table) {
      facts.layout =
          table->name() + " (from the Wayland compositor, " + followed->groupSource() + ")";
    }
    const std::string layoutLater = table || facts.layout.size()
                                        ? ""
                                        : "; keys are typed for the Wayland compositor's layout, "
                                          "which it tells once Quillmote's keyboard exists";
    DesktopBox area = compositor ? compositor->desktop() : DesktopBox{};
    std::optional<PointerMode> mode =
        choosePointerMode(std::nullopt, environment, area, facts.error);
    if (mode == PointerMode::kAbsolute) {
      facts.pointer = "absolute over " + std::to_string(area.width) + "x" +
                      std::to_string(area.height) + " (the Wayland compositor's outputs)";
    } else if (environment.pointer == "relative") {
      facts.pointer =
          "relative (QUILLMOTE_POINTER): moves go by steps, shaped by the desktop's "
          "acceleration";
    } else if (mode) {
      facts.pointer = "relative: no compositor tells the desktop's size, so moves go by steps";
    }
    facts.pointer += layoutLater;
  }
  if (table) {
    facts.notOnKeys = table->charactersNotOnKeys();
    facts.throughDeadKeys = table->charactersThroughDeadKeys();
  }
  return facts;
}

std::string SystemFacts::xtestStartError() {
  std::ostringstream unusedTrace;
  return startBackend(BackendKind::kXTest, unusedTrace).error;
}

}  // namespace quillmote
