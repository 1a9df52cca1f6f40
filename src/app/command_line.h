// SPDX-License-Identifier: MIT
// The desktop program's own command line, answered before any window system is touched.
#pragma once

#include <optional>
#include <ostream>

namespace quillmote {

// Answers --help and --version on `out` (status 0), and refuses an unknown option or any
// other argument with a usage message on `err` (status 2). Nothing when the program should
// go on: no arguments, or only the options that QApplication takes for itself
// (-platform NAME, --style=NAME, -reverse, ...), which are left in argv for it.
// Needs no display, so it works over ssh, in a package build and for help2man.
std::optional<int> answerCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace quillmote
