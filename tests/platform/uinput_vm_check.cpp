// SPDX-License-Identifier: MIT
// The uinput backend on a real kernel, as a virtual machine's only program (.ci/uinput-vm.sh):
// makes the device, reads it back through its event node and prints one line for the script,
//   QUILLMOTE-UINPUT-RESULT: PASS   or   QUILLMOTE-UINPUT-RESULT: FAIL <reason>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/keyboard.h>
#include <linux/tiocl.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <iostream>
#include <set>
#include <stdexcept>

#include "interpreter/byte_source.h"
#include "interpreter/interpreter.h"
#include "platform/key_code_translation.h"
#include "platform/uinput/uinput_event_services.h"

namespace quillmote {
namespace {

void require(bool holds, const std::string& failure) {
  if (!holds) throw std::runtime_error(failure);
}

// The node's next event, "KEY_A 1 " or "/ " for a report; "gone " once the device is gone.
// An emulated machine on a busy host can stall: only an event missing for 10 s fails.
std::string next(libevdev* node) {
  input_event e;
  int status;
  while ((status = libevdev_next_event(node, LIBEVDEV_READ_FLAG_NORMAL, &e)) == -EAGAIN) {
    pollfd ready{libevdev_get_fd(node), POLLIN, 0};
    require(poll(&ready, 1, 10000) == 1, "no event within 10 s");
  }
  if (status == -ENODEV) return "gone ";
  require(status == LIBEVDEV_READ_STATUS_SUCCESS, "reading the node: " + std::to_string(status));
  if (e.type == EV_SYN) return "/ ";
  return libevdev_event_code_get_name(e.type, e.code) + (" " + std::to_string(e.value) + " ");
}

// The console keyboard listens to every keyboard device and its state outlives this one:
// it shows whether the kernel let go of a key when the device went away.
bool consoleShiftDown(int tty) {
  char request = TIOCL_GETSHIFTSTATE;
  require(ioctl(tty, TIOCLINUX, &request) == 0, "cannot read the console's shift state");
  return request & (1 << KG_SHIFT);
}

void check() {
  std::string error;
  std::unique_ptr<UInputEventServices> events = UInputEventServices::open("/dev/uinput", nullptr, error);
  require(events != nullptr, error);
  libevdev* node = nullptr;
  int fd = open(events->deviceNode().c_str(), O_RDONLY | O_NONBLOCK);
  require(libevdev_new_from_fd(fd, &node) == 0, "cannot read " + events->deviceNode());
  require(libevdev_get_name(node) == std::string(kVirtualDeviceName), "the device's name");
  // Exactly the keys, buttons and axes promised, as the kernel tells any client.
  std::set<std::pair<int, int>> promised = {{EV_REL, REL_X}, {EV_REL, REL_Y}};
  for (int button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE}) promised.insert({EV_KEY, button});
  for (const KeyCodeTranslation& k : keyCodeTranslations()) promised.insert({EV_KEY, k.evdevCode});
  for (int type = EV_KEY; type <= EV_MAX; ++type) {
    for (int code = 0; code <= std::max(0, libevdev_event_type_get_max(type)); ++code) {
      require(libevdev_has_event_code(node, type, code) == promised.contains({type, code}),
              "event type " + std::to_string(type) + " code " + std::to_string(code));
    }
  }
  int tty = open("/dev/tty0", O_RDWR | O_NOCTTY);
  auto interpreter = std::make_unique<Interpreter>(*events);
  auto expect = [&](std::string_view bytes, const std::string& wanted) {
    MemoryByteSource source(bytes);
    interpreter->do_quillmote(source);
    std::string got;
    while (got.size() < wanted.size()) got += next(node);
    require(got == wanted, std::string(bytes) + " gave " + got + "instead of " + wanted);
  };
  expect("Ab", "KEY_LEFTSHIFT 1 / KEY_A 1 / KEY_A 0 / KEY_LEFTSHIFT 0 / KEY_B 1 / KEY_B 0 / ");
  expect("\033,move,10,-5.\033,click.", "REL_X 10 REL_Y -5 / BTN_LEFT 1 / BTN_LEFT 0 / ");
  expect("\033enter.\033,lock,shift.", "KEY_ENTER 1 / KEY_ENTER 0 / KEY_LEFTSHIFT 1 / ");
  require(consoleShiftDown(tty), "the console keyboard did not see shift locked");
  interpreter.reset(), events.reset();  // the interpreter goes first: it posts to the device
  // A client sees the kernel's release only if it reads before the node is torn down.
  for (std::string late = next(node); late != "gone "; late = next(node)) {
    require(late == "KEY_LEFTSHIFT 0 " || late == "/ ", "after destroying: " + late);
  }
  require(!consoleShiftDown(tty), "shift still down after the device was destroyed");
}

}  // namespace
}  // namespace quillmote

int main() try {
  quillmote::check();
  std::cout << "QUILLMOTE-UINPUT-RESULT: PASS" << std::endl;
} catch (const std::exception& failure) {
  std::cout << "QUILLMOTE-UINPUT-RESULT: FAIL " << failure.what() << std::endl;
  return 1;
}
