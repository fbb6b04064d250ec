// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter chooser of the floating windows: a modal list of the 34 parameter names.
#pragma once

#include <QDialog>
#include <optional>

#include "data/parameters.h"

class QListWidget;
class QPushButton;

namespace kvd {

class TfrmParamList : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmParamList(QWidget* parent = nullptr);

  // The parameter of the selected entry (list position + 1), nothing without a selection.
  std::optional<ParameterNumber> Chosen() const;
  QListWidget* List() const { return lbParams_; }
  QPushButton* OkButton() const { return bOk_; }
  QPushButton* CancelButton() const { return bCancel_; }

  // Shows the chooser modally; nothing when it was cancelled or closed.
  static std::optional<ParameterNumber> Choose(QWidget* parent);

 private:
  QListWidget* lbParams_ = nullptr;
  QPushButton* bOk_ = nullptr;
  QPushButton* bCancel_ = nullptr;
};

}  // namespace kvd
