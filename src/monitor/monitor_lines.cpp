// SPDX-License-Identifier: MIT
#include "monitor/monitor_lines.h"

#include <cstdio>
#include <utility>

#include "platform/trace_format.h"

namespace quillmote {
namespace {

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isList(StartCondition condition) {
  switch (condition) {
    case StartCondition::HOLD_LIST:
    case StartCondition::LOCK_LIST:
    case StartCondition::COMBINE_LIST:
      return true;
    case StartCondition::INITIAL:
    case StartCondition::COMMAND:
    case StartCondition::MOUSE_BUTTON:
      return false;
  }
  return false;
}

std::string shown(const std::string& text, std::uint32_t count) {
  std::string line;
  for (char c : text) {
    line += text.size() == 1 ? byteNotation(static_cast<unsigned char>(c)) : std::string(1, c);
  }
  if (count > text.size()) line += "… (" + std::to_string(count) + " bytes)";
  return line;
}

}  // namespace

std::string byteNotation(unsigned char byte) {
  static const std::array<std::uint16_t, 256> entries = USCharacterEntries();
  if (byte == 0x1B) return "ESC";
  if (byte == ' ') return "SP";
  if (entries[byte] == kNoCharacterEntry) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
  }
  if (byte < 0x20) return std::string{'^', static_cast<char>(byte + 0x40)};
  return std::string(1, static_cast<char>(byte));
}

void MonitorLines::flushByte(std::vector<std::string>& lines, const char* note) {
  if (!heldByte_) return;
  lines.push_back("byte " + byteNotation(*heldByte_) + note);
  heldByte_.reset();
}

void MonitorLines::eventLine(std::string line, std::vector<std::string>& lines) {
  if (commandOpen_) {
    heldEvents_.push_back(std::move(line));
  } else {
    lines.push_back(std::move(line));
  }
}

std::string MonitorLines::commandLine(std::optional<StartCondition> after) const {
  std::string line = "command " + shown(token_, tokenLength_);
  if (after && after != before_) line += std::string("  -> ") + startConditionName(*after);
  // Which command it was shows in the conditions around it: a typed byte leaves the
  // condition as it was; ESC name . takes COMMAND to INITIAL; a list item stays in its list.
  const bool stayed = after == before_;
  std::string name;
  const auto first = static_cast<unsigned char>(token_[0]);
  if (tokenLength_ == 1 && stayed && entries_[first] == kNoCharacterEntry) {
    line += "  (typed nothing: no key types it)";
  } else if (before_ == StartCondition::COMMAND && after == StartCondition::INITIAL &&
             isLetter(token_[0])) {
    name = token_.substr(0, token_.size() - 1);
  } else if (stayed && isList(before_) && token_.size() > 1 && token_[0] == ',') {
    name = token_.substr(1);
  }
  std::int32_t keyCode = 0, flags = 0;
  if (!name.empty() &&
      (tokenLength_ > token_.size() || !tables_.escape_word(name.c_str(), keyCode, flags))) {
    line += "  (no key has this name)";
  }
  return line;
}

void MonitorLines::flushCommand(std::vector<std::string>& lines) {
  // A command whose end was among the records dropped: shown without what followed it.
  if (!commandOpen_) return;
  lines.push_back(commandLine(std::nullopt));
  lines.insert(lines.end(), heldEvents_.begin(), heldEvents_.end());
  heldEvents_.clear();
  commandOpen_ = false;
}

void MonitorLines::add(const MonitorRecord& record, std::vector<std::string>& lines) {
  using Kind = MonitorRecord::Kind;
  switch (record.kind) {
    case Kind::kByte:
      flushByte(lines);
      flushCommand(lines);
      heldByte_ = record.value;
      if (pending_.size() < MonitorRecord::kTextSize) pending_ += static_cast<char>(record.value);
      ++pendingCount_;
      return;
    case Kind::kWaiting: {
      // A key name, or a move, waits for its period; anything else for the byte that
      // tells what it is.
      bool name = !pending_.empty() && isLetter(pending_[0]);
      bool move = pending_.starts_with(",move,") && pendingCount_ > 6;
      std::string note = "  (" + shown(pending_, pendingCount_) +
                         (name || move ? " waits for its period)" : " waits for the next byte)");
      flushByte(lines, note.c_str());
      flushCommand(lines);
      return;
    }
    case Kind::kToken: {
      flushByte(lines);
      flushCommand(lines);
      std::size_t kept = std::min<std::size_t>(record.length, MonitorRecord::kTextSize);
      token_.assign(record.text, kept);
      tokenLength_ = record.length;
      before_ = static_cast<StartCondition>(record.value);
      commandOpen_ = true;
      if (record.length >= pendingCount_) {
        pending_.clear();
        pendingCount_ = 0;
      } else {
        pending_.erase(0, record.length);
        pendingCount_ -= record.length;
      }
      return;
    }
    case Kind::kActionDone: {
      auto after = static_cast<StartCondition>(record.value);
      if (commandOpen_) lines.push_back(commandLine(after));
      lines.insert(lines.end(), heldEvents_.begin(), heldEvents_.end());
      heldEvents_.clear();
      commandOpen_ = false;
      return;
    }
    case Kind::kKey:
      flushByte(lines);
      eventLine(keyEventLine(record.keyCode, record.down), lines);
      return;
    case Kind::kMouse:
      flushByte(lines);
      eventLine(mouseEventLine({record.x, record.y}, record.update, record.buttons & 1,
                               record.buttons & 2, record.buttons & 4),
                lines);
      return;
    case Kind::kWarp:
      flushByte(lines);
      eventLine(warpLine({record.x, record.y}), lines);
      return;
  }
}

}  // namespace quillmote
