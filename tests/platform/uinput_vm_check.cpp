// The uinput backend against a real kernel. Runs as the only program of a virtual
// machine whose kernel has uinput (.ci/uinput-vm.sh): makes the device through the real
// backend, reads it back through its event node and prints one result line,
//   QUILLMOTE-UINPUT-RESULT: PASS   or   QUILLMOTE-UINPUT-RESULT: FAIL <reason>
// for the script to find on the serial console. Exits 0 only on PASS.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/keyboard.h>
#include <linux/tiocl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "interpreter/byte_feed.h"
#include "interpreter/interpreter.h"
#include "platform/key_code_translation.h"
#include "platform/uinput/uinput_event_services.h"

namespace quillmote {
namespace {

// An emulated machine on a busy host can stall for a while; a missing event is still
// a failure, only a late one is not.
constexpr int kEventTimeoutMilliseconds = 10000;

struct Failure {
  std::string reason;
};

[[noreturn]] void fail(std::string reason) { throw Failure{std::move(reason)}; }

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

struct Event {
  unsigned int type;
  unsigned int code;
  int value;
  bool operator==(const Event&) const = default;
};

Event key(unsigned int code, int value) { return {EV_KEY, code, value}; }
Event motion(unsigned int axis, int value) { return {EV_REL, axis, value}; }
constexpr Event kReport{EV_SYN, SYN_REPORT, 0};

std::string describe(const Event& event) {
  const char* name = libevdev_event_code_get_name(event.type, event.code);
  return std::string(name ? name : "code " + std::to_string(event.code)) + " " +
         std::to_string(event.value);
}

// The events of one device node as a client of it reads them, key repeats left out.
class EventNode {
 public:
  explicit EventNode(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ < 0) fail(systemError("cannot open the device node " + path));
  }
  ~EventNode() { close(fd_); }
  int fd() const { return fd_; }

  // The next event; nothing once the device is gone. `awaited` names it for a timeout.
  std::optional<Event> next(const std::string& awaited) {
    for (;;) {
      pollfd ready{fd_, POLLIN, 0};
      int polled = poll(&ready, 1, kEventTimeoutMilliseconds);
      if (polled == 0) {
        fail("nothing within " + std::to_string(kEventTimeoutMilliseconds) + " ms: " + awaited);
      }
      input_event raw{};
      ssize_t got = read(fd_, &raw, sizeof raw);
      if (got < 0 && errno == ENODEV) return std::nullopt;
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got != static_cast<ssize_t>(sizeof raw)) fail(systemError("reading the device node"));
      // A repeat comes with a report of its own; both would shift every later event.
      if (raw.type == EV_KEY && raw.value == 2) {
        skipNextReport_ = true;
        continue;
      }
      bool isReport = raw.type == EV_SYN && raw.code == SYN_REPORT;
      if (std::exchange(skipNextReport_, false) && isReport) continue;
      return Event{raw.type, raw.code, raw.value};
    }
  }

  // Exactly `expected`, next in the stream.
  void expect(const char* what, std::initializer_list<Event> expected) {
    for (const Event& wanted : expected) {
      std::optional<Event> got = next(std::string(what) + ": " + describe(wanted));
      if (!got) fail(std::string(what) + ": device gone before " + describe(wanted));
      if (*got != wanted) {
        fail(std::string(what) + ": " + describe(wanted) + " expected, " + describe(*got) +
             " arrived");
      }
    }
  }

 private:
  int fd_;
  bool skipNextReport_ = false;
};

// `type` has exactly `codes` among 0..maxCode.
void expectExactly(libevdev* device, unsigned int type, unsigned int maxCode,
                   const std::set<unsigned int>& codes) {
  for (unsigned int code = 0; code <= maxCode; ++code) {
    bool has = libevdev_has_event_code(device, type, code);
    if (has != (codes.count(code) > 0)) {
      const char* name = libevdev_event_code_get_name(type, code);
      fail(std::string(name ? name : std::to_string(code)) +
           (has ? " offered by the device but not promised" : " promised but not offered"));
    }
  }
}

