// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "interpreter/start_condition.h"
#include "keyboard/key_tables.h"
#include "monitor/monitor_record.h"

namespace quillmote {

// A byte for people: ESC, SP, printable ASCII as itself, ^J for a control byte that types
// its key, 0x0D for a byte that no key types (carriage return, DEL, 0x80 to 0xFF).
std::string byteNotation(unsigned char byte);

// Turns the monitor's records into the lines people read, in order:
//   byte e  (e waits for its period)
//   byte .
//   command enter.  -> INITIAL
//   key 36 down  # return            (events exactly as the trace tool prints them)
//   command 0x0D  (typed nothing: no key types it)
// A byte's line waits for the record after it, which says whether the byte completed a
// command or left one waiting; a command's line, and the events its action posted, wait
// for the start condition the action left, which the arrow names where it changed.
class MonitorLines {
 public:
  MonitorLines() { tables_.InitUSKeyCodes(); }

  // Appends the lines that `record` completes to `lines`.
  void add(const MonitorRecord& record, std::vector<std::string>& lines);

 private:
  void flushByte(std::vector<std::string>& lines, const char* note = "");
  void flushCommand(std::vector<std::string>& lines);
  void eventLine(std::string line, std::vector<std::string>& lines);
  // The open command's line, `after` its action (nothing when that went unseen).
  std::string commandLine(std::optional<StartCondition> after) const;

  KeyTables tables_;
  std::array<std::uint16_t, 256> entries_ = USCharacterEntries();
  std::optional<unsigned char> heldByte_;
  // The first bytes of those waiting undecided, and how many there are.
  std::string pending_;
  std::uint32_t pendingCount_ = 0;
  // The command decided and its action not yet done: its first bytes, its length, the
  // condition it was decided in, and the events posted meanwhile.
  bool commandOpen_ = false;
  std::string token_;
  std::uint32_t tokenLength_ = 0;
  StartCondition before_ = StartCondition::INITIAL;
  std::vector<std::string> heldEvents_;
};

}  // namespace quillmote
