// The identification dialog: eleven labelled edit boxes, "OK" and "Сохранить".
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QValidator>
#include <array>

#include "ecu/identification.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kvd {

// Accepts only text whose every character Windows-1251 can hold, so that nothing the ECU
// would receive as '?' can be typed or pasted.
class Cp1251Validator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

class IdentDialog final : public QDialog {
  Q_OBJECT
 public:
  // Results of exec(): the dialog closed by "OK" or the window's close box, or by "Сохранить".
  enum Result { kClosed = 0, kSave = 1 };

  // values: the records as read (Windows-1251 bytes), in table order.
  IdentDialog(const IdentValues& values, QWidget* parent = nullptr);

  // The boxes' texts as Windows-1251 bytes; a box left as it was gives back the very bytes
  // that were read (also bytes that have no character of their own).
  IdentValues Texts() const;

  QLineEdit* Edit(size_t i) const { return edits_[i]; }
  QLabel* Label(size_t i) const { return labels_[i]; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* SaveButton() const { return save_; }
  int LabelWidth() const { return labelWidth_; }

  static constexpr int kLeft = 60;
  static constexpr int kEditWidth = 170;
  static constexpr int kRowStep = 24;

 private:
  IdentValues values_;
  std::array<QLabel*, kIdentRecordCount> labels_{};
  std::array<QLineEdit*, kIdentRecordCount> edits_{};
  std::array<QString, kIdentRecordCount> shown_;
  QPushButton* ok_ = nullptr;
  QPushButton* save_ = nullptr;
  int labelWidth_ = 0;
};

// The command's dialog over the diagnostic window: shown modally, centred on the desktop.
class IdentDialogEditor final : public IdentEditor {
 public:
  explicit IdentDialogEditor(QWidget* parent) : parent_(parent) {}
  std::optional<IdentValues> EditIdentification(const IdentValues& values) override;

 private:
  QWidget* parent_;
};

}  // namespace kvd
