// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_set_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>

#include "data/parameters.h"

namespace kvd {

namespace {

constexpr int kMinWidth = 580;
constexpr int kTabControlHeight = 292;

}  // namespace

TfrmSetEditor::TfrmSetEditor(const SetTable& sets, QWidget* parent) : QDialog(parent), work_(sets) {
  setObjectName(QStringLiteral("frmSetEditor"));
  setWindowTitle(QStringLiteral("Редактор наборов данных"));
  setModal(true);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  // The tab control: ten fixed tabs over one page that shows the set of the chosen tab. The
  // dialog is as wide as all ten tabs need, so that none is cut off or hidden.
  tabControl_ = new QWidget(this);
  tabControl_->setObjectName(QStringLiteral("TabControl"));
  auto* page = new QFrame(tabControl_);
  page->setFrameShape(QFrame::StyledPanel);
  tabs_ = new QTabBar(tabControl_);
  tabs_->setObjectName(QStringLiteral("Tabs"));
  tabs_->setExpanding(false);
  tabs_->setDrawBase(false);
  tabs_->setUsesScrollButtons(false);
  tabs_->setElideMode(Qt::ElideNone);
  for (int i = 1; i <= kDataSetCount; ++i) tabs_->addTab(QStringLiteral("Набор %1").arg(i));
  const int width = std::max(kMinWidth, tabs_->sizeHint().width() + 16 + 4);
  setFixedSize(width, kHeight);
  tabControl_->setGeometry(8, 8, width - 16, kTabControlHeight);
  tabs_->setGeometry(0, 0, tabControl_->width(), tabs_->sizeHint().height());
  const int pageTop = tabs_->sizeHint().height() - 1;
  page->setGeometry(0, pageTop, tabControl_->width(), kTabControlHeight - pageTop);
  page->lower();

  auto* nameLabel = new QLabel(QStringLiteral("Название"), tabControl_);
  nameLabel->setGeometry(20, 48, 78, 21);
  eName_ = new QLineEdit(tabControl_);
  eName_->setObjectName(QStringLiteral("eName"));
  eName_->setMaxLength(kDataSetNameMax);
  eName_->setGeometry(100, 47, 240, 22);
  nameLabel->setBuddy(eName_);

  QStringList names;
  for (const std::string& name : ParameterNameList()) names << QString::fromStdString(name);
  for (int k = 1; k <= kPaneCount; ++k) {
    const int top = 55 + 25 * k;
    auto* label = new QLabel(QStringLiteral("Параметр %1").arg(k), tabControl_);
    label->setGeometry(20, top + 3, 78, 17);
    auto* list = new QComboBox(tabControl_);
    list->setObjectName(QStringLiteral("cbParam%1").arg(k));
    list->addItems(names);
    list->setMaxVisibleItems(25);
    list->setGeometry(100, top, 240, 22);
    label->setBuddy(list);
    auto* check = new QCheckBox(QStringLiteral("показывать развернутым"), tabControl_);
    check->setObjectName(QStringLiteral("cbExpanded%1").arg(k));
    // 150 wide, or wider where the font needs it.
    check->setGeometry(360, top + 2, std::max(150, check->sizeHint().width()), 18);
    lists_[static_cast<size_t>(k - 1)] = list;
    checks_[static_cast<size_t>(k - 1)] = check;
  }

  bOK_ = new QPushButton(QStringLiteral("Ok"), this);
  bOK_->setObjectName(QStringLiteral("bOK"));
  bOK_->setGeometry(width - 204, kHeight - 40, 92, 27);
  // "Отмена" is the default button: Enter in the name box, a list or a check box cancels. Both
  // buttons are auto-default, so that Enter on a focused button presses that button.
  bOK_->setAutoDefault(true);
  bCancel_ = new QPushButton(QStringLiteral("Отмена"), this);
  bCancel_->setObjectName(QStringLiteral("bCancel"));
  bCancel_->setGeometry(width - 104, kHeight - 40, 92, 27);
  bCancel_->setAutoDefault(true);
  bCancel_->setDefault(true);

  shown_ = 0;
  tabs_->setCurrentIndex(0);
  ShowSet(0);

  connect(tabs_, &QTabBar::currentChanged, this, [this](int) {
    TabChanging();
    TabChange();
  });
  connect(bOK_, &QPushButton::clicked, this, [this] { bOKClick(); });
  connect(bCancel_, &QPushButton::clicked, this, [this] { bCancelClick(); });
}

TfrmSetEditor::~TfrmSetEditor() = default;

QComboBox* TfrmSetEditor::ParamList(int row) const {
  return row >= 1 && row <= kPaneCount ? lists_[static_cast<size_t>(row - 1)] : nullptr;
}

QCheckBox* TfrmSetEditor::ExpandedBox(int row) const {
  return row >= 1 && row <= kPaneCount ? checks_[static_cast<size_t>(row - 1)] : nullptr;
}

void TfrmSetEditor::ShowSet(int index) {
  const DataSet& set = work_[static_cast<size_t>(index)];
  eName_->setText(set.Name.left(kDataSetNameMax));
  for (int k = 0; k < kPaneCount; ++k) {
    const int32_t number = set.SlotParameter[static_cast<size_t>(k)];
    // A number outside the catalogue cannot be shown; the list then shows its first entry
    // and OK stores that one.
    const int row = number >= 1 && number <= kParameterCount ? number - 1 : 0;
    lists_[static_cast<size_t>(k)]->setCurrentIndex(row);
    checks_[static_cast<size_t>(k)]->setChecked((set.SlotOptions[static_cast<size_t>(k)] & 1) != 0);
  }
}

void TfrmSetEditor::StoreSet(int index) {
  DataSet& set = work_[static_cast<size_t>(index)];
  set.Name = eName_->text().left(kDataSetNameMax);
  for (int k = 0; k < kPaneCount; ++k) {
    const int row = lists_[static_cast<size_t>(k)]->currentIndex();
    set.SlotParameter[static_cast<size_t>(k)] = row >= 0 ? row + 1 : 1;
    int32_t& options = set.SlotOptions[static_cast<size_t>(k)];
    // Only bit 0 is the check box's; the other bits of the option word are kept.
    options = (options & ~int32_t{1}) | (checks_[static_cast<size_t>(k)]->isChecked() ? 1 : 0);
  }
}

void TfrmSetEditor::TabChanging() {
  StoreSet(shown_);
}

void TfrmSetEditor::TabChange() {
  const int index = tabs_->currentIndex();
  shown_ = index >= 0 && index < kDataSetCount ? index : 0;
  ShowSet(shown_);
}

void TfrmSetEditor::bOKClick() {
  StoreSet(shown_);
  accept();
}

void TfrmSetEditor::bCancelClick() {
  reject();
}

}  // namespace kvd
