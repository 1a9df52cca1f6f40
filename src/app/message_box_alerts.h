// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>
#include <string>

#include "platform/alerts.h"

namespace quillmote {

// Alerts as modal message boxes: title, the message verbatim, one "OK".
class MessageBoxAlerts final : public Alerts {
 public:
  explicit MessageBoxAlerts(QWidget* parent) : parent_(parent) {}
  void criticalAlert(const std::string& message) override;
  void plainAlert(const std::string& message) override;

 private:
  QWidget* parent_;
};

}  // namespace quillmote
