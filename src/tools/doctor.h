// SPDX-License-Identifier: MIT
#pragma once

#include <iosfwd>
#include <string>

namespace quillmote {

class MachineFacts;

struct DoctorOptions {
  // The port to check; empty: every serial port found.
  std::string port;
};

// Checks what commonly keeps Quillmote from working on this machine and prints one
// line per finding. Returns 0 when nothing needs fixing, 1 otherwise.
int runDoctor(const DoctorOptions& options, std::ostream& out, std::ostream& err);

// The same checks on the given facts. Every finding is one line on `out`: "ok: ..." for
// what is fine, "fix: ..." for what is not, naming the command that fixes it. Returns 0
// when no line says fix, 1 otherwise.
int checkMachine(MachineFacts& facts, const DoctorOptions& options, std::ostream& out);

}  // namespace quillmote
