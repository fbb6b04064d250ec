// SPDX-License-Identifier: GPL-3.0-or-later
// The trouble-code list inside the diagnostic window on the virtual ECU: opening it from the
// menu, the rows of the codes, "Сброс" against a refusing ECU, closing, and its look.
// With KVD_LOOK_DIR set the grab is saved there as err_list.png.
#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QTableWidget>
#include <cstdlib>

#include "diag_window_fixture.h"
#include "session/response_codes.h"
#include "ui/frm_err_list.h"

namespace kvd::testing {
namespace {

// The row of a code in the list, or -1.
int RowOf(const TFormErrList& list, const QString& code) {
  for (int r = 1; r < list.RowCount(); ++r)
    if (list.RowTexts(r)[0] == code) return r;
  return -1;
}

TEST_F(DiagWindowTest, ErrorListOpensFillsClearsAndCloses) {
  TFormDiagJ5E2& w = Open();
  QAction* errors = w.Action("miErrors");
  ASSERT_NE(errors, nullptr);
  EXPECT_FALSE(errors->isEnabled());  // off-line
  Connect();
  ASSERT_TRUE(errors->isEnabled());
  errors->trigger();
  TFormErrList* list = w.FormErrList();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isVisible());
  EXPECT_EQ(list->parentWidget(), w.ClientArea());
  EXPECT_EQ(list->pos(), QPoint(5, 5));
  EXPECT_EQ(list->ClientArea()->size(), QSize(632, 390));
  EXPECT_TRUE(w.Session().Tag & kErrListShown);
  errors->trigger();  // while shown: nothing happens
  EXPECT_EQ(w.FormErrList(), list);
  EXPECT_EQ(w.ClientArea()->findChildren<TFormErrList*>().size(), 1);
  EXPECT_EQ(list->RowTexts(0), QStringList({"Ошибка", "Текущая", "Сохр.", "Описание"}));
  EXPECT_EQ(list->RowCount(), 1);

  Ticks(4);  // live data and trouble codes in turn
  const int knock = RowOf(*list, "P0325");
  ASSERT_GT(knock, 0);
  EXPECT_EQ(list->RowTexts(knock),
            QStringList({"P0325", "   ДА", "   ДА", "Обрыв датчика детонации"}));
  const int noText = RowOf(*list, "P3999");
  ASSERT_GT(noText, 0);
  EXPECT_EQ(list->RowTexts(noText)[3], QString());
  const int stored = RowOf(*list, "P0130");
  ASSERT_GT(stored, 0);
  EXPECT_EQ(list->RowTexts(stored)[1], QStringLiteral("     "));
  EXPECT_EQ(list->Grid()->columnWidth(3), 500);
  EXPECT_EQ(list->Grid()->columnWidth(0), 60);
  const int rowsBefore = list->RowCount();

  // "Сброс" only asks; the refusing ECU's reason comes on every data-exchanging tick and the
  // grid keeps its content meanwhile.
  ecu_.Faults().refuseService = 0x14;
  list->ClearButton()->click();
  EXPECT_TRUE(w.Session().Tag & kClearRequested);
  EXPECT_TRUE(messages_.empty());
  Ticks(3);
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[0].toStdString(), ResponseCodeText(0x22));
  EXPECT_EQ(list->RowCount(), rowsBefore);
  ecu_.Faults().refuseService = -1;
  Ticks(4);
  EXPECT_FALSE(w.Session().Tag & kClearRequested);
  EXPECT_EQ(messages_.size(), 3u);
  EXPECT_EQ(list->RowCount(), 1);  // nothing stored right after the clearing

  // "Закрыть", then a fresh list from the menu; the end of the session closes it.
  list->CloseButton()->click();
  EXPECT_FALSE(list->isVisible());
  EXPECT_FALSE(w.Session().Tag & kErrListShown);
  errors->trigger();
  ASSERT_NE(w.FormErrList(), nullptr);
  EXPECT_TRUE(w.Session().Tag & kErrListShown);
  w.Action("miConnect")->trigger();  // "Прервать"
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.FormErrList(), nullptr);  // closed and gone
  EXPECT_FALSE(w.Session().Tag & kErrListShown);
}

TEST_F(DiagWindowTest, ErrorListLooksLikeAToolWindowWithItsGridAndButtons) {
  TFormDiagJ5E2& w = Open();
  Connect();
  w.Action("miErrors")->trigger();
  Ticks(6);
  TFormErrList* list = w.FormErrList();
  ASSERT_NE(list, nullptr);
  QApplication::processEvents();
  const QImage shot = w.grab().toImage();
  if (const char* dir = std::getenv("KVD_LOOK_DIR"))
    shot.save(QString::fromLocal8Bit(dir) + QStringLiteral("/err_list.png"));

  // The buttons sit in the bottom panel at their places, inside the list and the window.
  const QRect clr(list->ClearButton()->mapTo(list->ClientArea(), QPoint()),
                  list->ClearButton()->size());
  const QRect ok(list->CloseButton()->mapTo(list->ClientArea(), QPoint()),
                 list->CloseButton()->size());
  EXPECT_EQ(clr.x(), 428);
  EXPECT_EQ(ok.x(), 532);
  EXPECT_EQ(clr.size(), QSize(95, 29));
  EXPECT_GE(clr.y(), 390 - 42);
  EXPECT_LE(ok.bottom(), 390);
  EXPECT_TRUE(w.ClientArea()->rect().contains(list->geometry()));
  EXPECT_EQ(list->Grid()->height(), 390 - 42);
  EXPECT_EQ(list->CloseButton()->text(), QStringLiteral("Закрыть"));
  EXPECT_TRUE(list->CloseButton()->isDefault());
  // The list is drawn over the panes: its grid's base colour, not the pane's black, is at
  // a point of the first row right of its text.
  const QPoint cell = list->Grid()->viewport()->mapTo(&w, QPoint(560, 11));
  EXPECT_GT(QColor(shot.pixel(cell)).lightness(), 120);
}

}  // namespace
}  // namespace kvd::testing
