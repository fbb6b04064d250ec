// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_err_list.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>

#include "session/diag_session.h"

namespace kvd {

namespace {

constexpr int kColumnCount = 4;
constexpr int kDefaultColumnWidth = 60;
constexpr int kTextColumnWidth = 500;
constexpr int kRowHeight = 22;
constexpr int kButtonWidth = 95;
constexpr int kButtonHeight = 29;
constexpr int kClearLeft = 428;
constexpr int kCloseLeft = 532;

}  // namespace

TFormErrList::TFormErrList(uint32_t& ownerTag, QWidget* parent)
    : QFrame(parent), ownerTag_(ownerTag) {
  // FormCreate: a tool window of its own size at 5, 5 inside the owner.
  setObjectName(QStringLiteral("FormErrList"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(kBorder);
  setAutoFillBackground(true);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  setFocusPolicy(Qt::StrongFocus);
  setGeometry(5, 5, kClientWidth + 2 * kBorder, kClientHeight + kCaptionHeight + 2 * kBorder);

  // The caption of a tool window: title and a small close button; dragging it moves the list.
  caption_ = new QWidget(this);
  caption_->setObjectName(QStringLiteral("Caption"));
  caption_->setGeometry(kBorder, kBorder, kClientWidth, kCaptionHeight);
  caption_->setAutoFillBackground(true);
  QPalette cp = caption_->palette();
  cp.setColor(QPalette::Window, cp.color(QPalette::Highlight));
  cp.setColor(QPalette::WindowText, cp.color(QPalette::HighlightedText));
  caption_->setPalette(cp);
  auto* captionLayout = new QHBoxLayout(caption_);
  captionLayout->setContentsMargins(4, 0, 1, 0);
  auto* title = new QLabel(QStringLiteral("Ошибки"), caption_);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  captionLayout->addWidget(title, 1);
  auto* closeBox = new QToolButton(caption_);
  closeBox->setObjectName(QStringLiteral("CaptionClose"));
  closeBox->setText(QStringLiteral("×"));
  closeBox->setFixedSize(kCaptionHeight - 2, kCaptionHeight - 2);
  closeBox->setFocusPolicy(Qt::NoFocus);
  captionLayout->addWidget(closeBox);
  connect(closeBox, &QToolButton::clicked, this, [this] { close(); });
  caption_->installEventFilter(this);
  title->installEventFilter(this);

  client_ = new QWidget(this);
  client_->setGeometry(kBorder, kBorder + kCaptionHeight, kClientWidth, kClientHeight);

  grid_ = new QTableWidget(0, kColumnCount, client_);
  grid_->setObjectName(QStringLiteral("Grid"));
  grid_->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);
  grid_->verticalHeader()->hide();  // no fixed columns
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->horizontalHeader()->setDefaultSectionSize(kDefaultColumnWidth);
  grid_->horizontalHeader()->setFixedHeight(kRowHeight);
  grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->setHorizontalHeaderLabels(
      {QString::fromUtf8(kDtcGridHeader[0]), QString::fromUtf8(kDtcGridHeader[1]),
       QString::fromUtf8(kDtcGridHeader[2]), QString::fromUtf8(kDtcGridHeader[3])});
  grid_->setColumnWidth(3, kTextColumnWidth);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setWordWrap(false);

  auto* panel = new QFrame(client_);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);
  const int buttonTop = (kPanelHeight - kButtonHeight) / 2;
  bClr_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogResetButton),
                          QStringLiteral("Сброс"), panel);
  bClr_->setObjectName(QStringLiteral("BitBtn1"));
  bClr_->setGeometry(kClearLeft, buttonTop, kButtonWidth, kButtonHeight);
  connect(bClr_, &QPushButton::clicked, this, [this] { bClrClick(); });
  bOK_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                         QStringLiteral("Закрыть"), panel);
  bOK_->setObjectName(QStringLiteral("BitBtn2"));
  bOK_->setGeometry(kCloseLeft, buttonTop, kButtonWidth, kButtonHeight);
  bOK_->setDefault(true);
  connect(bOK_, &QPushButton::clicked, this, [this] { bOKClick(); });
}

void TFormErrList::ShowTroubleCodes(const DtcList& list) {
  const std::vector<DtcGridRow> rows = DtcGridRows(list, DtcLanguage::Russian);
  grid_->setRowCount(static_cast<int>(rows.size()) - 1);
  for (size_t r = 1; r < rows.size(); ++r) {
    for (int c = 0; c < kColumnCount; ++c) {
      const QString text = QString::fromStdString(rows[r][static_cast<size_t>(c)]);
      QTableWidgetItem* item = grid_->item(static_cast<int>(r) - 1, c);
      if (item) {
        item->setText(text);
      } else {
        grid_->setItem(static_cast<int>(r) - 1, c, new QTableWidgetItem(text));
      }
    }
  }
}

void TFormErrList::bClrClick() {
  ownerTag_ |= kClearRequested;
}

void TFormErrList::bOKClick() {
  close();
}

QStringList TFormErrList::RowTexts(int row) const {
  QStringList texts;
  for (int c = 0; c < kColumnCount; ++c) {
    if (row == 0) {
      texts << grid_->horizontalHeaderItem(c)->text();
    } else {
      const QTableWidgetItem* item = grid_->item(row - 1, c);
      texts << (item ? item->text() : QString());
    }
  }
  return texts;
}

int TFormErrList::RowCount() const {
  return grid_->rowCount() + 1;
}

void TFormErrList::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  ownerTag_ |= kErrListShown;  // FormShow
}

void TFormErrList::closeEvent(QCloseEvent* event) {
  ownerTag_ &= ~kErrListShown;  // FormClose
  QFrame::closeEvent(event);
}

void TFormErrList::keyPressEvent(QKeyEvent* event) {
  // "Закрыть" is the default button: Enter closes the list.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    bOKClick();
    return;
  }
  QFrame::keyPressEvent(event);
}

bool TFormErrList::eventFilter(QObject* watched, QEvent* event) {
  // Dragging the caption moves the list, kept inside the owner's area.
  if (event->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() == Qt::LeftButton) {
      dragging_ = true;
      dragOffset_ = me->globalPosition().toPoint() - pos();
      raise();
      return true;
    }
  } else if (event->type() == QEvent::MouseMove && dragging_) {
    auto* me = static_cast<QMouseEvent*>(event);
    QPoint to = me->globalPosition().toPoint() - dragOffset_;
    if (QWidget* owner = parentWidget()) {
      to.setX(std::clamp(to.x(), 0, std::max(0, owner->width() - width())));
      to.setY(std::clamp(to.y(), 0, std::max(0, owner->height() - kCaptionHeight)));
    }
    move(to);
    return true;
  } else if (event->type() == QEvent::MouseButtonRelease) {
    dragging_ = false;
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace kvd
