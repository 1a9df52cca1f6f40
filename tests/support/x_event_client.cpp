#include "support/x_event_client.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <stdexcept>

namespace quillmote::test {

Display* listenToInput(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot connect to " + displayName);
  long keysAndButtons = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask;
  XSelectInput(display, DefaultRootWindow(display), keysAndButtons | PointerMotionMask);
  XSync(display, False);  // from here on, it hears everything
  return display;
}

bool hearUntil(Display* display, std::vector<std::string>& heard, const std::function<bool()>& done,
               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (pollfd connection{ConnectionNumber(display), POLLIN, 0};; poll(&connection, 1, 10)) {
    for (XEvent e; XPending(display) > 0;) {
      XNextEvent(display, &e);
      if (e.type == KeyPress || e.type == KeyRelease) {
        const char* name = XKeysymToString(XLookupKeysym(&e.xkey, e.xkey.state & ShiftMask));
        heard.push_back((e.type == KeyPress ? "down " : "up ") + std::string(name ? name : "?"));
      } else if (e.type == ButtonPress || e.type == ButtonRelease) {
        heard.push_back((e.type == ButtonPress ? "press " : "release ") +
                        std::to_string(e.xbutton.button));
      } else if (e.type == MotionNotify) {
        heard.push_back("motion " + std::to_string(e.xmotion.x_root) + "," +
                        std::to_string(e.xmotion.y_root));
      }
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
}

}  // namespace quillmote::test
