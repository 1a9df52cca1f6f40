// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "interpreter/scanner_context.h"

namespace quillmote {

// One command interpreter: scanner, keyboard model and mouse model. Everything in it
// survives from one run to the next (start condition, keys, buttons), so a program
// makes one for its whole life and calls do_quillmote once per run of translation.
class Interpreter {
 public:
  // Throws std::bad_alloc when the scanner cannot be created.
  explicit Interpreter(EventServices& events);
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // One run: fills the character table, then scans bytes from `feed` until it reports
  // end of input; bytes still pending then are scanned to their end. Returns 0.
  int do_quillmote(ByteSource& feed);

  // For the end of the process, after translation has stopped: releases every key the
  // program has down (ascending key code) and lets every mouse button up, so nothing
  // stays pressed once nobody is left to release it. Never while a run is in progress.
  void releaseEverythingHeld();

  // Lets up every key and button, exactly as the commands ,rel. and ,mourel. do: for a
  // person whose computer is stuck with a key or button down. Never while a run is in
  // progress.
  void releaseAll();

  // What is held now. Never while a run is in progress.
  HeldSet held() const { return context_.held(); }
  // Told of every change of what is held: on the reader thread before the interpreter
  // waits for a byte, and at the end of a run; on the caller's after a release. Set
  // before the first run; must outlive the runs.
  void setHeldObserver(HeldObserver* observer) { context_.heldObserver = observer; }

  StartCondition startCondition() const { return scanner_start_condition(scanner_); }
  int bufferCapacity() const { return scanner_buffer_capacity(scanner_); }
  const KeyState& keyState() const { return context_.keyboard.keyState(); }
  const MouseState& mouseState() const { return context_.mouse.mouseState(); }

  // Watches every token from now on; nullptr to stop watching. May be called from another
  // thread while a run is in progress; an observer taken away must live until the run ends.
  // While nobody watches, events skip whatever watches them on their way (the monitor's
  // tap) and go straight to its backend.
  void setTokenObserver(TokenObserver* observer);

 private:
  EventServices& events_;
  ScannerContext context_;
  ScannerHandle scanner_;
};

}  // namespace quillmote
