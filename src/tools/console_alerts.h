// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>

#include "platform/alerts.h"

namespace quillmote {

// Alerts for a terminal: one line on `out`, prefixed with the alert's title.
class ConsoleAlerts final : public Alerts {
 public:
  explicit ConsoleAlerts(std::ostream& out) : out_(out) {}
  void criticalAlert(const std::string& message) override {
    out_ << "Internal Error: " << internalErrorText(message) << std::endl;
  }
  void plainAlert(const std::string& message) override {
    out_ << "Alert: " << message << std::endl;
  }

 private:
  std::ostream& out_;
};

}  // namespace quillmote
