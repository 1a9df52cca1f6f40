// `quillmote-cli doctor`: every finding driven by made-up machine facts, then the real
// machine's facts on a real pseudo-terminal and on a port that does not exist.
#include "tools/doctor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/pseudo_terminal.h"
#include "tools/doctor_facts.h"

namespace quillmote {
namespace {

constexpr gid_t kDialout = 20;
constexpr gid_t kUser = 1000;

// A healthy machine without a graphical session: one USB serial port the user may open,
// a writable /dev/uinput, nothing in the way. Unknown paths do not exist.
struct FakeFacts final : MachineFacts {
  std::map<std::string, std::string> variables;
  std::optional<std::vector<std::string>> ports = std::vector<std::string>{"/dev/ttyUSB0"};
  std::map<std::string, int> openErrors{{"/dev/ttyUSB0", 0}, {"/dev/uinput", 0}};
  std::map<std::string, FileGroup> groups{{"/dev/ttyUSB0", {kDialout, "dialout"}},
                                          {"/dev/ttyACM0", {kDialout, "dialout"}}};
  std::vector<gid_t> session{kUser, kDialout};
  std::vector<gid_t> database{kUser, kDialout};
  std::vector<std::string> processes{"systemd", "bash"};
  std::set<std::string> files;
  std::map<std::string, std::string> texts;
  std::string xtestError;

