#include "tools/doctor_facts.h"

#include "platform/layout/assumed_layout.h"
#include "platform/xtest/xtest_event_services.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/backends.h"
#include "serial/serial.h"

namespace quillmote {

std::optional<std::string> SystemFacts::environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
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

std::optional<std::string> SystemFacts::fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
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
    LayoutNames names = assumeLayout("", std::getenv("QUILLMOTE_LAYOUT"), kSystemKeyboardFile);
    table = compileLayout(names, facts.error);
    facts.layout = describeLayout(names) + " (from " + names.source + ")";
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
