// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace quillmote::test {

// Test notation for byte streams: {ESC} {NUL} {CR} {LF} {TAB} {SP} {DEL}, {xHH} any byte;
// everything else stands for itself. Any other "{" throws std::invalid_argument.
std::string bytes(std::string_view notation);

// Shows bytes in the same notation (a space as {SP}), so that it reads back as them.
std::string notation(std::string_view streamBytes);

// Drops the "  # ..." comments of trace lines, so expectations list events only.
std::string withoutComments(const std::string& trace);

}  // namespace quillmote::test
