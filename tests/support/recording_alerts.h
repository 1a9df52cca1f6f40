#pragma once

#include <string>
#include <vector>

#include "platform/alerts.h"

namespace quillmote::test {

// Keeps every alert as "Internal Error: <full text>" or "Alert: <text>", in order.
class RecordingAlerts final : public Alerts {
 public:
  void criticalAlert(const std::string& message) override {
    shown.push_back("Internal Error: " + internalErrorText(message));
  }
  void plainAlert(const std::string& message) override { shown.push_back("Alert: " + message); }

  std::vector<std::string> shown;
};

}  // namespace quillmote::test
