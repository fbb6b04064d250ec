// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/param_list.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kvd {

TfrmParamList::TfrmParamList(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmParamList"));
  setWindowTitle(QStringLiteral("Выберите параметр"));
  setModal(true);

  lbParams_ = new QListWidget(this);
  lbParams_->setObjectName(QStringLiteral("lbParams"));
  for (const std::string& name : ParameterNameList())
    lbParams_->addItem(QString::fromStdString(name));
  lbParams_->setCurrentRow(0);
  connect(lbParams_, &QListWidget::itemDoubleClicked, this, [this] { accept(); });

  bOk_ = new QPushButton(QStringLiteral("Ok"), this);
  bOk_->setObjectName(QStringLiteral("bOk"));
  bOk_->setDefault(true);
  connect(bOk_, &QPushButton::clicked, this, &QDialog::accept);
  bCancel_ = new QPushButton(QStringLiteral("Отмена"), this);
  bCancel_->setObjectName(QStringLiteral("bCancel"));
  connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(bOk_);
  buttons->addWidget(bCancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lbParams_);
  layout->addLayout(buttons);

  setFixedSize(280, 420);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  lbParams_->setFocus();
}

std::optional<ParameterNumber> TfrmParamList::Chosen() const {
  const int row = lbParams_->currentRow();
  if (row < 0 || row >= kParameterCount) return std::nullopt;
  return row + 1;
}

std::optional<ParameterNumber> TfrmParamList::Choose(QWidget* parent) {
  TfrmParamList dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Chosen();
}

}  // namespace kvd