// Name, keys, buttons and axes, as the kernel reports them to any client.
void checkCapabilities(int fd) {
  libevdev* raw = nullptr;
  if (int rc = libevdev_new_from_fd(fd, &raw); rc < 0) {
    fail(std::string("libevdev cannot read the device: ") + std::strerror(-rc));
  }
  std::unique_ptr<libevdev, decltype(&libevdev_free)> device(raw, libevdev_free);
  if (std::string_view(libevdev_get_name(raw)) != kVirtualDeviceName) {
    fail(std::string("device named \"") + libevdev_get_name(raw) + "\"");
  }
  std::set<unsigned int> keys = {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
  for (const KeyCodeTranslation& translation : keyCodeTranslations()) {
    keys.insert(translation.evdevCode);
  }
  expectExactly(raw, EV_KEY, KEY_MAX, keys);
  expectExactly(raw, EV_REL, REL_MAX, {REL_X, REL_Y});
  for (unsigned int type = 0; type <= EV_MAX; ++type) {
    bool promised = type == EV_SYN || type == EV_KEY || type == EV_REL;
    if (libevdev_has_event_type(raw, type) != promised) {
      fail("event type " + std::to_string(type) + (promised ? " missing" : " offered"));
    }
  }
}

// The console keyboard's modifier state. The kernel's console keyboard listens to every
// keyboard device, this one too, and its state outlives the device: it shows whether the
// kernel let go of a key when the device went away.
bool consoleShiftDown(int tty) {
  char request = TIOCL_GETSHIFTSTATE;
  if (ioctl(tty, TIOCLINUX, &request) != 0) fail(systemError("console shift state"));
  return request & (1 << KG_SHIFT);
}

void feed(Interpreter& interpreter, std::string_view bytes) {
  MemoryByteSource source(bytes);
  interpreter.do_quillmote(source);
}

void check() {
  std::string error;
  std::unique_ptr<UInputEventServices> events = UInputEventServices::open("/dev/uinput", error);
  if (!events) fail(error);
  const std::string nodePath = events->deviceNode();
  if (nodePath.empty()) fail("the backend names no device node");
  EventNode node(nodePath);
  checkCapabilities(node.fd());
  int tty = ::open("/dev/tty0", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) fail(systemError("cannot open /dev/tty0"));

  auto interpreter = std::make_unique<Interpreter>(*events);
  feed(*interpreter, "Ab");
  node.expect("typing Ab",
              {key(KEY_LEFTSHIFT, 1), kReport, key(KEY_A, 1), kReport, key(KEY_A, 0), kReport,
               key(KEY_LEFTSHIFT, 0), kReport, key(KEY_B, 1), kReport, key(KEY_B, 0), kReport});
  feed(*interpreter, "\033enter.");  // the octal escape ends before the "e"
  node.expect("enter", {key(KEY_ENTER, 1), kReport, key(KEY_ENTER, 0), kReport});
  feed(*interpreter, "\x1b,move,10,-5.");
  node.expect("move 10,-5", {motion(REL_X, 10), motion(REL_Y, -5), kReport});
  feed(*interpreter, "\x1b,click.");
  node.expect("click", {key(BTN_LEFT, 1), kReport, key(BTN_LEFT, 0), kReport});

  if (consoleShiftDown(tty)) fail("shift down on the console before it was locked");
  feed(*interpreter, "\x1b,lock,shift.");
  node.expect("lock shift", {key(KEY_LEFTSHIFT, 1), kReport});
  if (!consoleShiftDown(tty)) fail("the console keyboard did not see shift locked");

  interpreter.reset();
  events.reset();
  // The release reaches a client only if it reads before the node is torn down.
  while (std::optional<Event> late = node.next("device gone after destroying")) {
    if (*late != key(KEY_LEFTSHIFT, 0) && *late != kReport) {
      fail("after destroying: " + describe(*late));
    }
  }
  if (consoleShiftDown(tty)) fail("shift still down after the device was destroyed");
  close(tty);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  struct stat status {};
  while (stat(nodePath.c_str(), &status) == 0) {
    if (std::chrono::steady_clock::now() > deadline)
      fail(nodePath + " still there after destroying");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace
}  // namespace quillmote

int main() {
  std::string failure;
  try {
    quillmote::check();
  } catch (const quillmote::Failure& f) {
    failure = f.reason;
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (failure.empty()) {
    std::cout << "QUILLMOTE-UINPUT-RESULT: PASS" << std::endl;
    return 0;
  }
  std::cout << "QUILLMOTE-UINPUT-RESULT: FAIL " << failure << std::endl;
  return 1;
}
