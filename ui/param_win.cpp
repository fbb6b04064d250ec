// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/param_win.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPalette>
#include <QWindow>

#include "ui/frm_graph.h"

namespace kvd {

namespace {

constexpr int kNameFontPixels = 9;
constexpr int kValueFontPixels = 19;
constexpr int kValueIndent = 2;  // the digits keep off the border
const char* const kNoRecordText = "- - - -";

QFont ArialPixels(int px) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(px);
  return f;
}

void Paint(QWidget* w, QRgb background, QRgb text) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, QColor::fromRgb(background));
  p.setColor(QPalette::WindowText, QColor::fromRgb(text));
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

}  // namespace

TfrmParamWin::TfrmParamWin(QWidget* owner, int slot, ParameterNumber number,
                           const ParameterDescriptor& descriptor)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      owner_(owner),
      slot_(slot),
      number_(number),
      descriptor_(descriptor) {
  setObjectName(QStringLiteral("frmParamWin%1").arg(slot));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);

  name_ = new QLabel(this);
  name_->setObjectName(QStringLiteral("lblName"));
  name_->setGeometry(kBorder, kBorder, kNameWidth, kLabelHeight);
  name_->setAlignment(Qt::AlignCenter);
  name_->setWordWrap(true);
  name_->setFont(ArialPixels(kNameFontPixels));
  name_->setText(QString::fromStdString(descriptor_.Name));

  value_ = new QLabel(this);
  value_->setObjectName(QStringLiteral("lblValue"));
  value_->setGeometry(kBorder + kValueLeft, kBorder, kValueWidth, kLabelHeight);
  value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  value_->setIndent(kValueIndent);
  value_->setFont(ArialPixels(kValueFontPixels));
  value_->setText(QStringLiteral("0,000"));

  for (QLabel* l : {name_, value_}) l->installEventFilter(this);
  setFixedSize(kWidth, kHeight);
}

TfrmParamWin::~TfrmParamWin() = default;

void TfrmParamWin::SetColors(const GraphColorScheme& scheme) {
  Paint(this, scheme.Grid, scheme.Trace);
  Paint(name_, scheme.Background, scheme.Trace);
  Paint(value_, scheme.Background, scheme.Trace);
}

void TfrmParamWin::ShowRecord(const uint8_t* record) {
  QString text;
  if (record == nullptr) {
    text = QString::fromLatin1(kNoRecordText);
  } else {
    text = QString::fromStdString(
        FormatParameterValue(descriptor_, DecodeValue(descriptor_, record), 5, '.'));
    const QString point = QLocale().decimalPoint();
    if (descriptor_.ValueType != kValueBitPattern && !point.isEmpty() &&
        point != QStringLiteral("."))
      text.replace(QLatin1Char('.'), point);
  }
  if (text == value_->text()) return;
  // A number wider than the label (exponent form) gets a smaller font instead of losing digits.
  QFont font = value_->font();
  int px = kValueFontPixels;
  for (; px > 8; --px) {
    font.setPixelSize(px);
    if (QFontMetrics(font).horizontalAdvance(text) <= kValueWidth - kValueIndent) break;
  }
  font.setPixelSize(px);
  if (font != value_->font()) value_->setFont(font);
  value_->setText(text);
}

QString TfrmParamWin::NameText() const {
  return name_->text();
}

QString TfrmParamWin::ValueText() const {
  return value_->text();
}

void TfrmParamWin::RequestClose() {
  if (OnCloseRequest) OnCloseRequest(*this);
}

void TfrmParamWin::GiveFocusBack() {
  if (owner_) owner_->activateWindow();
}

void TfrmParamWin::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  RequestClose();
}

bool TfrmParamWin::eventFilter(QObject* watched, QEvent* event) {
  if (watched != name_ && watched != value_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonDblClick:
      dragging_ = false;
      RequestClose();
      return true;
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      // Only the name part drags the window; the value part does nothing.
      if (watched != name_ || e->button() != Qt::LeftButton) return true;
      if (windowHandle() && windowHandle()->startSystemMove()) {
        GiveFocusBack();
        return true;
      }
      dragging_ = true;
      dragOffset_ = e->globalPosition().toPoint() - pos();
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (dragging_ && (e->buttons() & Qt::LeftButton))
        move(e->globalPosition().toPoint() - dragOffset_);
      return true;
    }
    case QEvent::MouseButtonRelease:
      dragging_ = false;
      GiveFocusBack();
      return true;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

}  // namespace kvd
