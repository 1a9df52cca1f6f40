// SPDX-License-Identifier: MIT
#include "tools/trace_command.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "interpreter/interpreter.h"

namespace quillmote {
namespace {

constexpr int kLargestScreenSide = 32767;  // the pointer is read as 16-bit fields

bool parseWholeNumber(std::string_view text, int& value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool parsePair(const std::string& text, char separator, int& first, int& second) {
  std::size_t split = text.find(separator);
  if (split == std::string::npos) return false;
  return parseWholeNumber(std::string_view(text).substr(0, split), first) &&
         parseWholeNumber(std::string_view(text).substr(split + 1), second);
}

bool readAll(std::istream& in, std::string& bytes) {
  std::ostringstream collected;
  collected << in.rdbuf();
  bytes = std::move(collected).str();
  return !in.bad();
}

}  // namespace

bool parseScreenSize(const std::string& text, ScreenSize& screen) {
  int width = 0, height = 0;
  if (!parsePair(text, 'x', width, height)) return false;
  if (width < 1 || height < 1 || width > kLargestScreenSide || height > kLargestScreenSide) {
    return false;
  }
  screen = ScreenSize{width, height};
  return true;
}

bool parsePointer(const std::string& text, const ScreenSize& screen, GlobalMousePoint& pointer) {
  int x = 0, y = 0;
  if (!parsePair(text, ',', x, y)) return false;
  if (x < 0 || y < 0 || x >= screen.width || y >= screen.height) return false;
  pointer.h = static_cast<std::int16_t>(x);
  pointer.v = static_cast<std::int16_t>(y);
  return true;
}

int runTrace(const TraceOptions& options, std::istream& standardInput, std::ostream& out,
             std::ostream& err) {
  std::vector<std::string> files = options.files;
  if (files.empty()) files.push_back("-");

  // Read every file first, so a missing one is reported before any trace is printed.
  std::vector<std::string> streams;
  for (const std::string& name : files) {
    std::string bytes;
    if (name == "-") {
      if (!readAll(standardInput, bytes)) {
        err << "quillmote-cli trace: cannot read standard input\n";
        return 2;
      }
    } else {
      std::ifstream file(name, std::ios::binary);
      if (!file || !readAll(file, bytes)) {
        err << "quillmote-cli trace: cannot read " << name << ": "
            << std::generic_category().message(errno) << '\n';
        return 2;
      }
    }
    streams.push_back(std::move(bytes));
  }

  TraceEventServices events(out, options.screen, options.pointer);
  Interpreter interpreter(events);
  for (const std::string& bytes : streams) {
    MemoryByteSource feed(bytes);
    interpreter.do_quillmote(feed);
  }
  out.flush();
  return 0;
}

}  // namespace quillmote
