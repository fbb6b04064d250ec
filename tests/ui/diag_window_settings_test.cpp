// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window with its two dialogs: the set editor and the settings dialog, answered
// by scripts while they run modally.
#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <cstdlib>

#include "diag_window_fixture.h"
#include "modal_script.h"
#include "ui/frm_cfg.h"
#include "ui/frm_set_editor.h"

namespace kvd::testing {
namespace {

TEST_F(DiagWindowTest, BothDialogsHaveTheirMenuItems) {
  TFormDiagJ5E2& w = Open();
  QAction* edit = w.Action("miChangeSet");
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_EQ(edit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
  QAction* cfg = w.Action("miCfg");
  ASSERT_NE(cfg, nullptr);
  EXPECT_TRUE(cfg->isEnabled());
  EXPECT_EQ(cfg->text(), QStringLiteral("Настройка"));
  // The set items stay last in the "Данные" menu, after the last separator.
  const QList<QAction*> items = w.DataMenu()->actions();
  ASSERT_GE(items.size(), 11);
  EXPECT_TRUE(items[items.size() - 11]->isSeparator());
  EXPECT_EQ(items.back()->objectName(), QStringLiteral("miSet10"));
}

TEST_F(DiagWindowTest, SetEditorOkAppliesTheCurrentSetAtOnceAndStoresAtClose) {
  // A stored 60-character name is cut to 50, in the menu and in the editor.
  const QString longName = QString(60, QChar(0x0416));  // "Ж" x 60
  settings_->WriteString("Janvar5_E2", "DiagSetName2", longName);
  settings_->WriteInt("Janvar5_E2", "DiagSetOpt1-3", 0x31);  // expanded, with other bits
  TFormDiagJ5E2& w = Open();
  EXPECT_EQ(w.Action("miSet2")->text(), longName.left(50));
  ASSERT_TRUE(w.Pane(2)->GraphShown());

  WhenModal<TfrmSetEditor>([&](TfrmSetEditor& e) {
    EXPECT_EQ(e.parentWidget(), &w);
    // Set 1 (the current one): pane 3 collapsed, pane 7 shows parameter 34.
    e.ExpandedBox(3)->setChecked(false);
    e.ParamList(7)->setCurrentIndex(33);
    e.TabControl()->setCurrentIndex(1);
    EXPECT_EQ(e.eName()->text(), longName.left(50));
    e.eName()->setText(QStringLiteral("Разгон"));
    e.bOK()->click();
  });
  w.miChangeSetClick();

  EXPECT_FALSE(w.Pane(2)->GraphShown());
  EXPECT_EQ(w.Pane(2)->height(), 30);
  EXPECT_EQ(w.Pane(6)->Title(), QString::fromStdString(LookupParameter(34)->Name));
  EXPECT_EQ(w.Sets()[0].SlotOptions[2], 0x30);
  EXPECT_EQ(w.Sets()[1].Name, QStringLiteral("Разгон"));
  EXPECT_EQ(w.Action("miSet2")->text(), QStringLiteral("Разгон"));
  EXPECT_EQ(w.StatusText(1), QStringLiteral("Набор 1"));
  // Set 2 was edited but is not shown: choosing it shows its new name.
  w.ChooseSet(2);
  EXPECT_EQ(w.StatusText(1), QStringLiteral("Разгон"));

  EXPECT_TRUE(w.close());
  auto stored = UserSettings::OpenFile(dir_.filePath("user.conf"));
  EXPECT_EQ(LoadSetTable(*stored), w.Sets());
  EXPECT_EQ(stored->ReadInt("Janvar5_E2", "DiagSetIdx1-7"), 34);
  EXPECT_EQ(stored->ReadInt("Janvar5_E2", "DiagSetOpt1-3"), 0x30);
}

TEST_F(DiagWindowTest, SetEditorCancelDiscardsTheEditsOfEveryTab) {
  TFormDiagJ5E2& w = Open();
  const SetTable before = w.Sets();
  const QString title3 = w.Pane(2)->Title();
  WhenModal<TfrmSetEditor>([](TfrmSetEditor& e) {
    for (int tab = 0; tab < 10; ++tab) {
      e.TabControl()->setCurrentIndex(tab);
      e.eName()->setText(QStringLiteral("Правка %1").arg(tab));
      e.ParamList(3)->setCurrentIndex(20);
      e.ExpandedBox(1)->setChecked(false);
    }
    e.bCancel()->click();
  });
  w.miChangeSetClick();
  EXPECT_EQ(w.Sets(), before);
  EXPECT_EQ(w.Pane(2)->Title(), title3);
  EXPECT_TRUE(w.Pane(0)->GraphShown());
  EXPECT_EQ(w.Action("miSet1")->text(), QStringLiteral("Набор 1"));
}

TEST_F(DiagWindowTest, SettingsDialogStoresTheChoiceAndTheOpenPanesTakeTheNewLook) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(3);
  const int32_t records = w.History().RecordCount();
  const int32_t points = w.Shared().VisiblePointCount;
  WhenModal<TFormCfg>([&](TFormCfg& d) {
    // The sample is the dialog's own: the window's recording and panes are not touched.
    EXPECT_EQ(d.SampleRecordCount(), 200);
    EXPECT_EQ(d.cboxColor()->currentIndex(), 0);
    d.cboxColor()->setCurrentIndex(4);
    d.eLineWidth()->setValue(2);
    d.eNumXPoint()->setValue(100);
    EXPECT_EQ(w.Shared().VisiblePointCount, points);
    EXPECT_EQ(w.Pane(0)->ColorScheme(), 0);
    d.bOK()->click();
  });
  w.miCfgClick();
  EXPECT_EQ(w.History().RecordCount(), records);
  EXPECT_EQ(w.Shared().VisiblePointCount, points);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->ColorScheme(), 4) << i;
    EXPECT_EQ(w.Pane(i)->LineWidth(), 2) << i;
  }
  EXPECT_EQ(ReadWindowGraphLook(*settings_), (GraphLook{4, 2, 100}));
  // And they are drawn so: the charts take the blue scheme's background, 363895.
  QApplication::processEvents();
  const QImage shot = w.grab().toImage();
  if (const char* dir = std::getenv("KVD_LOOK_DIR"))
    shot.save(QString::fromLocal8Bit(dir) + QStringLiteral("/diag_window_blue.png"));
  for (int i : {0, 6}) {
    const QPoint inChart = w.Pane(i)->mapTo(&w, QPoint(200, 8));
    EXPECT_EQ(QColor(shot.pixel(inChart)).rgb() & 0xFFFFFF, 0x363895u) << i;
  }

  // The next window starts with all of it.
  window_.reset();
  DiagWindowConfig c = Config();
  c.visiblePointCount = StartPointCount(*settings_);
  TFormDiagJ5E2& next = Open(c);
  EXPECT_EQ(next.Shared().VisiblePointCount, 100);
  EXPECT_EQ(next.Pane(3)->PointCount(), 100);
  EXPECT_EQ(next.Pane(3)->ColorScheme(), 4);
  EXPECT_EQ(next.Pane(3)->LineWidth(), 2);
}

}  // namespace
}  // namespace kvd::testing
