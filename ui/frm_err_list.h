// The trouble-code list: a tool window inside the diagnostic window showing the stored and
// current trouble codes with their Russian texts, and asking for their clearing.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "ecu/dtc.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace kvd {

class TFormErrList : public QFrame {
  Q_OBJECT
 public:
  // ownerTag is the diagnostic window's Tag word: the list sets and clears kErrListShown in
  // it and sets kClearRequested for "Сброс". It must outlive the list.
  TFormErrList(uint32_t& ownerTag, QWidget* parent);

  // Rebuilds the grid from a list (Russian texts).
  void ShowTroubleCodes(const DtcList& list);

  // "Сброс": the poll cycle clears the codes on its next data-exchanging tick.
  void bClrClick();
  // "Закрыть".
  void bOKClick();

  // The texts of a grid row as shown; row 0 is the header.
  QStringList RowTexts(int row) const;
  int RowCount() const;  // with the header row
  QTableWidget* Grid() const { return grid_; }
  QPushButton* ClearButton() const { return bClr_; }
  QPushButton* CloseButton() const { return bOK_; }
  QWidget* ClientArea() const { return client_; }

  static constexpr int kClientWidth = 632;
  static constexpr int kClientHeight = 390;
  static constexpr int kPanelHeight = 42;
  static constexpr int kCaptionHeight = 18;
  static constexpr int kBorder = 2;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  uint32_t& ownerTag_;
  QWidget* caption_ = nullptr;
  QWidget* client_ = nullptr;
  QTableWidget* grid_ = nullptr;
  QPushButton* bClr_ = nullptr;
  QPushButton* bOK_ = nullptr;
  QPoint dragOffset_;
  bool dragging_ = false;
};

}  // namespace kvd
