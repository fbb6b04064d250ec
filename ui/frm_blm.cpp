// SPDX-License-Identifier: GPL-3.0-or-later
// The learn-memory window.
#include "ui/frm_blm.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "data/data_file.h"
#include "ecu/ecu_ui.h"

namespace kvd {

namespace {

constexpr int kColumnWidth = 33;
constexpr int kRowHeight = 20;
constexpr int kPanelHeight = 43;
const QPoint kPlace(15, 30);

}  // namespace

TFormBLM::TFormBLM(EcuUi& ui, char separator, QWidget* owner, QWidget* client)
    : QWidget(owner, Qt::Tool), ui_(ui), separator_(separator), client_(client) {
  setObjectName(QStringLiteral("FormBLM"));
  setWindowTitle(QStringLiteral("Память обучения"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setFixedSize(kClientWidth, kClientHeight);

  grid_ = new QTableWidget(kLearnAxisSize, kLearnAxisSize, this);
  grid_->setObjectName(QStringLiteral("BLMGrid"));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->horizontalHeader()->setMinimumSectionSize(kColumnWidth);
  grid_->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setMinimumSectionSize(kRowHeight);
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->verticalHeader()->setFixedWidth(kColumnWidth);
  grid_->horizontalHeader()->setFixedHeight(kRowHeight);
  grid_->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  QStringList columns, rows;
  for (uint16_t v : BlmColumnAxis) columns << QString::number(v);
  for (uint16_t v : BlmRowAxis) rows << QString::number(v);
  grid_->setHorizontalHeaderLabels(columns);
  grid_->setVerticalHeaderLabels(rows);
  // Five characters ("1.000") fit a 33-pixel column only with a small font and no elision.
  grid_->setTextElideMode(Qt::ElideNone);
  grid_->setWordWrap(false);
  QFont small = grid_->font();
  small.setPixelSize(10);
  grid_->setFont(small);
  grid_->horizontalHeader()->setFont(small);
  grid_->verticalHeader()->setFont(small);
  for (int r = 0; r < kLearnAxisSize; ++r)
    for (int c = 0; c < kLearnAxisSize; ++c) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignCenter);
      grid_->setItem(r, c, item);
    }

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFixedHeight(kPanelHeight);
  bSave_ = new QPushButton(QStringLiteral("Сохранить"), panel);
  bSave_->setObjectName(QStringLiteral("bSave"));
  bSave_->setGeometry(384, 7, 95, 29);
  bClose_ = new QPushButton(QStringLiteral("Закрыть"), panel);
  bClose_->setObjectName(QStringLiteral("bClose"));
  bClose_->setGeometry(488, 7, 95, 29);
  connect(bSave_, &QPushButton::clicked, this, [this] { bSaveClick(); });
  connect(bClose_, &QPushButton::clicked, this, [this] { close(); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(grid_, 1);
  layout->addWidget(panel);
}

void TFormBLM::ShowBank(int32_t bank, const LearnTable& table) {
  bank_ = bank;
  table_ = table;
  setWindowTitle(QString::fromStdString(LearnCaption(bank)));
  for (int k = 0; k < kLearnBankSize; ++k)
    grid_->item(k / kLearnAxisSize, k % kLearnAxisSize)
        ->setText(QString::fromStdString(LearnCellText(table[static_cast<size_t>(k)], separator_)));
}

QString TFormBLM::CellText(int column, int row) const {
  if (column < 0 || row < 0 || column > kLearnAxisSize || row > kLearnAxisSize) return {};
  if (column == 0 && row == 0) return {};
  if (row == 0) return grid_->horizontalHeaderItem(column - 1)->text();
  if (column == 0) return grid_->verticalHeaderItem(row - 1)->text();
  return grid_->item(row - 1, column - 1)->text();
}

bool TFormBLM::SaveTo(const QString& file) {
  try {
    WriteLearnFile(std::filesystem::path(file.toStdU16String()), table_, separator_);
    return true;
  } catch (const DataFileError& e) {
    ui_.ShowMessage(e.what());
    return false;
  }
}

QString TFormBLM::RunSaveDialog() {
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setNameFilters({QStringLiteral("Текстовый файл с символом-разделителем (*.txt)"),
                         QStringLiteral("Все файлы (*.*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void TFormBLM::bSaveClick() {
  const QString file = ChooseSaveFile ? ChooseSaveFile() : RunSaveDialog();
  if (file.isEmpty()) return;
  SaveTo(file);
}

void TFormBLM::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (client_) move(client_->mapToGlobal(kPlace));
  if (OnShownChanged) OnShownChanged(true);
}

void TFormBLM::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (OnShownChanged) OnShownChanged(false);
}

}  // namespace kvd