  std::optional<std::string> environment(const std::string& name) override {
    auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  }
  std::optional<std::vector<std::string>> serialPorts() override { return ports; }
  int openError(const std::string& path) override {
    auto found = openErrors.find(path);
    return found == openErrors.end() ? ENOENT : found->second;
  }
  std::optional<FileGroup> fileGroup(const std::string& path) override {
    auto found = groups.find(path);
    if (found == groups.end()) return std::nullopt;
    return found->second;
  }
  std::vector<gid_t> sessionGroups() override { return session; }
  std::vector<gid_t> databaseGroups() override { return database; }
  std::vector<std::string> processNames() override { return processes; }
  bool fileExists(const std::string& path) override { return files.contains(path); }
  std::optional<std::string> fileText(const std::string& path) override {
    auto found = texts.find(path);
    if (found == texts.end()) return std::nullopt;
    return found->second;
  }
  std::string xtestStartError() override { return xtestError; }
};

const char* const kDpkgStatus = "/var/lib/dpkg/status";

std::string dpkgStatusWithBrltty(const std::string& status) {
  return "Package: brltty-x11\nStatus: install ok installed\n\n"
         "Package: brltty\nStatus: " +
         status +
         "\nVersion: 6.5-7\n\n"
         "Package: bash\nStatus: install ok installed\n";
}

struct DoctorCase {
  const char* name;
  std::function<void(FakeFacts&)> arrange;
  // Lines that must be in the output; the output has no fix lines beyond the ones here.
  std::vector<std::string> expected;
  std::string port = "";
};

void PrintTo(const DoctorCase& doctorCase, std::ostream* out) { *out << doctorCase.name; }

const DoctorCase kCases[] = {
    {"healthy_machine",
     [](FakeFacts&) {},
     {"ok: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): only the "
      "uinput backend works here",
      "ok: /dev/ttyUSB0 opens for reading and writing",
      "ok: /dev/uinput is writable: the uinput backend (Wayland, console) can start",
      "ok: brltty is not installed", "ok: ModemManager is not running"}},
    {"given_port_missing",
     [](FakeFacts&) {},
     {"fix: /dev/ttyACM7 does not exist: plug the device in, and find its path with "
      "`quillmote-cli ports`"},
     "/dev/ttyACM7"},
    {"port_group_user_is_not_in",
     [](FakeFacts& facts) {
       facts.openErrors["/dev/ttyUSB0"] = EACCES;
       facts.session = facts.database = {kUser};
     },
     {"fix: /dev/ttyUSB0 is open to the group dialout, which you are not in: `sudo usermod "
      "-aG dialout $USER`, then log out and back in"}},
    {"port_group_added_after_login",
     [](FakeFacts& facts) {
       facts.openErrors["/dev/ttyUSB0"] = EACCES;
       facts.session = {kUser};
     },
     {"fix: you are in the group dialout, which may open /dev/ttyUSB0, but this session "
      "started before you were added: log out and back in"}},
    {"port_refused_despite_group",
     [](FakeFacts& facts) { facts.openErrors["/dev/ttyUSB0"] = EACCES; },
     {"fix: /dev/ttyUSB0 refuses you (Permission denied): `ls -l /dev/ttyUSB0` shows who "
      "may open it"}},
    {"port_owned_by_root_group",
     [](FakeFacts& facts) {
       facts.openErrors["/dev/ttyUSB0"] = EACCES;
       facts.groups["/dev/ttyUSB0"] = {0, "root"};
       facts.session = facts.database = {kUser};
     },
     {"fix: /dev/ttyUSB0 refuses you (Permission denied): `ls -l /dev/ttyUSB0` shows who "
      "may open it"}},
    {"port_busy",
     [](FakeFacts& facts) { facts.openErrors["/dev/ttyUSB0"] = EBUSY; },
     {"fix: /dev/ttyUSB0 is busy: another program holds it open, perhaps a running Quillmote; "
      "`fuser -v /dev/ttyUSB0` "
      "names it, then stop that program"}},
    {"port_broken",
     [](FakeFacts& facts) { facts.openErrors["/dev/ttyUSB0"] = EIO; },
     {"fix: /dev/ttyUSB0 cannot be opened (Input/output error): unplug the device and plug "
      "it in again"}},
    {"every_port_found_is_checked",
     [](FakeFacts& facts) {
       facts.ports = std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0"};
       facts.openErrors["/dev/ttyACM0"] = EBUSY;
     },
     {"fix: /dev/ttyACM0 is busy: another program holds it open, perhaps a running Quillmote; "
      "`fuser -v /dev/ttyACM0` "
      "names it, then stop that program",
      "ok: /dev/ttyUSB0 opens for reading and writing"}},
    {"no_port_found",
     [](FakeFacts& facts) { facts.ports = std::vector<std::string>{}; },
     {"fix: no serial port found: plug the device in, then look for it with "
      "`quillmote-cli ports`"}},
    {"registry_unreadable",
     [](FakeFacts& facts) { facts.ports = std::nullopt; },
     {"fix: the device registry (udev) cannot be read: `systemctl status systemd-udevd`, "
      "or name the port with --port"}},
    {"uinput_missing_where_it_is_used",
     [](FakeFacts& facts) { facts.openErrors.erase("/dev/uinput"); },
     {"fix: /dev/uinput is missing: `sudo modprobe uinput` (the uinput backend, used here, "
      "needs it)"}},
    {"uinput_missing_under_x11",
     [](FakeFacts& facts) {
       facts.openErrors.erase("/dev/uinput");
       facts.variables["DISPLAY"] = ":0";
     },
     {"ok: X11 session (DISPLAY=:0)", "ok: the xtest backend starts",
      "ok: /dev/uinput is missing: `sudo modprobe uinput` (only the uinput backend, for "
      "Wayland and the console, needs it)"}},
    {"uinput_refused_with_rule_installed",
     [](FakeFacts& facts) {
       facts.openErrors["/dev/uinput"] = EACCES;
       facts.files.insert("/usr/lib/udev/rules.d/70-quillmote-uinput.rules");
     },
     {"fix: /dev/uinput is not writable for you; Quillmote's udev rule gives it to the "
      "logged-in user: `sudo udevadm trigger --sysname-match=uinput`, or log out and back "
      "in (the uinput backend, used here, needs it)"}},
    {"uinput_refused_without_rule",
     [](FakeFacts& facts) { facts.openErrors["/dev/uinput"] = EACCES; },
     {"fix: /dev/uinput is not writable for you: install Quillmote's udev rule with `echo "
      "'KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\"' | sudo tee "
      "/etc/udev/rules.d/70-quillmote-uinput.rules`, then `sudo udevadm trigger "
      "--sysname-match=uinput` (the uinput backend, used here, needs it)"}},
    {"wayland_uses_uinput",
     [](FakeFacts& facts) {
       facts.variables["DISPLAY"] = ":0";
       facts.variables["WAYLAND_DISPLAY"] = "wayland-0";
     },
     {"ok: Wayland session: the uinput backend is used"}},
    {"wayland_by_session_type_with_xtest",
     [](FakeFacts& facts) {
       facts.variables["DISPLAY"] = ":0";
       facts.variables["XDG_SESSION_TYPE"] = "wayland";
     },
     {"fix: Wayland session: through XTest the keys and clicks reach only X11 programs; use "
      "the uinput backend: `export QUILLMOTE_BACKEND=uinput` (it needs /dev/uinput)"}},
    {"xtest_cannot_start",
     [](FakeFacts& facts) {
       facts.variables["DISPLAY"] = ":7";
       facts.xtestError = "cannot connect to the X display \":7\"";
     },
     {"ok: X11 session (DISPLAY=:7)",
      "fix: the xtest backend cannot start: cannot connect to the X display \":7\""}},
    {"backend_variable_chooses_uinput_under_x11",
     [](FakeFacts& facts) {
       facts.variables["DISPLAY"] = ":0";
       facts.variables["QUILLMOTE_BACKEND"] = "uinput";
       facts.openErrors.erase("/dev/uinput");
     },
     {"ok: QUILLMOTE_BACKEND=uinput chooses the uinput backend",
      "fix: /dev/uinput is missing: `sudo modprobe uinput` (the uinput backend, used here, "
      "needs it)"}},
    {"backend_variable_names_nothing",
     [](FakeFacts& facts) {
       facts.variables["DISPLAY"] = ":0";
       facts.variables["QUILLMOTE_BACKEND"] = "xtset";
     },
     {"fix: QUILLMOTE_BACKEND=xtset names no backend: set it to xtest, uinput or trace, or "
      "`unset QUILLMOTE_BACKEND` to let Quillmote choose",
      "ok: the xtest backend starts"}},
    {"brltty_running",
     [](FakeFacts& facts) { facts.processes.push_back("brltty"); },
     {"fix: brltty is running: it takes some USB serial adapters (CH341, CP210x, ...) for "
      "braille displays, and their port disappears: `sudo apt remove brltty`"}},
    {"brltty_installed_per_dpkg",
     [](FakeFacts& facts) {
       facts.texts[kDpkgStatus] = dpkgStatusWithBrltty("install ok installed");
     },
     {"fix: brltty is installed: it takes some USB serial adapters (CH341, CP210x, ...) for "
      "braille displays, and their port disappears: `sudo apt remove brltty`"}},
    {"brltty_removed_configuration_kept",
     [](FakeFacts& facts) {
       facts.texts[kDpkgStatus] = dpkgStatusWithBrltty("deinstall ok config-files");
     },
     {"ok: brltty is not installed"}},
    {"brltty_binary_without_dpkg",
     [](FakeFacts& facts) { facts.files.insert("/usr/bin/brltty"); },
     {"fix: brltty is installed: it takes some USB serial adapters (CH341, CP210x, ...) for "
      "braille displays, and their port disappears: `sudo apt remove brltty`"}},
    {"modem_manager_running",
     [](FakeFacts& facts) { facts.processes.push_back("ModemManager"); },
     {"fix: ModemManager is running: it probes new serial ports and sends AT commands to "
      "the device: `sudo systemctl disable --now ModemManager`, or a udev rule with "
      "ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the device"}},
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class DoctorFindings : public testing::TestWithParam<DoctorCase> {};

TEST_P(DoctorFindings, ReportsWhatToFix) {
  const DoctorCase& doctorCase = GetParam();
  FakeFacts facts;
  doctorCase.arrange(facts);
  std::ostringstream out;
  int status = checkMachine(facts, DoctorOptions{doctorCase.port}, out);

  std::vector<std::string> lines = linesOf(out.str());
  int expectedFixes = 0;
  for (const std::string& line : doctorCase.expected) {
    if (line.starts_with("fix: ")) ++expectedFixes;
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end())
        << "missing: " << line << "\nin:\n"
        << out.str();
  }
  int fixes = static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("fix: "); }));
  EXPECT_EQ(fixes, expectedFixes) << out.str();
  for (const std::string& line : lines) {
    EXPECT_TRUE(line.starts_with("ok: ") || line.starts_with("fix: ")) << line;
  }
  EXPECT_EQ(status, expectedFixes == 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Facts, DoctorFindings, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DoctorCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(DoctorOnThisMachine, PseudoTerminalPortOpens) {
  test::PseudoTerminal terminal;
  std::ostringstream out, err;
  runDoctor(DoctorOptions{terminal.portPath()}, out, err);
  EXPECT_NE(out.str().find("ok: " + terminal.portPath() + " opens for reading and writing\n"),
            std::string::npos)
      << out.str();
}

TEST(DoctorOnThisMachine, MissingPortNeedsFixing) {
  const std::string missing = "/dev/quillmote-doctor-test-no-such-port";
  std::ostringstream out, err;
  EXPECT_EQ(runDoctor(DoctorOptions{missing}, out, err), 1);
  EXPECT_NE(out.str().find("fix: " + missing + " does not exist"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace quillmote
