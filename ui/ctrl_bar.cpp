// SPDX-License-Identifier: GPL-3.0-or-later
// The control bar's widgets and their wiring to the actuator handlers.
#include "ui/ctrl_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

namespace kvd {

TCtrlBar::TCtrlBar(DiagSession& session, EcuUi& ui, QWidget* parent)
    : QFrame(parent), control_(session, ui, *this) {
  setObjectName(QStringLiteral("panelCtrl"));
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Raised);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->setSpacing(6);

  cbCtrl_ = new QCheckBox(QStringLiteral("Управление"), this);
  cbCtrl_->setObjectName(QStringLiteral("cbCtrl"));
  cbCtrl_->setToolTip(QStringLiteral("Прямое управление параметрами"));
  cbCtrl_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(cbCtrl_);

  comboCtrl_ = new QComboBox(this);
  comboCtrl_->setObjectName(QStringLiteral("comboCtrl"));
  for (const ActuatorItem& item : kActuatorItems) comboCtrl_->addItem(QString::fromUtf8(item.Text));
  comboCtrl_->setMaxVisibleItems(kActuatorCount);
  comboCtrl_->setCurrentIndex(-1);
  comboCtrl_->setMinimumWidth(190);
  comboCtrl_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(comboCtrl_);

  eCtrl_ = new QLineEdit(this);
  eCtrl_->setObjectName(QStringLiteral("eCtrl"));
  eCtrl_->setReadOnly(true);
  eCtrl_->setFixedWidth(65);
  eCtrl_->setFocusPolicy(Qt::NoFocus);
  QPalette pal = eCtrl_->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Button));
  eCtrl_->setPalette(pal);
  layout->addWidget(eCtrl_);

  tbCtrl_ = new QSlider(Qt::Horizontal, this);
  tbCtrl_->setObjectName(QStringLiteral("tbCtrl"));
  tbCtrl_->setRange(kTrackMin, kTrackMax);
  tbCtrl_->setValue(0);
  tbCtrl_->setPageStep(10);
  tbCtrl_->setTickInterval(16);
  tbCtrl_->setTickPosition(QSlider::TicksBelow);
  tbCtrl_->setFixedWidth(260);
  tbCtrl_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(tbCtrl_);

  bOn_ = new QPushButton(QStringLiteral("Включить"), this);
  bOn_->setObjectName(QStringLiteral("bOn"));
  bOff_ = new QPushButton(QStringLiteral("Выключить"), this);
  bOff_->setObjectName(QStringLiteral("bOff"));
  for (QPushButton* b : {bOn_, bOff_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedHeight(22);
    b->hide();
    layout->addWidget(b);
  }
  layout->addStretch(1);

  connect(cbCtrl_, &QCheckBox::clicked, this, [this] { control_.cbCtrlClick(); });
  connect(comboCtrl_, &QComboBox::activated, this,
          [this] { control_.comboCtrlChange(CtrlSender::User); });
  connect(tbCtrl_, &QSlider::valueChanged, this, [this] {
    if (attached_) control_.tbCtrlChange(CtrlSender::TrackBar);
  });
  connect(bOn_, &QPushButton::clicked, this, [this] { control_.tbCtrlChange(CtrlSender::On); });
  connect(bOff_, &QPushButton::clicked, this, [this] { control_.tbCtrlChange(CtrlSender::Off); });
  setEnabled(false);
}

void TCtrlBar::SetPanelEnabled(bool enabled) {
  setEnabled(enabled);
  attached_ = enabled;
  if (enabled && cbCtrl_->isChecked()) {
    // Unchecking runs the box's handler; with the session not yet open it returns nothing.
    cbCtrl_->setChecked(false);
    control_.cbCtrlClick();
  }
}

bool TCtrlBar::Release() {
  if (!cbCtrl_->isChecked()) return true;
  cbCtrl_->setChecked(false);
  return control_.cbCtrlClick();
}

bool TCtrlBar::Checked() {
  return cbCtrl_->isChecked();
}

void TCtrlBar::SetChecked(bool on) {
  const QSignalBlocker block(cbCtrl_);
  cbCtrl_->setChecked(on);
}

int32_t TCtrlBar::SelectedIndex() {
  return comboCtrl_->currentIndex();
}

void TCtrlBar::ClearSelection() {
  comboCtrl_->setCurrentIndex(-1);
}

void TCtrlBar::SetControlsEnabled(bool enabled) {
  comboCtrl_->setEnabled(enabled);
  eCtrl_->setEnabled(enabled);
  tbCtrl_->setEnabled(enabled);
}

void TCtrlBar::ShowTrackBar(bool trackBar) {
  tbCtrl_->setVisible(trackBar);
  bOn_->setVisible(!trackBar);
  bOff_->setVisible(!trackBar);
}

int32_t TCtrlBar::TrackPosition() {
  return tbCtrl_->value();
}

void TCtrlBar::SetTrackPosition(int32_t position) {
  tbCtrl_->setValue(position);
}

void TCtrlBar::SetValueText(const std::string& text) {
  eCtrl_->setText(QString::fromStdString(text));
}

}  // namespace kvd
