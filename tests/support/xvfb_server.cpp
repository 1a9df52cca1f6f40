// SPDX-License-Identifier: MIT
#include "support/xvfb_server.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

namespace quillmote::test {

XvfbServer::XvfbServer() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  const std::string readyFd = std::to_string(ChildProcess::kPassedDescriptor);
  process_.reset(new ChildProcess({"Xvfb", "-displayfd", readyFd, "-noreset", "-nolisten", "tcp",
                                   "-screen", "0", "1280x800x24"},
                                  {}, ready[1]));
  close(ready[1]);
  // Xvfb writes the display number and a line feed there once clients can connect.
  pollfd waiting{ready[0], POLLIN, 0};
  for (char c = 0; c != '\n' && poll(&waiting, 1, 15000) == 1 && read(ready[0], &c, 1) == 1;) {
    displayName_ += c;
  }
  close(ready[0]);
  if (!displayName_.ends_with('\n')) throw std::runtime_error("Xvfb: " + process_->errorOutput());
  displayName_ = ":" + displayName_.substr(0, displayName_.size() - 1);
}

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
      if (e.type == MappingNotify) {
        XRefreshKeyboardMapping(&e.xmapping);  // as every Xlib client must
      } else if (e.type == KeyPress || e.type == KeyRelease) {
        KeySym keysym = NoSymbol;
        char text[16];
        XLookupString(&e.xkey, text, sizeof text, &keysym, nullptr);
        const char* name = XKeysymToString(keysym);
        bool control = e.type == KeyPress && (e.xkey.state & ControlMask) && !IsModifierKey(keysym);
        heard.push_back((e.type == KeyPress ? "down " : "up ") +
                        std::string(control ? "Control+" : "") + (name ? name : "?"));
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
