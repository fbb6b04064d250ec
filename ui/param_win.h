// SPDX-License-Identifier: GPL-3.0-or-later
// A floating parameter window: a small frameless stay-on-top window with the name and the current
// value of one parameter, dragged by its name part and closed by a double-click.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "data/parameters.h"

class QLabel;

namespace kvd {

struct GraphColorScheme;

class TfrmParamWin : public QWidget {
  Q_OBJECT
 public:
  // A top-level window owned by `owner` (which gets the keyboard focus back after every mouse
  // action), showing parameter `number` with its own copy of the descriptor.
  TfrmParamWin(QWidget* owner, int slot, ParameterNumber number,
               const ParameterDescriptor& descriptor);
  ~TfrmParamWin() override;

  int Slot() const { return slot_; }
  ParameterNumber Number() const { return number_; }
  const ParameterDescriptor& Descriptor() const { return descriptor_; }

  // Labels take the scheme's background and trace colours, the border its grid colour.
  void SetColors(const GraphColorScheme& scheme);

  // Shows the value of the parameter in a 44-byte record; nullptr = no record ("- - - -").
  void ShowRecord(const uint8_t* record);

  QString NameText() const;
  QString ValueText() const;
  QLabel* NameLabel() const { return name_; }
  QLabel* ValueLabel() const { return value_; }

  // A double-click on the window or a label: the owner frees the slot and closes the window.
  std::function<void(TfrmParamWin&)> OnCloseRequest;

  static constexpr int kBorder = 2;
  static constexpr int kNameWidth = 111;
  static constexpr int kValueLeft = 112;
  static constexpr int kValueWidth = 79;
  static constexpr int kLabelHeight = 23;
  static constexpr int kWidth = kBorder + kValueLeft + kValueWidth + kBorder;  // 195
  static constexpr int kHeight = kBorder + kLabelHeight + kBorder;             // 27

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void RequestClose();
  void GiveFocusBack();

  QWidget* owner_;
  int slot_;
  ParameterNumber number_;
  ParameterDescriptor descriptor_;
  QLabel* name_ = nullptr;
  QLabel* value_ = nullptr;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace kvd
