// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ident_dialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

#include "data/cp1251.h"

namespace kvd {

namespace {

constexpr int kEditHeight = 21;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 25;
constexpr int kRightMargin = 50;
// The free line under the last row and the button row below it.
constexpr int kButtonsTop = IdentDialog::kRowStep * (kIdentRecordCount + 1) + 12;
constexpr int kDialogHeight = kButtonsTop + kButtonHeight + 14;
// QLineEdit's own upper limit, which means "not limited".
constexpr int kUnlimited = 32767;

QString ShownText(const std::string& cp1251) {
  return QString::fromStdString(Cp1251ToUtf8(cp1251));
}

}  // namespace

QValidator::State Cp1251Validator::validate(QString& input, int&) const {
  for (char32_t cp : input.toUcs4())
    if (!Cp1251Holds(static_cast<uint32_t>(cp))) return Invalid;
  return Acceptable;
}

IdentDialog::IdentDialog(const IdentValues& values, QWidget* parent)
    : QDialog(parent), values_(values) {
  setObjectName(QStringLiteral("IdentDialog"));
  if (parent) setWindowTitle(parent->window()->windowTitle());

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("lblIcon"));
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  icon->setGeometry(14, 14, 32, 32);

  const auto& table = IdentRecordTable();
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    auto* label = new QLabel(QString::fromUtf8(table[i].Label), this);
    label->setObjectName(QStringLiteral("lblIdent%1").arg(i + 1));
    label->adjustSize();
    label->move(kLeft, kRowStep * static_cast<int>(i + 1) - 4);
    labelWidth_ = std::max(labelWidth_, label->width());
    labels_[i] = label;
  }

  auto* validator = new Cp1251Validator(this);
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("eIdent%1").arg(i + 1));
    edit->setGeometry(kLeft + labelWidth_ + 5, labels_[i]->y() - 3, kEditWidth, kEditHeight);
    // The record's length is the most it can take; an empty record is not limited.
    edit->setMaxLength(values_[i].empty() ? kUnlimited : static_cast<int>(values_[i].size()));
    shown_[i] = ShownText(values_[i]);
    edit->setText(shown_[i]);
    edit->setCursorPosition(0);
    if (table[i].Writable) {
      edit->setValidator(validator);
    } else {
      edit->setReadOnly(true);
      QPalette p = edit->palette();
      p.setColor(QPalette::Base, p.color(QPalette::Button));
      edit->setPalette(p);
    }
    edits_[i] = edit;
  }

  const int width = kEditWidth + labelWidth_ + kLeft + kRightMargin;
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("bOK"));
  save_ = new QPushButton(QStringLiteral("Сохранить"), this);
  save_->setObjectName(QStringLiteral("bSave"));
  const int buttonsLeft = (width - 2 * kButtonWidth - 8) / 2;
  ok_->setGeometry(buttonsLeft, kButtonsTop, kButtonWidth, kButtonHeight);
  save_->setGeometry(buttonsLeft + kButtonWidth + 8, kButtonsTop, kButtonWidth, kButtonHeight);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, [this] { done(kClosed); });
  connect(save_, &QPushButton::clicked, this, [this] { done(kSave); });

  setFixedSize(width, kDialogHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width / 2, kDialogHeight / 2));
}

IdentValues IdentDialog::Texts() const {
  IdentValues out;
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    const QString text = edits_[i]->text();
    if (text == shown_[i]) {
      out[i] = values_[i];
      continue;
    }
    const std::string utf8 = text.toStdString();
    out[i] = Utf8ToCp1251Exact(utf8).value_or(Utf8ToCp1251(utf8));
  }
  return out;
}

std::optional<IdentValues> IdentDialogEditor::EditIdentification(const IdentValues& values) {
  IdentDialog dialog(values, parent_);
  if (dialog.exec() != IdentDialog::kSave) return std::nullopt;
  return dialog.Texts();
}

}  // namespace kvd
