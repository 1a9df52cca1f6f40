// SPDX-License-Identifier: MIT
#include "monitor/monitor_lines.h"

#include <cstdio>

#include "platform/trace_format.h"

namespace quillmote {
namespace {

// The start condition each rule leaves, by rule number; "" where it stays as it was.
constexpr const char* kConditionAfter[] = {
    "",             "COMMAND",      "INITIAL",      "MOUSE_BUTTON", "MOUSE_BUTTON",
    "MOUSE_BUTTON", "MOUSE_BUTTON", "INITIAL",      "INITIAL",      "HOLD_LIST",
    "LOCK_LIST",    "COMBINE_LIST", "INITIAL",      "",             "INITIAL",
    "INITIAL",      "",             "INITIAL",      "INITIAL",      "",
    "INITIAL",      "INITIAL",      "",             "",             "INITIAL",
    "INITIAL",      ""};

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string shown(const std::string& text, std::uint32_t count) {
  std::string line;
  for (char c : text) line += text.size() == 1 ? byteNotation(static_cast<unsigned char>(c)) : std::string(1, c);
  if (count > text.size()) line += "… (" + std::to_string(count) + " bytes)";
  return line;
}

}  // namespace

std::string byteNotation(unsigned char byte) {
  static const KeyTables tables = [] {
    KeyTables filled;
    filled.InitUSKeyCodes();
    return filled;
  }();
  if (byte == 0x1B) return "ESC";
  if (byte == ' ') return "SP";
  if (tables.characterEntry(byte) == kNoCharacterEntry) {
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

void MonitorLines::add(const MonitorRecord& record, std::vector<std::string>& lines) {
  using Kind = MonitorRecord::Kind;
  switch (record.kind) {
    case Kind::kByte:
      flushByte(lines);
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
      return;
    }
    case Kind::kToken: {
      flushByte(lines);
      std::size_t kept = std::min<std::size_t>(record.length, MonitorRecord::kTextSize);
      std::string token(record.text, kept);
      std::string line = "command " + shown(token, record.length);
      if (record.value < std::size(kConditionAfter) && *kConditionAfter[record.value]) {
        line += "  -> " + std::string(kConditionAfter[record.value]);
      }
      std::int32_t keyCode = 0, flags = 0;
      if (record.value == 26 && tables_.characterEntry(static_cast<unsigned char>(record.text[0])) == kNoCharacterEntry) {
        line += "  (typed nothing: no key types it)";
      } else if (record.value == 8 || record.value == 13 || record.value == 16 ||
                 record.value == 19) {
        std::string name = record.value == 8 ? token.substr(0, token.size() - 1) : token.substr(1);
        if (record.length > kept || !tables_.escape_word(name.c_str(), keyCode, flags)) {
          line += "  (no key has this name)";
        }
      }
      lines.push_back(line);
      if (record.length >= pendingCount_) {
        pending_.clear();
        pendingCount_ = 0;
      } else {
        pending_.erase(0, record.length);
        pendingCount_ -= record.length;
      }
      return;
    }
    case Kind::kKey:
      flushByte(lines);
      lines.push_back(keyEventLine(record.keyCode, record.down));
      return;
    case Kind::kMouse:
      flushByte(lines);
      lines.push_back(mouseEventLine({record.x, record.y}, record.update, record.buttons & 1,
                                     record.buttons & 2, record.buttons & 4));
      return;
    case Kind::kWarp:
      flushByte(lines);
      lines.push_back(warpLine({record.x, record.y}));
      return;
  }
}

}  // namespace quillmote
