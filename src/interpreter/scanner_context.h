// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "interpreter/byte_feed.h"
#include "interpreter/start_condition.h"
#include "keyboard/keyboard_commands.h"
#include "mouse/mouse_commands.h"

namespace quillmote {

// Sees every token the scanner decides and the start condition its action leaves.
// For tests and tools that want to watch the language at work.
class TokenObserver {
 public:
  virtual ~TokenObserver() = default;
  // Called before the action runs, with the rule number (1 to 26) and the token.
  virtual void tokenDecided(int rule, std::string_view token) = 0;
  virtual void actionDone(StartCondition after) = 0;
};

// Everything the rule actions work on: the state of one interpreter.
struct ScannerContext {
  explicit ScannerContext(EventServices& events) : keyboard(events), mouse(events) {}

  KeyboardCommands keyboard;
  MouseCommands mouse;
  ByteSource* feed = nullptr;
  TokenObserver* observer = nullptr;
};

// The generated scanner behind a small interface, so nothing else sees flex's macros.
using ScannerHandle = void*;
// Nothing when memory is exhausted.
ScannerHandle scanner_create(ScannerContext* context);
void scanner_destroy(ScannerHandle scanner);
// Scans until the feed reports end of input; always returns 0.
int scanner_run(ScannerHandle scanner);
StartCondition scanner_start_condition(ScannerHandle scanner);
// Bytes the input buffer can hold; 0 before the first run.
int scanner_buffer_capacity(ScannerHandle scanner);

}  // namespace quillmote
