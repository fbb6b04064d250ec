// SPDX-License-Identifier: GPL-3.0-or-later
// The learn-memory window: one bank of correction factors as a 16 x 16 grid over engine speed
// and load, saved on request as a tab-separated text file.
#pragma once

#include <QWidget>
#include <functional>

#include "ecu/learn_memory.h"

class QPushButton;
class QTableWidget;

namespace kvd {

class EcuUi;

class TFormBLM : public QWidget {
  Q_OBJECT
 public:
  // The window floats over `owner` (the diagnostic window) at left 15, top 30 of `client`.
  TFormBLM(EcuUi& ui, char separator, QWidget* owner, QWidget* client);

  // Caption "Память обучения, банк N" and the 256 cells of the bank.
  void ShowBank(int32_t bank, const LearnTable& table);
  // Writes the table to the file; a failure is shown as the program's message.
  bool SaveTo(const QString& file);

  QTableWidget* BLMGrid() const { return grid_; }
  QPushButton* bSave() const { return bSave_; }
  QPushButton* bClose() const { return bClose_; }
  // The text of a grid cell, fixed row 0 and fixed column 0 included (the corner is empty).
  QString CellText(int column, int row) const;
  int32_t Bank() const { return bank_; }

  // Runs when the window is shown and when it is closed (the BlmShown bit).
  std::function<void(bool shown)> OnShownChanged;
  // Chooses the file of "Сохранить"; empty: cancelled. Default: the save dialog.
  std::function<QString()> ChooseSaveFile;

  static constexpr int kClientWidth = 592;
  static constexpr int kClientHeight = 416;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void bSaveClick();
  QString RunSaveDialog();

  EcuUi& ui_;
  char separator_;
  QWidget* client_;
  LearnTable table_{};
  int32_t bank_ = 0;
  QTableWidget* grid_ = nullptr;
  QPushButton* bSave_ = nullptr;
  QPushButton* bClose_ = nullptr;
};

}  // namespace kvd
