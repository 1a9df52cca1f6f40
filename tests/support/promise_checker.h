#pragma once

// The promises the keyboard and mouse models make, checked on every event as it is
// posted and on the models after every run. Shared by the golden cases and the fuzzer,
// so both hold the interpreter to the same rules. Header-only: the fuzzer builds
// without the test support library.
#include <cstdint>
#include <string>
#include <vector>

#include "interpreter/interpreter.h"

namespace quillmote::test {

// Forwards every operation and keeps its own record of what is down, so a second
// press of a down key or a release of an up key is caught where it is posted.
class PromiseChecker final : public EventServices {
 public:
  explicit PromiseChecker(EventServices& inner) : inner_(inner) {}

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override {
    if (charCode != 0) broken("the character code is always 0");
    if (keyCode > 255) {
      broken("key codes are 0 to 255");
    } else {
      if (keyDown == down_[keyCode]) broken("a press of a down key or a release of an up key");
      down_[keyCode] = keyDown;
    }
    inner_.postKeyboardEvent(charCode, keyCode, keyDown);
  }
  void postMouseEvent(Point position, bool update, std::uint32_t buttonCount, bool left,
                      bool right, bool third) override {
    if (buttonCount != 3) broken("the button count is always 3");
    if (third) broken("the third button is never posted down");
    inner_.postMouseEvent(position, update, buttonCount, left, right, third);
  }
  void warpMouseCursorPosition(Point position) override {
    inner_.warpMouseCursorPosition(position);
  }
  GlobalMousePoint getGlobalMouse() override { return inner_.getGlobalMouse(); }

  // After a run: the models' own state agrees with the events posted so far.
  void checkModels(const Interpreter& interpreter) {
    int condition = static_cast<int>(interpreter.startCondition());
    if (condition < 0 || condition > 5) broken("the start condition is one of six");
    for (int keyCode = 0; keyCode < 256; ++keyCode) {
      std::int32_t word = interpreter.keyState().state(keyCode);
      if (word != 0 && word != 1 && word != 3 && word != 5 && word != 7) {
        broken("a key state word is 0, 1, 3, 5 or 7");
      }
      if ((word != 0) != down_[keyCode]) broken("the model and the events agree");
    }
    for (std::int32_t button : interpreter.mouseState().MBState) {
      if (button != 0 && button != 1) broken("a button state is 0 or 1");
    }
  }

  // Every promise broken so far, in order, each once per time it was broken.
  const std::vector<std::string>& brokenPromises() const { return broken_; }

 private:
  void broken(const char* promise) { broken_.emplace_back(promise); }

  EventServices& inner_;
  bool down_[256] = {};
  std::vector<std::string> broken_;
};

}  // namespace quillmote::test
