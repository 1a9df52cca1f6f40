#pragma once

#include <string>
#include <vector>

#include "platform/alerts.h"

namespace quillmote::test {

// Keeps every alert as its title, ": " and the text it shows, in order.
struct RecordingAlerts final : Alerts {
  void criticalAlert(const std::string& m) override {
    shown.push_back("Internal Error: " + internalErrorText(m));
  }
  void plainAlert(const std::string& message) override { shown.push_back("Alert: " + message); }
  std::vector<std::string> shown;
};

}  // namespace quillmote::test
