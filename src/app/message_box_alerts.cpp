// SPDX-License-Identifier: MIT
#include "app/message_box_alerts.h"

#include <QMessageBox>

namespace quillmote {
namespace {

void showModal(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

void MessageBoxAlerts::criticalAlert(const std::string& message) {
  showModal(parent_, QMessageBox::Critical, "Internal Error",
            QString::fromStdString(internalErrorText(message)));
}

void MessageBoxAlerts::plainAlert(const std::string& message) {
  showModal(parent_, QMessageBox::Warning, "Alert", QString::fromStdString(message));
}

}  // namespace quillmote
