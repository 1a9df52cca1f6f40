#pragma once

#include <iosfwd>
#include <string>

namespace quillmote {

struct DoctorOptions {
  // The port to check; empty: every serial port found.
  std::string port;
};

// Checks what commonly keeps Quillmote from working on this machine and prints one
// line per finding. Returns 0 when nothing needs fixing, 1 otherwise.
int runDoctor(const DoctorOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quillmote
