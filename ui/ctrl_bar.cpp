// SPDX-License-Identifier: GPL-3.0-or-later
// The control bar's widgets and their wiring to the actuator handlers.
#include "ui/ctrl_bar.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyledItemDelegate>

namespace kvd {

namespace {

constexpr int kTrackWidth = 260;

// A letter typed without Ctrl, Alt or Meta.
bool TypesLetter(const QKeyEvent& event) {
  const Qt::KeyboardModifiers mods =
      event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  return mods == Qt::NoModifier && !event.text().isEmpty() && event.text()[0].isLetter();
}

// The list's rows, all of one fixed height.
class FixedRowDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(TCtrlBar::kItemHeight);
    return size;
  }
};

// The list of actuators. An item is chosen only in the open list (a click or Enter there), never
// by a key on the closed one: typing a letter opens the list at the first item starting with
// it, and Space, F4 or Alt+Down open it as usual; other keys are not the list's.
class CtrlList final : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (TypesLetter(*event)) {
      showPopup();
      view()->keyboardSearch(event->text());
      event->accept();
      return;
    }
    const bool opens = event->key() == Qt::Key_Space || event->key() == Qt::Key_F4 ||
                       (event->key() == Qt::Key_Down && event->modifiers() == Qt::AltModifier);
    if (opens)
      QComboBox::keyPressEvent(event);
    else
      event->ignore();
  }
};

}  // namespace

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

  comboCtrl_ = new CtrlList(this);
  comboCtrl_->setObjectName(QStringLiteral("comboCtrl"));
  comboCtrl_->setItemDelegate(new FixedRowDelegate(comboCtrl_));
  for (const ActuatorItem& item : kActuatorItems) comboCtrl_->addItem(QString::fromUtf8(item.Text));
  comboCtrl_->setMaxVisibleItems(kActuatorCount);
  comboCtrl_->setCurrentIndex(-1);
  comboCtrl_->setMinimumWidth(190);
  // A click gives it the focus, so that typing opens it; the window's keys still come first.
  comboCtrl_->setFocusPolicy(Qt::ClickFocus);
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

  // The track bar and the two buttons share one place of the bar: one group is shown at a time.
  auto* place = new QWidget(this);
  place->setObjectName(QStringLiteral("placeCtrl"));
  place->setFixedWidth(kTrackWidth);
  auto* placeLayout = new QHBoxLayout(place);
  placeLayout->setContentsMargins(0, 0, 0, 0);
  placeLayout->setSpacing(6);
  layout->addWidget(place);

  tbCtrl_ = new QSlider(Qt::Horizontal, place);
  tbCtrl_->setObjectName(QStringLiteral("tbCtrl"));
  tbCtrl_->setRange(kTrackMin, kTrackMax);
  tbCtrl_->setValue(0);
  tbCtrl_->setPageStep(10);
  tbCtrl_->setTickInterval(16);
  tbCtrl_->setTickPosition(QSlider::TicksBelow);
  tbCtrl_->setFocusPolicy(Qt::NoFocus);
  placeLayout->addWidget(tbCtrl_, 1);

  bOn_ = new QPushButton(QStringLiteral("Включить"), place);
  bOn_->setObjectName(QStringLiteral("bOn"));
  bOff_ = new QPushButton(QStringLiteral("Выключить"), place);
  bOff_->setObjectName(QStringLiteral("bOff"));
  for (QPushButton* b : {bOn_, bOff_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedHeight(22);
    b->hide();
    placeLayout->addWidget(b);
  }
  placeLayout->addStretch(0);
  layout->addStretch(1);

  connect(cbCtrl_, &QCheckBox::clicked, this, [this] { control_.cbCtrlClick(); });
  connect(comboCtrl_, &QComboBox::activated, this,
          [this] { control_.comboCtrlChange(CtrlSender::User); });
  connect(tbCtrl_, &QSlider::valueChanged, this, [this] {
    if (attached_) control_.tbCtrlChange(CtrlSender::TrackBar);
  });
  connect(bOn_, &QPushButton::clicked, this, [this] { control_.tbCtrlChange(CtrlSender::On); });
  connect(bOff_, &QPushButton::clicked, this, [this] { control_.tbCtrlChange(CtrlSender::Off); });
  // Until "Управление" is checked the bar cannot act on the ECU.
  SetControlsEnabled(false);
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
  if (enabled) SetControlsEnabled(false);
}

bool TCtrlBar::ListTakesKey(const QObject* receiver, const QKeyEvent& event) const {
  return receiver == comboCtrl_ && comboCtrl_->isEnabled() && TypesLetter(event);
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
  for (QWidget* w : std::initializer_list<QWidget*>{comboCtrl_, eCtrl_, tbCtrl_, bOn_, bOff_})
    w->setEnabled(enabled);
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
