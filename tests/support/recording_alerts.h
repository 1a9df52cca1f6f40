// SPDX-License-Identifier: MIT
#pragma once

#include <vector>

#include "platform/alerts.h"

namespace quillmote::test {

// Keeps every alert as its title, ": " and its message, in order.
struct RecordingAlerts final : Alerts {
  void criticalAlert(const std::string& m) override { shown.push_back("Internal Error: " + m); }
  void plainAlert(const std::string& m) override { shown.push_back("Alert: " + m); }
  std::vector<std::string> shown;
};

}  // namespace quillmote::test
