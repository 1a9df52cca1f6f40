// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/layout/layout_table.h"

namespace quillmote {

// The XKB names of a keyboard layout and where they were found.
struct LayoutNames {
  std::string layout;   // "de", or several: "us,ru"
  std::string variant;  // "", "dvorak", ",phonetic"
  std::string model;
  std::string options;
  std::string source;  // for people: "the --layout option", "/etc/default/keyboard", ...
};

// The layout a virtual keyboard types for, where nobody can ask the desktop: `option`
// (LAYOUT or LAYOUT:VARIANT, XKB names) when not empty, else `environment`
// (QUILLMOTE_LAYOUT, same form) when set, else XKBLAYOUT, XKBVARIANT, XKBMODEL and
// XKBOPTIONS of the system keyboard configuration file `keyboardFile`, else "us".
LayoutNames assumeLayout(const std::string& option, const char* environment,
                         const std::string& keyboardFile);

// "de", "us (dvorak)": the names as people write them.
std::string describeLayout(const LayoutNames& names);

// Compiles `names` with libxkbcommon and tabulates its first layout. Nothing, and why,
// when they name no layout the system has.
std::shared_ptr<const LayoutTable> compileLayout(const LayoutNames& names, std::string& error);

}  // namespace quillmote
