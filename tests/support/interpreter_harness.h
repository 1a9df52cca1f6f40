#pragma once

#include <string>
#include <string_view>

namespace quillmote::test {

// Test notation for byte streams: {ESC}, {NUL}, {CR}, {LF}, {TAB}, {SP}, {DEL} for those
// bytes, {xHH} any byte in hex; everything else stands for itself. Any other "{" throws
// std::invalid_argument (write it {x7B}).
std::string bytes(std::string_view notation);

// Shows bytes in the same notation, so that it reads back as them; a space as {SP} when
// asked.
std::string notation(std::string_view streamBytes, bool spaceAsSP = false);

// Drops the "  # ..." comments of trace lines, so expectations list events only.
std::string withoutComments(const std::string& trace);

}  // namespace quillmote::test
