// SPDX-License-Identifier: MIT
#pragma once

#include <QAction>
#include <functional>
#include <utility>

#include "app/check_mark.h"

namespace quillmote {

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

}  // namespace quillmote
