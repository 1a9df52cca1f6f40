// SPDX-License-Identifier: MIT
#include "platform/alerts.h"

namespace quillmote {

std::string developerContactSuffix() {
  return std::string("Please notify the developer (") + kDeveloperContactAddress + ").";
}

std::string internalErrorText(const std::string& message) {
  return message + " " + developerContactSuffix();
}

}  // namespace quillmote
