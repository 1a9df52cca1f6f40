// SPDX-License-Identifier: MIT
#pragma once

// The promises the keyboard and mouse models make, shared by the golden cases and the
// fuzzer (header-only: the fuzzer builds without the test support library).
#include <cstdint>
#include <string>
#include <vector>

#include "interpreter/interpreter.h"

namespace quillmote::test {

// Forwards every operation to `inner`, keeping its own record of what is down, so a press
// of a down key or a release of an up key is caught where it is posted.
class PromiseChecker final : public EventServices {
 public:
  explicit PromiseChecker(EventServices& inner) : inner_(inner) {}

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override {
    expect(charCode == 0, "the character code is always 0");
    expect(keyCode < 256 && keyDown != down_[keyCode & 0xFF],
           "a key code below 256, pressed when up and released when down");
    down_[keyCode & 0xFF] = keyDown;
    inner_.postKeyboardEvent(charCode, keyCode, keyDown);
  }
  void postMouseEvent(Point at, bool update, std::uint32_t count, bool left, bool right,
                      bool third) override {
    expect(count == 3 && !third, "three buttons, the third never posted down");
    inner_.postMouseEvent(at, update, count, left, right, third);
  }
  void warpMouseCursorPosition(Point at) override { inner_.warpMouseCursorPosition(at); }
  GlobalMousePoint getGlobalMouse() override { return inner_.getGlobalMouse(); }

  // After a run: the models' own state is well formed and agrees with the events posted.
  void checkModels(const Interpreter& interpreter) {
    for (int code = 0; code < 256; ++code) {
      std::int32_t word = interpreter.keyState().state(code);
      expect(word == 0 || word == 1 || word == 3 || word == 5 || word == 7,
             "a key state word is 0, 1, 3, 5 or 7");
      expect((word != 0) == down_[code], "the key model and the events agree");
    }
    for (std::int32_t button : interpreter.mouseState().MBState) {
      expect(button == 0 || button == 1, "a button state is 0 or 1");
    }
  }

  const std::vector<std::string>& brokenPromises() const { return broken_; }  // in order

 private:
  void expect(bool kept, const char* promise) {
    if (!kept) broken_.emplace_back(promise);
  }

  EventServices& inner_;
  bool down_[256] = {};
  std::vector<std::string> broken_;
};

}  // namespace quillmote::test
