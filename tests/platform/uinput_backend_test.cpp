// The uinput backend where no virtual device can be made: what it tells the user, and
// the evdev codes it gives the kernel. The device itself is exercised inside a virtual
// machine by uinput_vm_check (.ci/uinput-vm.sh).
#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "platform/key_code_translation.h"
#include "platform/uinput/uinput_event_services.h"

namespace quillmote {
namespace {

TEST(UInputOpen, without_the_module_says_how_to_load_it) {
  if (access("/dev/uinput", F_OK) == 0) {
    GTEST_SKIP() << "/dev/uinput exists here; the missing-module message needs a machine "
                    "without it";
  }
  std::string error;
  EXPECT_EQ(UInputEventServices::open("/dev/uinput", error), nullptr);
  for (const char* part :
       {"/dev/uinput: No such file or directory", "modprobe uinput", "/etc/modules-load.d/"}) {
    EXPECT_NE(error.find(part), std::string::npos) << "no \"" << part << "\" in: " << error;
  }
}

// A node only its owner may write, as /dev/uinput is out of the box. Root opens anything,
// so the child process that tries drops to nobody first.
TEST(UInputOpen, node_without_write_access_names_the_udev_rule_and_the_group) {
  char path[] = "/tmp/quillmote-uinput-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(chmod(path, 0444), 0);

  EXPECT_EXIT(
      {
        if (geteuid() == 0 && setuid(65534) != 0) std::exit(2);
        std::string error;
        bool opened = UInputEventServices::open(path, error) != nullptr;
        std::cerr << error;
        std::exit(opened ? 1 : 0);
      },
      testing::ExitedWithCode(0),
      "Permission denied.*udev rule.*uinput.*uaccess.*udevadm trigger.*group");
  unlink(path);
}

// Most translations carry the name that <linux/input-event-codes.h> gives their evdev code
// ("q" is KEY_Q, "page up" KEY_PAGEUP, "keypad 7" KEY_KP7); the rest are listed. A code
// slipped to a neighbouring key ("5" as KEY_6) or into the button range shows up here.
TEST(UInputKeys, every_evdev_code_is_the_keyboard_key_its_name_says) {
  const std::map<std::string, std::string> differentlyNamed = {
      {"return", "KEY_ENTER"},
      {"escape", "KEY_ESC"},
      {"quote", "KEY_APOSTROPHE"},
      {"period", "KEY_DOT"},
      {"left bracket", "KEY_LEFTBRACE"},
      {"right bracket", "KEY_RIGHTBRACE"},
      {"shift", "KEY_LEFTSHIFT"},
      {"control", "KEY_LEFTCTRL"},
      {"option", "KEY_LEFTALT"},
      {"command", "KEY_LEFTMETA"},
      {"keypad multiply", "KEY_KPASTERISK"},
      {"keypad divide", "KEY_KPSLASH"},
      {"keypad decimal", "KEY_KPDOT"},
  };
  for (const KeyCodeTranslation& key : keyCodeTranslations()) {
    std::string name = key.name;
    std::string expected = "KEY_";
    if (auto listed = differentlyNamed.find(name); listed != differentlyNamed.end()) {
      expected = listed->second;
    } else {
      if (name.rfind("keypad ", 0) == 0) name.replace(0, 7, "kp");
      for (char c : name) {
        if (c != ' ') expected += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    const char* evdevName = libevdev_event_code_get_name(EV_KEY, key.evdevCode);
    EXPECT_EQ(evdevName ? evdevName : "(none)", expected) << "key code " << key.keyCode;
    // Below the buttons: the device's three buttons stay apart from its keys, and
    // desktops class it as a keyboard.
    EXPECT_LT(key.evdevCode, BTN_MISC) << key.name;
  }
}

}  // namespace
}  // namespace quillmote
