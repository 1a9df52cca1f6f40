// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>
#include <string>

namespace quillmote {

struct RunOptions {
  std::string port;
  int baud = 9600;
  // "xtest", "uinput" or "trace"; empty: QUILLMOTE_BACKEND, else what the session offers.
  std::string backend;
  // Waits for an unplugged device to come back instead of ending.
  bool reconnect = false;
  // Plain US key positions instead of what they type; else QUILLMOTE_KEYS decides.
  bool keyPositions = false;
  // The uinput backend's keyboard layout, LAYOUT[:VARIANT]; empty: the compositor's, or
  // the one assumed.
  std::string layout;
  // The uinput backend's pointer mode, "absolute" or "relative"; empty: QUILLMOTE_POINTER,
  // else absolute wherever the desktop's size is known.
  std::string pointer;
  // Prints on `out`, as they happen, the bytes received, each command the scanner takes
  // and the events posted for it, in the trace format's words, and a line "held ..."
  // whenever the keys and buttons held down change.
  bool echo = false;
};

// Ended by the X server's going away: the xtest backend has nothing left to type into.
inline constexpr int kDisplayGoneStatus = 3;

// Translates the port's bytes until SIGINT or SIGTERM, then stops as the desktop
// program does: exit flag, wait for done, drain, restore, close; then releases every
// key and button still down. Returns 0 after a clean stop, 1 when the backend or the
// port could not start (the message says why), 2 for a QUILLMOTE_BACKEND or
// QUILLMOTE_KEYS that names nothing Quillmote has, kDisplayGoneStatus when the X server
// of the xtest backend went away (translation stopped at once, the line restored, one
// line said so).
int runTranslation(const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quillmote
