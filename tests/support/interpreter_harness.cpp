#include "support/interpreter_harness.h"

#include <cstdio>
#include <stdexcept>

namespace quillmote::test {

std::string bytes(std::string_view text) {
  static const std::pair<std::string_view, char> kNamed[] = {
      {"{ESC}", '\x1b'}, {"{NUL}", '\0'}, {"{CR}", '\r'}, {"{LF}", '\n'},
      {"{TAB}", '\t'},   {"{SP}", ' '},    {"{DEL}", '\x7f'}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool named = false;
    for (const auto& [name, byte] : kNamed) {
      if (text.substr(i, name.size()) == name) {
        out += byte;
        i += name.size();
        named = true;
        break;
      }
    }
    if (named) continue;
    if (text.substr(i, 2) == "{x" && i + 5 <= text.size() && text[i + 4] == '}') {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
      i += 5;
    } else if (text[i] == '{') {
      throw std::invalid_argument("unknown {...} in byte notation: " + std::string(text.substr(i)));
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string notation(std::string_view streamBytes) {
  std::string out;
  for (char c : streamBytes) {
    auto byte = static_cast<unsigned char>(c);
    const char* name = byte == 0x1b ? "{ESC}" : byte == 0 ? "{NUL}" : byte == '\r' ? "{CR}"
                       : byte == '\n' ? "{LF}" : byte == '\t' ? "{TAB}" : byte == 0x7f ? "{DEL}"
                                                                           : nullptr;
    if (name != nullptr) {
      out += name;
    } else if (byte < 0x20 || byte > 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "{x%02X}", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string withoutComments(const std::string& trace) {
  std::string out;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (std::size_t comment = line.find(" #"); comment != std::string::npos) {
      line.erase(comment);
      while (!line.empty() && line.back() == ' ') line.pop_back();
    }
    out += line + '\n';
  }
  return out;
}

TracedInterpreter::TracedInterpreter(GlobalMousePoint pointer, ScreenSize screen)
    : events_(out_, screen, pointer), interpreter_(events_) {}

std::string TracedInterpreter::run(std::string_view streamBytes) {
  out_.str("");
  MemoryByteSource feed(streamBytes);
  interpreter_.do_quillmote(feed);
  return withoutComments(out_.str());
}

void TokenLog::tokenDecided(int rule, std::string_view token) {
  entries.push_back(std::to_string(rule) + " '" + notation(token) + "'");
}

void TokenLog::actionDone(StartCondition after) {
  if (entries.empty()) throw std::logic_error("action without a token");
  entries.back() += std::string(" ") + startConditionName(after);
}

}  // namespace quillmote::test
