// SPDX-License-Identifier: MIT
#pragma once

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QCheckBox>
#include <QSettings>

#include <functional>
#include <string>

#include "app/preferences_window.h"
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

// A checkable menu action as the controller's check mark; tells `changed` after
// every change, so views that follow the check marks can update.
class ActionCheckMark final : public CheckMark {
 public:
  ActionCheckMark(QAction* action, std::function<void()> changed)
      : action_(action), changed_(std::move(changed)) {}
  void setState(bool on) override {
    action_->setChecked(on);
    if (changed_) changed_();
  }

 private:
  QAction* action_;
  std::function<void()> changed_;
};

// The preferences window: the port pop-up and the seven rates as one column of radio
// buttons, OK and Cancel. OK and Cancel only report to `onOK` and `onCancel`.
class PreferencesDialog final : public QDialog, public PreferencesWindow {
 public:
  PreferencesDialog(QSettings& store, QWidget* parent = nullptr);

  std::function<void()> onOK;
  std::function<void()> onCancel;

  void selectRateRow(int row) override;
  int selectedRateRow() const override;
  std::string rateTitle(int row) const override;
  void removeAllPortItems() override;
  void addPortItem(const std::string& title) override;
  void selectPortItem(int index) override;
  int selectedPortIndex() const override;
  std::string selectedPortTitle() const override;
  void setKeyPositions(bool on) override { keyPositions_->setChecked(on); }
  bool keyPositions() const override { return keyPositions_->isChecked(); }
  void setFrameAutosaveName(const std::string& name) override;
  void runModal() override;
  void close() override;

  QComboBox* portPopup() { return popup_; }
  QButtonGroup* rateButtons() { return rates_; }
  QCheckBox* keyPositionsBox() { return keyPositions_; }

 protected:
  // The window's close button is Cancel.
  void reject() override;

 private:
  QSettings& store_;
  QString autosaveName_;
  QComboBox* popup_;
  QButtonGroup* rates_;
  QCheckBox* keyPositions_;
};

}  // namespace quillmote
