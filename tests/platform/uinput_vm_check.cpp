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

// The node of `path`, read as any client reads it.
libevdev* reader(const std::string& path) {
  libevdev* node = nullptr;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  require(libevdev_new_from_fd(fd, &node) == 0, "cannot read " + path);
  return node;
}

// Exactly the events promised, as the kernel tells any client.
void requireExactly(libevdev* node, const std::set<std::pair<int, int>>& promised) {
  for (int type = EV_KEY; type <= EV_MAX; ++type) {
    for (int code = 0; code <= std::max(0, libevdev_event_type_get_max(type)); ++code) {
      require(libevdev_has_event_code(node, type, code) == promised.contains({type, code}),
              std::string(libevdev_get_name(node)) + ": event type " + std::to_string(type) +
                  " code " + std::to_string(code));
    }
  }
}

void check() {
  std::string error;
  UInputDesktop desktop;
  desktop.size = DesktopBox{0, 0, 1280, 720};
  std::unique_ptr<UInputEventServices> events =
      UInputEventServices::open("/dev/uinput", std::move(desktop), error);
  require(events != nullptr, error);
  libevdev* keyboard = reader(events->keyboardNode());
  libevdev* pointer = reader(events->pointerNode());
  require(libevdev_get_name(keyboard) == std::string(kVirtualKeyboardName), "the keyboard's name");
  require(libevdev_get_name(pointer) == std::string(kVirtualPointerName), "the pointer's name");
  // Keys only on the one, the pointer only on the other: every key a layout may use.
  std::set<std::pair<int, int>> keys, pointing = {{EV_ABS, ABS_X}, {EV_ABS, ABS_Y}};
  for (int key = KEY_ESC; key <= 247; ++key) keys.insert({EV_KEY, key});
  for (const KeyCodeTranslation& k : keyCodeTranslations())
    require(keys.contains({EV_KEY, k.evdevCode}), k.name);
  for (int button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE}) pointing.insert({EV_KEY, button});
  requireExactly(keyboard, keys);
  requireExactly(pointer, pointing);
  // One step of the axes a pixel of the desktop.
  require(libevdev_get_abs_maximum(pointer, ABS_X) == 1279 &&
              libevdev_get_abs_maximum(pointer, ABS_Y) == 719,
          "the axes do not span 1280x720");
  int tty = open("/dev/tty0", O_RDWR | O_NOCTTY);
  auto interpreter = std::make_unique<Interpreter>(*events);
  auto expect = [&](libevdev* node, std::string_view bytes, const std::string& wanted) {
    MemoryByteSource source(bytes);
    interpreter->do_quillmote(source);
    std::string got;
    while (got.size() < wanted.size()) got += next(node);
    require(got == wanted, std::string(bytes) + " gave " + got + "instead of " + wanted);
  };
  expect(keyboard, "Ab",
         "KEY_LEFTSHIFT 1 / KEY_A 1 / KEY_A 0 / KEY_LEFTSHIFT 0 / KEY_B 1 / KEY_B 0 / ");
  // Confined to the desktop; an axis already at its value steps aside so that it counts.
  expect(pointer, "\033,move,10,-5.\033,click.",
         "ABS_X 10 ABS_Y 1 ABS_Y 0 / BTN_LEFT 1 / BTN_LEFT 0 / ");
  expect(pointer, "\033,move,5000,5000.\033,moureset.",
         "ABS_X 1279 ABS_Y 719 / ABS_X 0 ABS_Y 0 / ");
  expect(keyboard, "\033enter.\033,lock,shift.", "KEY_ENTER 1 / KEY_ENTER 0 / KEY_LEFTSHIFT 1 / ");
  require(consoleShiftDown(tty), "the console keyboard did not see shift locked");
  interpreter.reset(), events.reset();  // the interpreter goes first: it posts to the device
  // A client sees the kernel's release only if it reads before the node is torn down.
  for (std::string late = next(keyboard); late != "gone "; late = next(keyboard)) {
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
