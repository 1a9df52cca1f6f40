// SPDX-License-Identifier: MIT
#pragma once

namespace quillmote {

// A menu item's check mark.
class CheckMark {
 public:
  virtual ~CheckMark() = default;
  virtual void setState(bool on) = 0;
};

}  // namespace quillmote
