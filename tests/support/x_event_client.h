#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct _XDisplay;

namespace quillmote::test {

// One input event as an X application receives it.
struct XRecordedEvent {
  enum class Kind { kKeyPress, kKeyRelease, kButtonPress, kButtonRelease, kMotion };

  Kind kind;
  unsigned long keysym = 0;  // key events: XLookupString's keysym, modifiers applied
  std::string text;          // key events: XLookupString's text
  unsigned int button = 0;   // button events
  int x = 0;                 // root coordinates of the pointer
  int y = 0;
  unsigned int state = 0;  // modifier and button mask just before the event
  std::chrono::steady_clock::time_point received;

  bool isKey() const { return kind == Kind::kKeyPress || kind == Kind::kKeyRelease; }
  bool isButton() const { return kind == Kind::kButtonPress || kind == Kind::kButtonRelease; }

  // "down A 'A' +shift", "down j ^J +control", "up A", "press 1 at 400,200",
  // "release 3 at 0,0", "motion 530,320 +button1".
  std::string describe() const;
};

// A small X application of the tests' own: one window over the whole screen, mapped and
// given the input focus, that records what it receives. Everything happens on the
// calling thread: events are read while a wait runs, so no event is read behind a
// test's back and no lock is needed.
class XEventClient {
 public:
  // Connects to `displayName`. Throws std::runtime_error when that fails.
  explicit XEventClient(const std::string& displayName);
  ~XEventClient();
  XEventClient(const XEventClient&) = delete;
  XEventClient& operator=(const XEventClient&) = delete;

  // Reads events until `condition` holds (checked after each batch) or `timeout` has
  // passed; returns whether it held. The condition may look at events() or ask the
  // server; a server state that brings no event is looked at again every 10 ms.
  bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  // Reads events until one accepted by `matches` has been recorded; false after
  // `timeout`.
  bool waitForEvent(const std::function<bool(const XRecordedEvent&)>& matches,
                    std::chrono::milliseconds timeout);

  // Everything recorded since the start or the last clear(), in order of arrival.
  const std::vector<XRecordedEvent>& events() const { return events_; }
  void clear() { events_.clear(); }

  struct PointerState {
    int x;
    int y;
    unsigned int mask;  // modifier and button mask, as XQueryPointer gives it
  };
  PointerState pointer();
  // Moves the pointer, and returns once the server has done it.
  void warpPointer(int x, int y);
  // The X key codes the server has down (XQueryKeymap), ascending.
  std::vector<int> keysDown();

  _XDisplay* display() const { return display_; }

 private:
  // Records every event already in reach without blocking.
  void readPendingEvents();

  _XDisplay* display_ = nullptr;
  unsigned long window_ = 0;
  std::vector<XRecordedEvent> events_;
};

}  // namespace quillmote::test
