// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/backends.h"

namespace quillmote {

// The keyboard layout a backend types for.
struct LayoutFacts {
  std::string layout;           // as people know it, and where it came from
  std::string notOnKeys;        // printable characters that no key of it types
  std::string throughDeadKeys;  // those of them a dead key and a space give
  std::string error;            // why the layout cannot be found, if it cannot
  std::string pointer;          // uinput: how the pointer moves and over what
};

// The group that owns a file.
struct FileGroup {
  gid_t id = 0;
  std::string name;  // empty when the group database does not name it
};

// Everything `quillmote-cli doctor` asks of the machine, one question each, so that its
// findings can be driven by made-up answers.
class MachineFacts {
 public:
  virtual ~MachineFacts() = default;

  // The environment variable's value; nothing when it is unset or empty.
  virtual std::optional<std::string> environment(const std::string& name) = 0;
  // The dial-in paths of the serial ports in the device registry; nothing when the
  // registry cannot be read.
  virtual std::optional<std::vector<std::string>> serialPorts() = 0;
  // Opens the device node for reading and writing the way the program does (no
  // controlling terminal, no waiting) and closes it again: 0, or the errno of the open.
  virtual int openError(const std::string& path) = 0;
  // The latency timer of the FTDI adapter behind the port, in milliseconds, as its
  // driver shows it in sysfs; nothing for a port of another kind.
  virtual std::optional<int> latencyTimer(const std::string& path) = 0;
  // The group that owns the file; nothing when the file cannot be looked at.
  virtual std::optional<FileGroup> fileGroup(const std::string& path) = 0;
  // The groups this process has now: those of the session it was started in.
  virtual std::vector<gid_t> sessionGroups() = 0;
  // The groups the group database gives the user now; a change shows here at once,
  // but reaches a session only at the next login.
  virtual std::vector<gid_t> databaseGroups() = 0;
  // The command names of the running processes.
  virtual std::vector<std::string> processNames() = 0;
  virtual bool fileExists(const std::string& path) = 0;
  // What dpkg says of the package: one line per architecture it is known for, each the
  // package's status words ("install ok installed", "deinstall ok config-files", ...);
  // nothing when dpkg knows no such package or cannot be asked.
  virtual std::optional<std::string> packageStatus(const std::string& package) = 0;
  // Why the xtest backend cannot start on the current display; empty when it starts.
  virtual std::string xtestStartError() = 0;
  // The layout `backend` types for; all empty when the backend cannot start.
  virtual LayoutFacts keyboardLayout(BackendKind backend) = 0;
};

// The facts of the machine this process runs on.
class SystemFacts final : public MachineFacts {
 public:
  std::optional<std::string> environment(const std::string& name) override;
  std::optional<std::vector<std::string>> serialPorts() override;
  int openError(const std::string& path) override;
  std::optional<int> latencyTimer(const std::string& path) override;
  std::optional<FileGroup> fileGroup(const std::string& path) override;
  std::vector<gid_t> sessionGroups() override;
  std::vector<gid_t> databaseGroups() override;
  std::vector<std::string> processNames() override;
  bool fileExists(const std::string& path) override;
  std::optional<std::string> packageStatus(const std::string& package) override;
  std::string xtestStartError() override;
  LayoutFacts keyboardLayout(BackendKind backend) override;
};

}  // namespace quillmote
