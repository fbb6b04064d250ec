// SPDX-License-Identifier: GPL-3.0-or-later
// The set editor on its own: its tabs and rows, the working copy across tab changes, OK and
// Cancel.
#include "ui/frm_set_editor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include "data/parameters.h"

namespace kvd {
namespace {

TEST(SetEditorTest, TenFixedTabsAndSevenRowsShowingTheFirstSet) {
  SetTable sets = DefaultSetTable();
  sets[0].Name = QStringLiteral("Холостой ход");
  sets[0].SlotOptions[3] = 0;
  TfrmSetEditor editor(sets);
  EXPECT_EQ(editor.windowTitle(), QStringLiteral("Редактор наборов данных"));
  EXPECT_EQ(editor.height(), 355);
  ASSERT_EQ(editor.TabControl()->count(), 10);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(editor.TabControl()->tabText(i), QStringLiteral("Набор %1").arg(i + 1));
  EXPECT_EQ(editor.ShownSet(), 1);
  EXPECT_EQ(editor.eName()->text(), QStringLiteral("Холостой ход"));
  EXPECT_EQ(editor.eName()->maxLength(), 50);
  EXPECT_TRUE(editor.bCancel()->isDefault());
  EXPECT_FALSE(editor.bOK()->isDefault());
  EXPECT_EQ(editor.bCancel()->text(), QStringLiteral("Отмена"));
  const std::vector<std::string> names = ParameterNameList();
  for (int k = 1; k <= 7; ++k) {
    QComboBox* list = editor.ParamList(k);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), kParameterCount);
    EXPECT_EQ(list->itemText(kParameterCount - 1), QString::fromStdString(names.back()));
    EXPECT_EQ(list->maxVisibleItems(), 25);
    EXPECT_EQ(list->geometry().topLeft(), QPoint(100, 55 + 25 * k));
    EXPECT_EQ(list->width(), 240);
    EXPECT_EQ(list->currentIndex(), sets[0].SlotParameter[k - 1] - 1);
    QCheckBox* box = editor.ExpandedBox(k);
    EXPECT_EQ(box->text(), QStringLiteral("показывать развернутым"));
    EXPECT_EQ(box->geometry().topLeft(), QPoint(360, 55 + 25 * k + 2));
    EXPECT_EQ(box->isChecked(), k != 4);
  }
  EXPECT_EQ(editor.ParamList(0), nullptr);
  EXPECT_EQ(editor.ParamList(8), nullptr);
}

TEST(SetEditorTest, EditsOfEveryTabSurviveTabChangesAndOkKeepsOtherOptionBits) {
  SetTable sets = DefaultSetTable();
  sets[2].SlotOptions[0] = 0x0B;  // expanded, with bits the editor does not show
  TfrmSetEditor editor(sets);
  editor.show();
  // Tab 1: a new name and parameter 34 in row 3.
  editor.eName()->setText(QStringLiteral("Мой набор"));
  editor.ParamList(3)->setCurrentIndex(33);
  // Tab 3: row 1 collapsed.
  editor.TabControl()->setCurrentIndex(2);
  EXPECT_EQ(editor.ShownSet(), 3);
  EXPECT_EQ(editor.eName()->text(), QStringLiteral("Набор 3"));
  EXPECT_TRUE(editor.ExpandedBox(1)->isChecked());
  editor.ExpandedBox(1)->setChecked(false);
  // Back to tab 1: its edits are still there.
  editor.TabControl()->setCurrentIndex(0);
  EXPECT_EQ(editor.eName()->text(), QStringLiteral("Мой набор"));
  EXPECT_EQ(editor.ParamList(3)->currentIndex(), 33);
  // Tab 10 is the one shown at OK: its edit goes in too.
  editor.TabControl()->setCurrentIndex(9);
  editor.ParamList(7)->setCurrentIndex(0);
  editor.bOK()->click();
  EXPECT_EQ(editor.result(), QDialog::Accepted);

  SetTable expected = sets;
  expected[0].Name = QStringLiteral("Мой набор");
  expected[0].SlotParameter[2] = 34;
  expected[2].SlotOptions[0] = 0x0A;
  expected[9].SlotParameter[6] = 1;
  EXPECT_EQ(editor.WorkingCopy(), expected);
}

TEST(SetEditorTest, EnterCancelsAndAnOddStoredNumberIsShownSafely) {
  SetTable sets = DefaultSetTable();
  sets[1].SlotParameter[0] = 99;  // never loaded like this, but the editor must not fail
  TfrmSetEditor editor(sets);
  editor.show();
  editor.eName()->setText(QStringLiteral("x"));
  editor.TabControl()->setCurrentIndex(1);
  EXPECT_EQ(editor.ParamList(1)->currentIndex(), 0);
  editor.ParamList(2)->setCurrentIndex(5);
  // Enter in the name edit presses the default button, "Отмена".
  editor.eName()->setFocus();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(editor.eName(), &enter);
  EXPECT_EQ(editor.result(), QDialog::Rejected);
  EXPECT_FALSE(editor.isVisible());
}

}  // namespace
}  // namespace kvd
