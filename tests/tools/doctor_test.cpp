// SPDX-License-Identifier: MIT
// `quillmote-cli doctor`: its findings on made-up machine facts.
#include "tools/doctor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "tools/doctor_facts.h"

namespace quillmote {
namespace {

constexpr gid_t kDialout = 20, kUser = 1000;

// What a case changes on a healthy machine without a graphical session, where the one
// serial port and every other path opens, and nothing is in the way.
struct Machine {
  std::map<std::string, std::string> variables = {};
  std::optional<std::vector<std::string>> ports = std::vector<std::string>{"/dev/ttyUSB0"};
  std::map<std::string, int> openErrors = {};
  std::map<std::string, int> latencyTimers = {};  // the FTDI adapters'
  std::map<std::string, FileGroup> groups = {};
  std::vector<gid_t> session{kUser, kDialout}, database{kUser, kDialout};
  std::vector<std::string> processes = {};
  std::set<std::string> files = {};
  std::map<std::string, std::string> packages = {};  // dpkg's status lines of each
  std::string xtestError = "";
  LayoutFacts layout = {"us (from the default)", "", "", "", ""};
};

struct FakeFacts final : MachineFacts, Machine {
  explicit FakeFacts(const Machine& machine) : Machine(machine) {}
  std::optional<std::string> environment(const std::string& name) override {
    return variables.contains(name) ? std::optional(variables.at(name)) : std::nullopt;
  }
  std::optional<std::vector<std::string>> serialPorts() override { return ports; }
  int openError(const std::string& path) override {
    return openErrors.contains(path) ? openErrors.at(path) : 0;
  }
  std::optional<int> latencyTimer(const std::string& path) override {
    return latencyTimers.contains(path) ? std::optional(latencyTimers.at(path)) : std::nullopt;
  }
  std::optional<FileGroup> fileGroup(const std::string& path) override {
    return groups.contains(path) ? std::optional(groups.at(path)) : std::nullopt;
  }
  std::vector<gid_t> sessionGroups() override { return session; }
  std::vector<gid_t> databaseGroups() override { return database; }
  std::vector<std::string> processNames() override { return processes; }
  bool fileExists(const std::string& path) override { return files.contains(path); }
  std::optional<std::string> packageStatus(const std::string& package) override {
    return packages.contains(package) ? std::optional(packages.at(package)) : std::nullopt;
  }
  std::string xtestStartError() override { return xtestError; }
  LayoutFacts keyboardLayout(BackendKind) override { return layout; }
};

// Each case after the first breaks the session, the ports, /dev/uinput and the services in
// ways that do not depend on each other.
const struct {
  const char* name;
  Machine machine;
  std::vector<std::string> findings;
  std::string port = "";
} kCases[] = {
    {"healthy_machine_given_port_brltty_removed",
     {.packages = {{"brltty", "deinstall ok config-files\n"},
                   {"brltty-x11", "install ok installed\n"}}},
     {"ok: no graphical session", "ok: keyboard layout us (from the default): typed",
      "ok: /dev/ttyACM0 opens", "ok: /dev/uinput is writable", "ok: brltty is not installed"},
     "/dev/ttyACM0"},
    {"wayland_ports_each_closed_uinput_needed_refused_with_the_rule_services_in_the_way",
     {.variables = {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
      .ports = std::vector<std::string>{"/dev/busy", "/dev/broken", "/dev/uucp", "/dev/dialout",
                                        "/dev/plugdev", "/dev/root"},
      .openErrors = {{"/dev/busy", EBUSY},
                     {"/dev/broken", EIO},
                     {"/dev/uucp", EACCES},
                     {"/dev/dialout", EACCES},
                     {"/dev/plugdev", EACCES},
                     {"/dev/root", EACCES},
                     {"/dev/uinput", EACCES}},
      .groups = {{"/dev/uucp", {10, "uucp"}},
                 {"/dev/dialout", {kDialout, "dialout"}},
                 {"/dev/plugdev", {46, "plugdev"}},
                 {"/dev/root", {0, "root"}}},
      .session = {kUser, 46},
      .database = {kUser, kDialout, 46},
      .processes = {"ModemManager", "brltty"},
      .files = {"/usr/lib/udev/rules.d/70-quillmote-uinput.rules"},
      .layout = {"German (from the Wayland compositor, its first group)", "^`", "`", "",
                 "absolute over 1280x720 (the Wayland compositor's outputs)"}},
     {"fix: /dev/busy is busy", "fix: /dev/broken cannot be opened (Input/output error)",
      "fix: /dev/uucp is open to the group uucp", "fix: you are in the group dialout",
      "fix: /dev/plugdev refuses you", "fix: /dev/root refuses you",
      "ok: Wayland session: the uinput backend is used", "ok: pointer: absolute over 1280x720",
      "fix: keyboard layout German (from the Wayland compositor, its first group) has no key for ^",
      "fix: /dev/uinput is not writable for you; Quillmote's udev rule", "fix: brltty is running",
      "fix: ModemManager is running"}},
    {"ftdi_adapters_with_their_latency_timer_and_whether_low_latency_is_on",
     {.ports = std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0"},
      .latencyTimers = {{"/dev/ttyUSB0", 16}, {"/dev/ttyUSB1", 1}}},
     {"ok: no graphical session", "ok: keyboard layout us (from the default): typed",
      "ok: /dev/ttyUSB0 is an FTDI adapter: latency_timer 16 ms, low latency off",
      "ok: /dev/ttyUSB0 opens",
      "ok: /dev/ttyUSB1 is an FTDI adapter: latency_timer 1 ms, low latency on",
      "ok: /dev/ttyUSB1 opens", "ok: /dev/ttyS0 opens", "ok: /dev/uinput is writable",
      "ok: brltty is not installed"}},
    // brltty is installed for one of two architectures.
    {"no_port_backend_unnamed_xtest_in_wayland_uinput_not_needed_brltty_installed",
     {.variables = {{"DISPLAY", ":0"},
                    {"XDG_SESSION_TYPE", "wayland"},
                    {"QUILLMOTE_BACKEND", "xtset"},
                    {"QUILLMOTE_KEYS", "position"}},
      .ports = std::vector<std::string>{},
      .openErrors = {{"/dev/uinput", ENOENT}},
      .packages = {{"brltty", "deinstall ok config-files\ninstall ok installed\n"}}},
     {"fix: no serial port found", "fix: QUILLMOTE_BACKEND=xtset names no backend",
      "fix: Wayland session: through XTest", "fix: QUILLMOTE_KEYS=position is not",
      "ok: keyboard layout us", "ok: /dev/uinput is missing", "fix: brltty is installed"}},
};

// Each finding of a case begins a line of the output, and no other line says fix.
TEST(Doctor, reports_what_to_fix) {
  for (const auto& c : kCases) {
    FakeFacts facts(c.machine);
    std::ostringstream out;
    int status = checkMachine(facts, DoctorOptions{c.port}, out);
    std::string lines = "\n" + out.str();
    for (const std::string& finding : c.findings) {
      auto at = lines.find("\n" + finding);
      EXPECT_NE(at, lines.npos) << c.name << ": " << finding << lines;
      if (at != lines.npos) lines[at + 1] = '*';  // seen: a "fix:" line left is one too many
    }
    EXPECT_EQ(lines.find("\nfix:"), lines.npos) << c.name << lines;
    bool fixes = std::ranges::any_of(c.findings, [](auto& f) { return f.starts_with("fix:"); });
    EXPECT_EQ(status, fixes ? 1 : 0) << c.name;
  }
}

// The machine's own dpkg, asked about itself and about a package nobody has.
TEST(Doctor, asks_dpkg_for_package_status) {
  SystemFacts facts;
  EXPECT_EQ(facts.packageStatus("dpkg"), "install ok installed\n");
  EXPECT_EQ(facts.packageStatus("quillmote-no-such-package"), std::nullopt);
}

}  // namespace
}  // namespace quillmote
