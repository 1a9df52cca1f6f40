#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"

namespace quillmote::test {

// An Xvfb of the caller's own (1280x800, on a free display, keeping what is left pressed when
// clients go), ready for them once constructed or else std::runtime_error; killed with it.
class XvfbServer {
 public:
  XvfbServer();
  const std::string& displayName() const { return displayName_; }  // ":N", for DISPLAY

 private:
  std::string displayName_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace quillmote::test
