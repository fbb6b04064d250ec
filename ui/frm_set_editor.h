// SPDX-License-Identifier: GPL-3.0-or-later
// The set editor "Редактор наборов данных": ten tabs, one per data set, each with its name and the
// parameter and expanded state of the seven panes, edited on a working copy of the sets.
#pragma once

#include <QDialog>
#include <array>

#include "ui/diag_sets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;

namespace kvd {

class TfrmSetEditor : public QDialog {
  Q_OBJECT
 public:
  // Works on a copy of `sets`; the owner takes WorkingCopy() back after Accepted.
  explicit TfrmSetEditor(const SetTable& sets, QWidget* parent = nullptr);
  ~TfrmSetEditor() override;

  // Before the tab changes: the shown set goes into the working copy.
  void TabChanging();
  // After the tab changed: the new tab's set is shown.
  void TabChange();
  // "Ok": stores the shown tab and closes with Accepted.
  void bOKClick();
  // "Отмена" (the default button, so Enter cancels unless a button has the focus): closes
  // without keeping anything.
  void bCancelClick();

  const SetTable& WorkingCopy() const { return work_; }
  // The set of the tab that is shown, 1..10.
  int ShownSet() const { return shown_ + 1; }

  QTabBar* TabControl() const { return tabs_; }
  QLineEdit* eName() const { return eName_; }
  QComboBox* ParamList(int row) const;  // row 1..7
  QCheckBox* ExpandedBox(int row) const;
  QPushButton* bOK() const { return bOK_; }
  QPushButton* bCancel() const { return bCancel_; }

  static constexpr int kHeight = 355;

 private:
  void ShowSet(int index);   // 0-based
  void StoreSet(int index);  // 0-based

  SetTable work_;
  int shown_ = 0;
  QWidget* tabControl_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QLineEdit* eName_ = nullptr;
  std::array<QComboBox*, kPaneCount> lists_{};
  std::array<QCheckBox*, kPaneCount> checks_{};
  QPushButton* bOK_ = nullptr;
  QPushButton* bCancel_ = nullptr;
};

}  // namespace kvd
