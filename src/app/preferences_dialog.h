// SPDX-License-Identifier: MIT
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QSettings>
#include <functional>
#include <string>

#include "app/preferences_window.h"

namespace quillmote {

// The preferences window: the port pop-up, the offered rates as one column of radio
// buttons, the key positions check box, OK and Cancel. OK and Cancel only report to `onOK` and
// `onCancel`.
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
  void setRelativePointer(bool on) override { relativePointer_->setChecked(on); }
  bool relativePointer() const override { return relativePointer_->isChecked(); }
  void setFrameAutosaveName(const std::string& name) override;
  void runModal() override;
  void close() override;

  QComboBox* portPopup() { return popup_; }
  QButtonGroup* rateButtons() { return rates_; }
  QCheckBox* keyPositionsBox() { return keyPositions_; }
  QCheckBox* relativePointerBox() { return relativePointer_; }

 protected:
  // The window's close button is Cancel.
  void reject() override;

 private:
  QSettings& store_;
  QString autosaveName_;
  QComboBox* popup_;
  QButtonGroup* rates_;
  QCheckBox* keyPositions_;
  QCheckBox* relativePointer_;
};

}  // namespace quillmote
