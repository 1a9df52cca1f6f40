#include "support/x_event_client.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <stdexcept>

namespace quillmote::test {
namespace {

std::string keysymName(unsigned long keysym) {
  const char* name = XKeysymToString(keysym);
  return name != nullptr ? name : "NoSymbol";
}

// Printable text in quotes, control characters in caret notation.
std::string shownText(const std::string& text) {
  std::string shown;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += std::string("'") + c + "'";
    } else {
      shown += std::string("^") + static_cast<char>(byte ^ 0x40);
    }
  }
  return shown;
}

}  // namespace

std::string XRecordedEvent::describe() const {
  std::string at = std::to_string(x) + "," + std::to_string(y);
  switch (kind) {
    case Kind::kKeyPress: {
      std::string shown = "down " + keysymName(keysym);
      if (!text.empty()) shown += " " + shownText(text);
      if (state & ShiftMask) shown += " +shift";
      if (state & ControlMask) shown += " +control";
      return shown;
    }
    case Kind::kKeyRelease:
      return "up " + keysymName(keysym);
    case Kind::kButtonPress:
      return "press " + std::to_string(button) + " at " + at;
    case Kind::kButtonRelease:
      return "release " + std::to_string(button) + " at " + at;
    case Kind::kMotion: {
      std::string shown = "motion " + at;
      const unsigned int masks[] = {Button1Mask, Button2Mask, Button3Mask};
      for (int i = 0; i < 3; ++i) {
        if (state & masks[i]) shown += " +button" + std::to_string(i + 1);
      }
      return shown;
    }
  }
  return "?";
}

XEventClient::XEventClient(const std::string& displayName) {
  display_ = XOpenDisplay(displayName.c_str());
  if (display_ == nullptr) {
    throw std::runtime_error("the test client cannot connect to the X display " + displayName);
  }
  int screen = DefaultScreen(display_);
  XSetWindowAttributes attributes{};
  // No window manager runs: override-redirect maps the window at once, where it is put.
  attributes.override_redirect = True;
  attributes.event_mask =
      KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
  window_ =
      XCreateWindow(display_, RootWindow(display_, screen), 0, 0,
                    static_cast<unsigned int>(DisplayWidth(display_, screen)),
                    static_cast<unsigned int>(DisplayHeight(display_, screen)), 0, CopyFromParent,
                    InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
  XMapRaised(display_, window_);
  // The focus can only go to a viewable window: the map must be done first.
  XSync(display_, False);
  XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

XEventClient::~XEventClient() {
  XDestroyWindow(display_, window_);
  XCloseDisplay(display_);
}

void XEventClient::readPendingEvents() {
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    XRecordedEvent recorded{};
    recorded.received = std::chrono::steady_clock::now();
    switch (event.type) {
      case KeyPress:
      case KeyRelease: {
        char text[32];
        KeySym keysym = NoSymbol;
        int length = XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
        recorded.kind = event.type == KeyPress ? XRecordedEvent::Kind::kKeyPress
                                               : XRecordedEvent::Kind::kKeyRelease;
        recorded.keysym = keysym;
        recorded.text.assign(text, static_cast<std::size_t>(std::max(length, 0)));
        recorded.x = event.xkey.x_root;
        recorded.y = event.xkey.y_root;
        recorded.state = event.xkey.state;
        break;
      }
      case ButtonPress:
      case ButtonRelease:
        recorded.kind = event.type == ButtonPress ? XRecordedEvent::Kind::kButtonPress
                                                  : XRecordedEvent::Kind::kButtonRelease;
        recorded.button = event.xbutton.button;
        recorded.x = event.xbutton.x_root;
        recorded.y = event.xbutton.y_root;
        recorded.state = event.xbutton.state;
        break;
      case MotionNotify:
        recorded.kind = XRecordedEvent::Kind::kMotion;
        recorded.x = event.xmotion.x_root;
        recorded.y = event.xmotion.y_root;
        recorded.state = event.xmotion.state;
        break;
      case MappingNotify:
        XRefreshKeyboardMapping(&event.xmapping);
        continue;
      default:
        continue;
    }
    events_.push_back(std::move(recorded));
  }
}

bool XEventClient::waitUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    readPendingEvents();
    if (condition()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(std::min<long>(left.count(), 10)));
  }
}

bool XEventClient::waitForEvent(const std::function<bool(const XRecordedEvent&)>& matches,
                                std::chrono::milliseconds timeout) {
  std::size_t checked = 0;
  return waitUntil(
      [&] {
        for (; checked < events_.size(); ++checked) {
          if (matches(events_[checked])) return true;
        }
        return false;
      },
      timeout);
}

XEventClient::PointerState XEventClient::pointer() {
  Window root = 0, child = 0;
  int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
  unsigned int mask = 0;
  XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &windowX,
                &windowY, &mask);
  return {rootX, rootY, mask};
}

void XEventClient::warpPointer(int x, int y) {
  XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
  XSync(display_, False);
  // The motion it caused is recorded now, so a clear() after this forgets it.
  readPendingEvents();
}

std::vector<int> XEventClient::keysDown() {
  char keys[32];
  XQueryKeymap(display_, keys);
  std::vector<int> down;
  for (int code = 0; code < 256; ++code) {
    if (keys[code / 8] & (1 << (code % 8))) down.push_back(code);
  }
  return down;
}

}  // namespace quillmote::test
