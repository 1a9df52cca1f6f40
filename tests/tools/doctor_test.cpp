// `quillmote-cli doctor`: its findings on made-up machine facts, and the facts of this one.
#include "tools/doctor.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "tools/doctor_facts.h"

namespace quillmote {
namespace {

constexpr gid_t kDialout = 20, kUser = 1000;
const std::string kPort = "/dev/ttyUSB0", kUInput = "/dev/uinput";

// What a case changes on a healthy machine without a graphical session, where the one
// serial port and every other path opens, and nothing is in the way.
struct Machine {
  std::map<std::string, std::string> variables = {};
  std::optional<std::vector<std::string>> ports = std::vector{kPort};
  std::map<std::string, int> openErrors = {};
  std::map<std::string, FileGroup> groups = {};
  std::vector<gid_t> session{kUser, kDialout}, database{kUser, kDialout};
  std::vector<std::string> processes = {};
  std::set<std::string> files = {};
  std::string dpkgStatus = "", xtestError = "";
};

template <typename Map, typename Value = Map::mapped_type>
std::optional<Value> lookUp(const Map& map, const std::string& key) {
  auto found = map.find(key);
  return found == map.end() ? std::nullopt : std::optional(found->second);
}

struct FakeFacts final : MachineFacts {
  explicit FakeFacts(const Machine& machine) : m(machine) {}
  std::optional<std::string> environment(const std::string& name) override {
    return lookUp(m.variables, name);
  }
  std::optional<std::vector<std::string>> serialPorts() override { return m.ports; }
  int openError(const std::string& path) override { return lookUp(m.openErrors, path).value_or(0); }
  std::optional<FileGroup> fileGroup(const std::string& path) override {
    return lookUp(m.groups, path);
  }
  std::vector<gid_t> sessionGroups() override { return m.session; }
  std::vector<gid_t> databaseGroups() override { return m.database; }
  std::vector<std::string> processNames() override { return m.processes; }
  bool fileExists(const std::string& path) override { return m.files.contains(path); }
  std::optional<std::string> fileText(const std::string& path) override {
    if (path != "/var/lib/dpkg/status") return std::nullopt;
    return "Package: brltty-x11\nStatus: install ok installed\n\n" + m.dpkgStatus;
  }
  std::string xtestStartError() override { return m.xtestError; }
  const Machine& m;
};

// Each case after the first breaks the ports, the session, /dev/uinput and the services
// in ways that do not depend on each other. `findings` begin lines that the output must
// have; it has no "fix:" line beyond them.
const struct {
  const char* name;
  Machine machine;
  std::vector<std::string> findings;
  std::string port = "";
} kCases[] = {
    {"healthy_machine",
     {},
     {"ok: no graphical session", "ok: /dev/ttyUSB0 opens", "ok: /dev/uinput is writable",
      "ok: brltty is not installed", "ok: ModemManager is not running"}},
    {"ports_each_say_what_keeps_them_closed_under_wayland_with_modem_manager",
     {.variables = {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
      .ports = std::vector<std::string>{"/dev/busy", "/dev/broken", "/dev/uucp", "/dev/dialout",
                                        "/dev/plugdev", "/dev/root", kPort},
      .openErrors = {{"/dev/busy", EBUSY},
                     {"/dev/broken", EIO},
                     {"/dev/uucp", EACCES},
                     {"/dev/dialout", EACCES},
                     {"/dev/plugdev", EACCES},
                     {"/dev/root", EACCES}},
      .groups = {{"/dev/uucp", {10, "uucp"}},
                 {"/dev/dialout", {kDialout, "dialout"}},
                 {"/dev/plugdev", {46, "plugdev"}},
                 {"/dev/root", {0, "root"}}},
      .session = {kUser, 46},
      .database = {kUser, kDialout, 46},
      .processes = {"ModemManager"}},
     {"fix: /dev/busy is busy", "fix: /dev/broken cannot be opened (Input/output error)",
      "fix: /dev/uucp is open to the group uucp, which you are not in",
      "fix: you are in the group dialout, which may open /dev/dialout,",
      "fix: /dev/plugdev refuses you", "fix: /dev/root refuses you", "ok: /dev/ttyUSB0 opens",
      "ok: Wayland session: the uinput backend is used", "fix: ModemManager is running"}},
    {"given_port_missing_with_xtest_in_a_wayland_session_and_brltty_running",
     {.variables = {{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}},
      .openErrors = {{"/dev/ttyACM7", ENOENT}},
      .processes = {"brltty"}},
     {"fix: /dev/ttyACM7 does not exist", "fix: Wayland session: through XTest",
      "fix: brltty is running"},
     "/dev/ttyACM7"},
    {"no_port_and_uinput_chosen_under_x11_missing_and_brltty_installed",
     {.variables = {{"DISPLAY", ":0"}, {"QUILLMOTE_BACKEND", "uinput"}},
      .ports = std::vector<std::string>{},
      .openErrors = {{kUInput, ENOENT}},
      .dpkgStatus = "Package: brltty\nStatus: install ok installed\n"},
     {"fix: no serial port found", "ok: QUILLMOTE_BACKEND=uinput chooses the uinput backend",
      "fix: /dev/uinput is missing", "fix: brltty is installed"}},
    {"registry_unreadable_and_uinput_missing_under_x11_and_brltty_removed",
     {.variables = {{"DISPLAY", ":0"}},
      .ports = std::nullopt,
      .openErrors = {{kUInput, ENODEV}},
      .dpkgStatus = "Package: brltty\nStatus: deinstall ok config-files\n"},
     {"fix: the device registry (udev) cannot be read", "ok: X11 session (DISPLAY=:0)",
      "ok: the xtest backend starts", "ok: /dev/uinput is missing", "ok: brltty is not installed"}},
    {"xtest_cannot_start_uinput_refused_with_the_rule_installed_brltty_binary",
     {.variables = {{"DISPLAY", ":7"}},
      .openErrors = {{kUInput, EACCES}},
      .files = {"/usr/lib/udev/rules.d/70-quillmote-uinput.rules", "/usr/bin/brltty"},
      .xtestError = "cannot connect"},
     {"fix: the xtest backend cannot start: cannot connect",
      "ok: /dev/uinput is not writable for you; Quillmote's udev rule",
      "fix: brltty is installed"}},
    {"backend_variable_names_nothing_and_uinput_refused_without_the_rule",
     {.variables = {{"DISPLAY", ":0"}, {"QUILLMOTE_BACKEND", "xtset"}},
      .openErrors = {{kUInput, EACCES}}},
     {"fix: QUILLMOTE_BACKEND=xtset names no backend", "ok: the xtest backend starts",
      "ok: /dev/uinput is not writable for you: install"}},
};

TEST(Doctor, reports_what_to_fix) {
  for (const auto& c : kCases) {
    FakeFacts facts(c.machine);
    std::ostringstream out;
    int status = checkMachine(facts, DoctorOptions{c.port}, out);
    const std::string lines = "\n" + out.str();
    int expectedFixes = 0, fixes = 0;
    for (const std::string& finding : c.findings) {
      EXPECT_NE(lines.find("\n" + finding), std::string::npos) << c.name << ": " << finding;
      expectedFixes += finding.starts_with("fix: ");
    }
    for (auto at = lines.find("\nfix: "); at != std::string::npos;
         at = lines.find("\nfix: ", at + 1)) {
      ++fixes;
    }
    EXPECT_EQ(fixes, expectedFixes) << c.name << lines;
    EXPECT_EQ(status, expectedFixes == 0 ? 0 : 1) << c.name;
  }
}

}  // namespace
}  // namespace quillmote
