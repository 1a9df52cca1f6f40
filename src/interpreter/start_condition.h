// SPDX-License-Identifier: MIT
#pragma once

namespace quillmote {

// The scanner's only context between tokens, numbered in order of declaration.
enum class StartCondition {
  INITIAL = 0,       // plain typing
  COMMAND = 1,       // an escape byte has arrived
  LOCK_LIST = 2,     // after ",lock"
  COMBINE_LIST = 3,  // after ",combine"
  HOLD_LIST = 4,     // after ",hold"
  MOUSE_BUTTON = 5,  // a mouse command is armed
};

const char* startConditionName(StartCondition condition);

}  // namespace quillmote
