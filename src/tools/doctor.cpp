// SPDX-License-Identifier: MIT
#include "tools/doctor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>
#include <sstream>

#include "platform/backends.h"
#include "tools/doctor_facts.h"

namespace quillmote {
namespace {

constexpr const char* kUInputPath = "/dev/uinput";
// Where the package puts the udev rule, and where the README has people put it by hand.
constexpr const char* kUInputRules[] = {"/usr/lib/udev/rules.d/70-quillmote-uinput.rules",
                                        "/etc/udev/rules.d/70-quillmote-uinput.rules"};

// Prints the findings and counts those that need fixing.
class Findings {
 public:
  explicit Findings(std::ostream& out) : out_(out) {}
  void ok(const std::string& text) { out_ << "ok: " << text << '\n'; }
  void fix(const std::string& text) {
    out_ << "fix: " << text << '\n';
    ++fixes_;
  }
  int fixes() const { return fixes_; }

 private:
  std::ostream& out_;
  int fixes_ = 0;
};

template <typename List, typename Item>
bool contains(const List& list, const Item& item) {
  return std::find(std::begin(list), std::end(list), item) != std::end(list);
}

// True when dpkg has the package installed for some architecture (not merely known, or
// removed with its configuration kept).
bool dpkgSaysInstalled(MachineFacts& facts, const std::string& package) {
  std::istringstream lines(facts.packageStatus(package).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    if (line == "install ok installed") return true;
  }
  return false;
}

// Reports the session and the backend Quillmote would use in it, and returns that backend.
BackendKind checkSession(MachineFacts& facts, Findings& findings) {
  std::optional<std::string> requested = facts.environment("QUILLMOTE_BACKEND");
  std::optional<std::string> display = facts.environment("DISPLAY");
  std::optional<std::string> wayland = facts.environment("WAYLAND_DISPLAY");
  auto chosenFor = [&](const std::optional<std::string>& request) {
    std::string unused;
    return chooseBackend(request ? request->c_str() : nullptr, display ? display->c_str() : nullptr,
                         wayland ? wayland->c_str() : nullptr, unused);
  };
  std::optional<BackendKind> chosen = chosenFor(requested);
  if (requested && chosen) {
    findings.ok("QUILLMOTE_BACKEND=" + *requested + " chooses the " + backendName(*chosen) +
                " backend");
  } else if (requested) {
    findings.fix("QUILLMOTE_BACKEND=" + *requested +
                 " names no backend: set it to xtest, uinput or trace, or "
                 "`unset QUILLMOTE_BACKEND` to let Quillmote choose");
    chosen = chosenFor(std::nullopt);
  }

  if (wayland || facts.environment("XDG_SESSION_TYPE") == "wayland") {
    if (*chosen == BackendKind::kXTest) {
      findings.fix(
          "Wayland session: through XTest the keys and clicks reach only X11 "
          "programs; use the uinput backend: `export QUILLMOTE_BACKEND=uinput` "
          "(it needs /dev/uinput)");
    } else {
      findings.ok(std::string("Wayland session: the ") + backendName(*chosen) + " backend is used");
    }
    return *chosen;
  }
  if (display) {
    findings.ok("X11 session (DISPLAY=" + *display + ")");
  } else {
    findings.ok(
        "no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): only "
        "the uinput backend works here");
  }
  if (*chosen == BackendKind::kXTest) {
    std::string error = facts.xtestStartError();
    if (error.empty()) {
      findings.ok("the xtest backend starts");
    } else {
      findings.fix("the xtest backend cannot start: " + error);
    }
  }
  return *chosen;
}

// Whether what the device types comes out right on the layout the backend types for.
void checkLayout(MachineFacts& facts, BackendKind backend, Findings& findings) {
  std::optional<std::string> keys = facts.environment("QUILLMOTE_KEYS");
  std::string unused;
  std::optional<bool> positions = keyPositionsRequested(keys ? keys->c_str() : nullptr, unused);
  if (!positions) {
    findings.fix("QUILLMOTE_KEYS=" + *keys +
                 " is not a way to mean keys: set it to positions, or `unset QUILLMOTE_KEYS` "
                 "to type what a US keyboard types");
  }
  LayoutFacts layout = facts.keyboardLayout(backend);
  if (!layout.error.empty()) {
    findings.fix(layout.error);
    return;
  }
  if (!layout.pointer.empty()) findings.ok("pointer: " + layout.pointer);
  if (layout.layout.empty()) return;
  const std::string named = "keyboard layout " + layout.layout;
  if (positions.value_or(false)) {
    findings.ok(
        "QUILLMOTE_KEYS=positions: keys are pressed at their US keyboard positions, so "
        "typed text comes out right only where the layout is US; the " +
        named);
    return;
  }
  const bool uinput = backend == BackendKind::kUInput;
  std::string notTyped = uinput ? layout.notOnKeys : "";
  std::erase_if(notTyped,
                [&](char c) { return layout.throughDeadKeys.find(c) != std::string::npos; });
  const std::string otherLayout =
      uinput ? "; if the desktop uses another layout, name it: `export QUILLMOTE_LAYOUT=de` "
               "(or fr, us:dvorak, ...)"
             : "";
  if (!notTyped.empty()) {
    findings.fix(named + " has no key for " + notTyped + ": those characters are not typed" +
                 otherLayout);
  } else if (!layout.notOnKeys.empty()) {
    findings.ok(named + ": typed text comes out right (" + layout.notOnKeys +
                (uinput ? " through dead keys" : " through a borrowed key code") + ")" +
                otherLayout);
  } else {
    findings.ok(named + ": typed text comes out right" + otherLayout);
  }
}

void reportRefusedPort(MachineFacts& facts, const std::string& path, Findings& findings) {
  std::optional<FileGroup> group = facts.fileGroup(path);
  bool namedGroup = group && group->id != 0 && !group->name.empty();
  if (namedGroup && !contains(facts.sessionGroups(), group->id)) {
    if (contains(facts.databaseGroups(), group->id)) {
      findings.fix("you are in the group " + group->name + ", which may open " + path +
                   ", but this session started before you were added: log out and back in");
    } else {
      findings.fix(path + " is open to the group " + group->name +
                   ", which you are not in: `sudo usermod -aG " + group->name +
                   " $USER`, then log out and back in");
    }
    return;
  }
  findings.fix(path + " refuses you (" + std::generic_category().message(EACCES) + "): `ls -l " +
               path + "` shows who may open it");
}

// An FTDI adapter holds received bytes until its latency timer runs out (16 ms unless
// set); Quillmote asks for low latency, which makes it 1 ms, only while it holds the port.
void reportLatency(MachineFacts& facts, const std::string& path, Findings& findings) {
  std::optional<int> timer = facts.latencyTimer(path);
  if (!timer) return;
  findings.ok(path + " is an FTDI adapter: latency_timer " + std::to_string(*timer) + " ms, " +
              (*timer <= 1 ? "low latency on"
                           : "low latency off (Quillmote turns it on while it holds the port)"));
}

void checkPort(MachineFacts& facts, const std::string& path, Findings& findings) {
  reportLatency(facts, path, findings);
  switch (int error = facts.openError(path)) {
    case 0:
      findings.ok(path + " opens for reading and writing");
      return;
    case ENOENT:
      findings.fix(path +
                   " does not exist: plug the device in, and find its path with "
                   "`quillmote-cli ports`");
      return;
    case EACCES:
    case EPERM:
      reportRefusedPort(facts, path, findings);
      return;
    case EBUSY:
      findings.fix(
          path +
          " is busy: another program holds it open, perhaps a running Quillmote; `fuser -v " +
          path + "` names it, then stop that program");
      return;
    default:
      findings.fix(path + " cannot be opened (" + std::generic_category().message(error) +
                   "): unplug the device and plug it in again");
      return;
  }
}

void checkPorts(MachineFacts& facts, const std::string& port, Findings& findings) {
  if (!port.empty()) {
    checkPort(facts, port, findings);
    return;
  }
  std::optional<std::vector<std::string>> ports = facts.serialPorts();
  if (!ports) {
    findings.fix(
        "the device registry (udev) cannot be read: `systemctl status "
        "systemd-udevd`, or name the port with --port");
  } else if (ports->empty()) {
    findings.fix(
        "no serial port found: plug the device in, then look for it with "
        "`quillmote-cli ports`");
  } else {
    for (const std::string& path : *ports) checkPort(facts, path, findings);
  }
}

// /dev/uinput matters only to the uinput backend; its problems need fixing only when
// that is the backend Quillmote would use.
void checkUInput(MachineFacts& facts, bool needed, Findings& findings) {
  int error = facts.openError(kUInputPath);
  if (error == 0) {
    findings.ok("/dev/uinput is writable: the uinput backend (Wayland, console) can start");
    return;
  }
  std::string problem;
  if (error == ENOENT || error == ENODEV) {
    problem = "/dev/uinput is missing: `sudo modprobe uinput`";
  } else if (std::ranges::any_of(kUInputRules,
                                 [&](const char* rule) { return facts.fileExists(rule); })) {
    problem =
        "/dev/uinput is not writable for you; Quillmote's udev rule gives it to the "
        "logged-in user: `sudo udevadm trigger --sysname-match=uinput`, or log out "
        "and back in";
  } else {
    problem =
        "/dev/uinput is not writable for you: install Quillmote's udev rule with "
        "`echo 'KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\"' | sudo tee "
        "/etc/udev/rules.d/70-quillmote-uinput.rules`, then `sudo udevadm trigger "
        "--sysname-match=uinput`";
  }
  if (needed) {
    findings.fix(problem + " (the uinput backend, used here, needs it)");
  } else {
    findings.ok(problem + " (only the uinput backend, for Wayland and the console, needs it)");
  }
}

void checkConflictingServices(MachineFacts& facts, Findings& findings) {
  std::vector<std::string> processes = facts.processNames();
  bool brlttyRunning = contains(processes, "brltty");
  bool brlttyInstalled = dpkgSaysInstalled(facts, "brltty") ||
                         facts.fileExists("/usr/bin/brltty") || facts.fileExists("/bin/brltty");
  if (brlttyRunning || brlttyInstalled) {
    findings.fix(std::string("brltty is ") + (brlttyRunning ? "running" : "installed") +
                 ": it takes some USB serial adapters (CH341, CP210x, ...) for braille "
                 "displays, and their port disappears: `sudo apt remove brltty`");
  } else {
    findings.ok("brltty is not installed");
  }
  if (contains(processes, "ModemManager")) {
    findings.fix(
        "ModemManager is running: it probes new serial ports and sends AT commands "
        "to the device: `sudo systemctl disable --now ModemManager`, or a udev rule "
        "with ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the device");
  } else {
    findings.ok("ModemManager is not running");
  }
}

}  // namespace

int checkMachine(MachineFacts& facts, const DoctorOptions& options, std::ostream& out) {
  Findings findings(out);
  BackendKind backend = checkSession(facts, findings);
  checkLayout(facts, backend, findings);
  checkPorts(facts, options.port, findings);
  checkUInput(facts, backend == BackendKind::kUInput, findings);
  checkConflictingServices(facts, findings);
  return findings.fixes() == 0 ? 0 : 1;
}

int runDoctor(const DoctorOptions& options, std::ostream& out, std::ostream&) {
  SystemFacts facts;
  return checkMachine(facts, options, out);
}

}  // namespace quillmote
