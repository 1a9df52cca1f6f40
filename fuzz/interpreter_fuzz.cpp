// The whole interpreter under libFuzzer: bytes in through the memory feed, events out
// through the trace backend, with the promises the keyboard and mouse models make
// checked after every input. Any broken promise aborts, and libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "interpreter/interpreter.h"
#include "keyboard/key_state.h"
#include "platform/trace_event_services.h"

namespace {

using namespace quillmote;

[[noreturn]] void broken(const char* promise) {
  std::fprintf(stderr, "broken promise: %s\n", promise);
  std::abort();
}

// Forwards to the trace backend and keeps its own record of what is down, so a second
// press of a down key or a release of an up key is caught where it is posted.
class CheckingEvents final : public EventServices {
 public:
  explicit CheckingEvents(EventServices& trace) : trace_(trace) {}

  void postKeyboardEvent(std::uint16_t charCode, std::uint16_t keyCode, bool keyDown) override {
    if (charCode != 0) broken("the character code is always 0");
    if (keyCode > 255) broken("key codes are 0 to 255");
    if (keyDown == down_[keyCode]) broken("a press of a down key or a release of an up key");
    down_[keyCode] = keyDown;
    trace_.postKeyboardEvent(charCode, keyCode, keyDown);
  }
  void postMouseEvent(Point position, bool update, std::uint32_t buttonCount, bool left,
                      bool right, bool third) override {
    if (buttonCount != 3) broken("the button count is always 3");
    if (third) broken("the third button is never posted down");
    trace_.postMouseEvent(position, update, buttonCount, left, right, third);
  }
  void warpMouseCursorPosition(Point position) override { trace_.warpMouseCursorPosition(position); }
  GlobalMousePoint getGlobalMouse() override { return trace_.getGlobalMouse(); }

  bool isDown(int keyCode) const { return down_[keyCode]; }

 private:
  EventServices& trace_;
  bool down_[256] = {};
};

// Runs the input as two runs split where its first byte says (a stop in the middle),
// checks the models, and returns the trace.
std::string runAndCheck(std::string_view input) {
  std::ostringstream out;
  TraceEventServices trace(out, ScreenSize{}, GlobalMousePoint{300, 500});
  CheckingEvents events(trace);
  Interpreter interpreter(events);
  std::size_t split = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % (input.size() + 1);
  for (std::string_view run : {input.substr(0, split), input.substr(split)}) {
    MemoryByteSource feed(run);
    if (interpreter.do_quillmote(feed) != 0) broken("a run returns 0");
    int condition = static_cast<int>(interpreter.startCondition());
    if (condition < 0 || condition > 5) broken("the start condition is one of six");
    for (int keyCode = 0; keyCode < 256; ++keyCode) {
      std::int32_t word = interpreter.keyState().state(keyCode);
      if (word != 0 && word != 1 && word != 3 && word != 5 && word != 7) {
        broken("a key state word is 0, 1, 3, 5 or 7");
      }
      if ((word != 0) != events.isDown(keyCode)) broken("the model and the events agree");
    }
    for (std::int32_t button : interpreter.mouseState().MBState) {
      if (button != 0 && button != 1) broken("a button state is 0 or 1");
    }
  }
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string first = runAndCheck(input);
  if (runAndCheck(input) != first) broken("the same bytes on fresh state give the same trace");
  return 0;
}
