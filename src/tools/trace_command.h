// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/trace_event_services.h"

namespace quillmote {

struct TraceOptions {
  ScreenSize screen;
  GlobalMousePoint pointer;
  // "-" is standard input; empty means standard input alone.
  std::vector<std::string> files;
};

// Parses "WxH" (each 1 to 32767); false on anything else.
bool parseScreenSize(const std::string& text, ScreenSize& screen);
// Parses "X,Y" inside `screen`; false on anything else.
bool parsePointer(const std::string& text, const ScreenSize& screen, GlobalMousePoint& pointer);

// Runs one interpreter over the files, one run per file, printing the trace to `out`.
// State carries from one file to the next as it does from one run of translation to
// the next. Returns 0, or 2 after saying on `err` which file could not be read.
int runTrace(const TraceOptions& options, std::istream& standardInput, std::ostream& out,
             std::ostream& err);

}  // namespace quillmote
