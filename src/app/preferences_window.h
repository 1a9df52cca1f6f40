// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace quillmote {

// The preferences window as the controller sees it: a one-column radio matrix of rates,
// a pop-up of ports, check boxes for plain key positions and a relative pointer, and a modal loop
// that OK and Cancel end. The widgets only show and report; every decision is the controller's.
class PreferencesWindow {
 public:
  virtual ~PreferencesWindow() = default;

  virtual void selectRateRow(int row) = 0;
  virtual int selectedRateRow() const = 0;
  // Title of the cell in `row`, or "" when there is no such row.
  virtual std::string rateTitle(int row) const = 0;

  virtual void removeAllPortItems() = 0;
  virtual void addPortItem(const std::string& title) = 0;
  virtual void selectPortItem(int index) = 0;
  // -1 when nothing is selected.
  virtual int selectedPortIndex() const = 0;
  virtual std::string selectedPortTitle() const = 0;

  // Checked: keys are pressed at their US positions instead of typing their symbols.
  virtual void setKeyPositions(bool on) = 0;
  virtual bool keyPositions() const = 0;
  // Checked: the pointer moves by relative steps (beside another mouse), not to the spot.
  virtual void setRelativePointer(bool on) = 0;
  virtual bool relativePointer() const = 0;

  // Position and size are kept in the store under this name.
  virtual void setFrameAutosaveName(const std::string& name) = 0;
  // Shows the window and returns once close() has ended its loop.
  virtual void runModal() = 0;
  virtual void close() = 0;
};

}  // namespace quillmote
