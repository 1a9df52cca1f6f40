// SPDX-License-Identifier: MIT
#include "support/interpreter_harness.h"

#include <algorithm>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <utility>

namespace quillmote::test {
static constexpr std::pair<std::string_view, char> kNamedBytes[] = {
    {"{ESC}", '\x1b'}, {"{NUL}", '\0'},   {"{CR}", '\r'}, {"{LF}", '\n'},
    {"{TAB}", '\t'},   {"{DEL}", '\x7f'}, {"{SP}", ' '}};

std::string bytes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{') {
      out += text[i];
      continue;
    }
    std::string_view name = text.substr(i, text.find('}', i) + 1 - i);
    i += name.size() - 1;
    auto named = std::find_if(std::begin(kNamedBytes), std::end(kNamedBytes),
                              [&](const auto& entry) { return entry.first == name; });
    if (named != std::end(kNamedBytes)) {
      out += named->second;
    } else if (name.size() == 5 && name[1] == 'x') {
      out += static_cast<char>(std::stoi(std::string(name.substr(2, 2)), nullptr, 16));
    } else {
      throw std::invalid_argument("unknown " + std::string(name) + " in byte notation");
    }
  }
  return out;
}

std::string notation(std::string_view streamBytes) {
  std::string out;
  for (char c : streamBytes) {
    auto named = std::find_if(std::begin(kNamedBytes), std::end(kNamedBytes),
                              [&](const auto& entry) { return entry.second == c; });
    auto byte = static_cast<unsigned char>(c);
    if (named != std::end(kNamedBytes)) {
      out += named->first;
    } else if (byte < 0x20 || byte > 0x7f || c == '{') {  // {x7B}: "{" opens a name
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
  static const std::regex comment("  #.*");
  return std::regex_replace(trace, comment, "");
}

}  // namespace quillmote::test
