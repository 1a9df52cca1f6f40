// SPDX-License-Identifier: MIT
#include "app/preferences_dialog.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "serial/line_speeds.h"

namespace quillmote {

PreferencesDialog::PreferencesDialog(QSettings& store, QWidget* parent)
    : QDialog(parent),
      store_(store),
      popup_(new QComboBox),
      rates_(new QButtonGroup(this)),
      keyPositions_(new QCheckBox("Press &keys at their US keyboard positions")),
      relativePointer_(new QCheckBox("Move the pointer by &relative steps")) {
  setWindowTitle("Quillmote Preferences");
  setModal(true);

  auto* rateBox = new QGroupBox("&Baud rate");
  rateBox->setAccessibleName("Baud rate");
  auto* rateColumn = new QVBoxLayout(rateBox);
  for (int row = 0; row < static_cast<int>(kOfferedRates.size()); ++row) {
    auto* button = new QRadioButton(QString::fromStdString(lineSpeedTitle(kOfferedRates[row])));
    button->setAccessibleDescription("Line speed in bits per second");
    rates_->addButton(button, row);
    rateColumn->addWidget(button);
  }

  // The analyzer does not know that a Qt object's parent deletes it.
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
  auto* form = new QFormLayout;
  auto* portLabel = new QLabel("&Serial port:");
  portLabel->setBuddy(popup_);
  form->addRow(portLabel, popup_);
  popup_->setAccessibleName("Serial port");
  popup_->setAccessibleDescription("The serial port the device is connected to");

  keyPositions_->setToolTip(
      "For devices that mean key positions: unchecked, Quillmote types what a US keyboard "
      "types, on whatever keyboard layout the desktop uses.");
  keyPositions_->setAccessibleDescription(keyPositions_->toolTip());
  relativePointer_->setToolTip(
      "For use beside another mouse under Wayland: unchecked, the pointer goes to the exact "
      "spot the device means, counted from where Quillmote last put it.");
  relativePointer_->setAccessibleDescription(relativePointer_->toolTip());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  // Return confirms and Escape cancels, as in every dialog.
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (onOK) onOK();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { reject(); });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(rateBox);
  layout->addWidget(keyPositions_);
  layout->addWidget(relativePointer_);
  layout->addWidget(buttons);

  // Top to bottom, once every control is in the window: port, rates, key positions,
  // relative pointer, OK, Cancel.
  QWidget* previous = popup_;
  for (QAbstractButton* rate : rates_->buttons()) {
    setTabOrder(previous, rate);
    previous = rate;
  }
  setTabOrder(previous, keyPositions_);
  setTabOrder(keyPositions_, relativePointer_);
  setTabOrder(relativePointer_, buttons->button(QDialogButtonBox::Ok));
  setTabOrder(buttons->button(QDialogButtonBox::Ok), buttons->button(QDialogButtonBox::Cancel));
}

void PreferencesDialog::selectRateRow(int row) {
  if (QAbstractButton* button = rates_->button(row)) button->setChecked(true);
}

int PreferencesDialog::selectedRateRow() const { return rates_->checkedId(); }

std::string PreferencesDialog::rateTitle(int row) const {
  QAbstractButton* button = rates_->button(row);
  return button ? button->text().toStdString() : "";
}

void PreferencesDialog::removeAllPortItems() { popup_->clear(); }

void PreferencesDialog::addPortItem(const std::string& title) {
  popup_->addItem(QString::fromStdString(title));
}

void PreferencesDialog::selectPortItem(int index) { popup_->setCurrentIndex(index); }

int PreferencesDialog::selectedPortIndex() const { return popup_->currentIndex(); }

std::string PreferencesDialog::selectedPortTitle() const {
  return popup_->currentText().toStdString();
}

void PreferencesDialog::setFrameAutosaveName(const std::string& name) {
  autosaveName_ = QString::fromStdString(name);
  restoreGeometry(store_.value(autosaveName_).toByteArray());
}

void PreferencesDialog::runModal() { exec(); }

void PreferencesDialog::close() {
  if (!autosaveName_.isEmpty()) {
    store_.setValue(autosaveName_, saveGeometry());
    store_.sync();
  }
  done(QDialog::Rejected);
}

void PreferencesDialog::reject() {
  if (onCancel) {
    onCancel();
  } else {
    close();
  }
}

}  // namespace quillmote
