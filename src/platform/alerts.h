// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace quillmote {

// Where every internal-error message ends, after one space.
inline constexpr const char* kDeveloperContactAddress = "quillmote-developers@lists.quillmote.org";
std::string developerContactSuffix();

// The modal alerts of the program. Each call returns only once the user has seen the
// message (a dialog dismissed, a line printed); messages are shown verbatim.
class Alerts {
 public:
  virtual ~Alerts() = default;
  // Titled "Internal Error"; `message` is the text before the developer-contact
  // suffix, which the implementation appends.
  virtual void criticalAlert(const std::string& message) = 0;
  // Titled "Alert"; the message alone.
  virtual void plainAlert(const std::string& message) = 0;
};

// The full text of an internal-error alert: message, one space, the suffix.
std::string internalErrorText(const std::string& message);

}  // namespace quillmote
