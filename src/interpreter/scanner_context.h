// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <climits>
#include <string>
#include <string_view>

#include "interpreter/byte_source.h"
#include "interpreter/held_set.h"
#include "interpreter/start_condition.h"
#include "keyboard/keyboard_commands.h"
#include "mouse/mouse_commands.h"

namespace quillmote {

// Sees every token the scanner decides and the start condition its action leaves.
// For tests and tools that want to watch the language at work.
class TokenObserver {
 public:
  virtual ~TokenObserver() = default;
  // Called before the action runs, with the rule number (1 to 26), the token and the start
  // condition it was decided in.
  virtual void tokenDecided(int rule, std::string_view token, StartCondition before) = 0;
  virtual void actionDone(StartCondition after) = 0;
  // The scanner asks the feed for a byte (it may wait for one), and the byte it got.
  virtual void byteRequested() {}
  virtual void byteReceived(unsigned char) {}
  // A run has ended, or the program let up what it held: nothing more follows for now.
  virtual void inputEnded() {}
};

// Everything the rule actions work on: the state of one interpreter.
struct ScannerContext {
  explicit ScannerContext(EventServices& events) : keyboard(events), mouse(events) {
    longToken.reserve(kInitialBufferCapacity + 2);
  }

  KeyboardCommands keyboard;
  MouseCommands mouse;
  ByteSource* feed = nullptr;
  // Set and cleared from another thread while a run is in progress (the monitor opens and
  // closes); without one, watching costs one load per byte and token.
  std::atomic<TokenObserver*> observer{nullptr};
  TokenObserver* watching() const { return observer.load(std::memory_order_acquire); }

  // Told when what is held has changed, looked at whenever the scanner is about to wait
  // for a byte, so on the reader thread during a run. Set before the first run.
  HeldObserver* heldObserver = nullptr;
  HeldSet heldShown;  // what the observer was last told
  HeldSet held() const;
  // Tells the observer when what is held differs from what it was last told: a look over
  // the key table per byte, a small cost beside posting an event, and none without one.
  void lookAtHeld();

  // The scanner's buffer starts with room for this many bytes.
  static constexpr int kInitialBufferCapacity = 16384;
  // A token too long for the generated scanner's bounded patterns: its bytes so far, the
  // start condition it began in, and the room kept for them, grown as the scanner's
  // buffer grows (doubled, or by an eighth near the int limit) so it is never realloc'd
  // per byte.
  std::string longToken;
  int longTokenCondition = 0;
  int longTokenCapacity = kInitialBufferCapacity;

  void growLongTokenBuffer() {
    while (static_cast<int>(longToken.size()) >= longTokenCapacity - 1) {
      longTokenCapacity = longTokenCapacity > INT_MAX / 2
                              ? longTokenCapacity + longTokenCapacity / 8
                              : longTokenCapacity * 2;
      longToken.reserve(static_cast<std::size_t>(longTokenCapacity) + 2);
    }
  }
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
