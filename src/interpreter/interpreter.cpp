// SPDX-License-Identifier: MIT
#include "interpreter/interpreter.h"

#include <new>

namespace quillmote {

const char* startConditionName(StartCondition condition) {
  switch (condition) {
    case StartCondition::INITIAL:
      return "INITIAL";
    case StartCondition::COMMAND:
      return "COMMAND";
    case StartCondition::LOCK_LIST:
      return "LOCK_LIST";
    case StartCondition::COMBINE_LIST:
      return "COMBINE_LIST";
    case StartCondition::HOLD_LIST:
      return "HOLD_LIST";
    case StartCondition::MOUSE_BUTTON:
      return "MOUSE_BUTTON";
  }
  return "?";
}

Interpreter::Interpreter(EventServices& events)
    : events_(events), context_(events.unwatched()), scanner_(scanner_create(&context_)) {
  if (scanner_ == nullptr) throw std::bad_alloc();
}

void Interpreter::setTokenObserver(TokenObserver* observer) {
  // Events first: an observer that watches them never misses one of its tokens.
  EventServices& route = observer ? events_ : events_.unwatched();
  context_.keyboard.keyState().routeEventsTo(route);
  context_.mouse.mouseState().routeEventsTo(route);
  context_.observer.store(observer, std::memory_order_release);
}

Interpreter::~Interpreter() { scanner_destroy(scanner_); }

void Interpreter::releaseEverythingHeld() {
  context_.keyboard.release_all_keys();
  MouseState& mouse = context_.mouse.mouseState();
  if (mouse.MBState[0] || mouse.MBState[1] || mouse.MBState[2]) {
    mouse.MousePos = mouse.mouse_position();
    mouse.MBState = {0, 0, 0};
    mouse.mouse_post();
  }
  if (auto* watcher = context_.watching()) watcher->inputEnded();
  context_.lookAtHeld();
}

void Interpreter::releaseAll() {
  context_.keyboard.release_all_keys();
  context_.mouse.arm_button_release();
  context_.mouse.perform_mouse_action();
  if (auto* watcher = context_.watching()) watcher->inputEnded();
  context_.lookAtHeld();
}

HeldSet ScannerContext::held() const {
  HeldSet held;
  const KeyState& keys = keyboard.keyState();
  for (int keyCode = 0; keyCode < 256; ++keyCode) {
    if (keys.state(keyCode) != 0) {
      held.keys.push_back({keyCode, (keys.state(keyCode) & kKeyLocked) != 0});
    }
  }
  const MouseState& pointer = mouse.mouseState();
  for (std::size_t button = 0; button < held.buttons.size(); ++button) {
    held.buttons[button] = pointer.MBState[button] != 0;
  }
  return held;
}

void ScannerContext::lookAtHeld() {
  if (heldObserver == nullptr) return;
  HeldSet now = held();
  if (now == heldShown) return;
  heldShown = std::move(now);
  heldObserver->heldChanged(heldShown);
}

int Interpreter::do_quillmote(ByteSource& feed) {
  context_.keyboard.InitUSKeyCodes();
  context_.feed = &feed;
  int result = scanner_run(scanner_);
  context_.feed = nullptr;
  if (auto* watcher = context_.watching()) watcher->inputEnded();
  context_.lookAtHeld();
  return result;
}

}  // namespace quillmote
