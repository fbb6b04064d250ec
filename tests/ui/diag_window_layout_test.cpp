// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window's display side: layout, zoom, keys, navigation, menus and bars.
#include <QAction>
#include <QElapsedTimer>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusTipEvent>

#include "diag_window_fixture.h"
#include "ui/rx_timer.h"

namespace kvd::testing {
namespace {

bool SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods = {}, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(w, &release);
  return press.isAccepted();
}

// A focusable control inside the window that records the keys it receives.
class KeyRecorder : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  std::vector<int> keys;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    keys.push_back(e->key());
    QLineEdit::keyPressEvent(e);
  }
};

TEST_F(DiagWindowTest, CreationBuildsMenusBarsAndPanesAndWritesAppearanceDefaults) {
  TFormDiagJ5E2& w = Open();
  EXPECT_EQ(w.ClientArea()->size(), QSize(769, 483));
  EXPECT_EQ(w.minimumSize(), QSize(620, 450));
  EXPECT_EQ(w.LinkText(), QStringLiteral("OFF-LINE"));
  EXPECT_EQ(w.LinkIcon(), 1);
  EXPECT_EQ(w.StatusText(1), QStringLiteral("Набор 1"));
  EXPECT_TRUE(w.Session().PollEnabled);
  EXPECT_FALSE(w.Session().Connected);
  EXPECT_FALSE(w.ParamsMenu()->menuAction()->isEnabled());
  EXPECT_FALSE(w.PanelCtrl()->isEnabled());
  EXPECT_EQ(w.PanelCtrl()->height(), TFormDiagJ5E2::kCtrlBarHeight);
  EXPECT_FALSE(w.PanelADC()->isVisible());
  EXPECT_EQ(w.PanelADC()->height(), 0);
  EXPECT_FALSE(w.Action("miImmo")->isVisible());
  EXPECT_EQ(w.Action("miConnect")->text(), QStringLiteral("Уст.связь"));
  // Appearance values are written when missing.
  EXPECT_EQ(settings_->ReadInt("", "DiagColorScheme"), 0);
  EXPECT_EQ(settings_->ReadInt("", "DiagLineWidth"), 1);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->objectName(), QStringLiteral("Graph%1").arg(i + 1));
    EXPECT_EQ(w.Pane(i)->ColorScheme(), 0);
    EXPECT_EQ(w.Pane(i)->LineWidth(), 1);
    EXPECT_EQ(w.Pane(i)->width(), w.ClientArea()->width());
  }
  // Set 1: engine speed [40] in pane 1.
  EXPECT_EQ(w.Pane(0)->Title(), QString::fromStdString(LookupParameter(2)->Name));
  // The timer got the ini values.
  EXPECT_EQ(w.ComTimer()->Interval(), 0);
  EXPECT_FALSE(w.ComTimer()->Threaded());
  EXPECT_TRUE(w.ComTimer()->Enabled());
}

TEST_F(DiagWindowTest, MenusCarryTheirShortcutsAndFollowTheSession) {
  TFormDiagJ5E2& w = Open();
  struct Item {
    const char* name;
    QKeySequence key;
    bool enabled;
  };
  const Item items[] = {
      {"miSaveDiagData", QKeySequence(Qt::CTRL | Qt::Key_S), true},
      {"miOpenDiagData", QKeySequence(Qt::CTRL | Qt::Key_O), true},  // off-line
      {"miResetData", QKeySequence(Qt::CTRL | Qt::Key_R), true},
      {"miMeasure", QKeySequence(Qt::CTRL | Qt::Key_I), false},
      {"miCancelSelect", QKeySequence(Qt::CTRL | Qt::Key_U), false},  // no marks yet
      {"miAddFloat", QKeySequence(Qt::CTRL | Qt::Key_A), true},
      {"miArrangeFloat", QKeySequence(), false},  // no floating window yet
      {"miRemoveFloat", QKeySequence(), false},
      {"miChangeSet", QKeySequence(Qt::CTRL | Qt::Key_D), true},
      {"miErrors", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_E), false},
      {"miIdent", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_N), false},
      {"miConfig", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_C), false},
      {"miEcuReset", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_R), false},
      {"miADC", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_A), false},  // off-line
      {"miBlm1", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_F1), false},
      {"miBlm2", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_F2), false},
      {"miStop", QKeySequence(Qt::Key_Pause), true},  // enabled by showing
      {"miPause", QKeySequence(Qt::SHIFT | Qt::Key_Pause), true},
      {"miWider", QKeySequence(Qt::KeypadModifier | Qt::Key_Plus), true},
      {"miNarrower", QKeySequence(Qt::KeypadModifier | Qt::Key_Minus), true},
  };
  for (const Item& item : items) {
    QAction* a = w.Action(QString::fromLatin1(item.name));
    ASSERT_NE(a, nullptr) << item.name;
    EXPECT_EQ(a->shortcut(), item.key) << item.name;
    EXPECT_EQ(a->isEnabled(), item.enabled) << item.name;
  }
  for (const char* nav : {"miLeft", "miRight", "miFrameLeft", "miFrameRight"})
    EXPECT_FALSE(w.Action(QString::fromLatin1(nav))->isEnabled()) << nav;
  EXPECT_EQ(w.Action("miConnect")->statusTip(),
            QStringLiteral("Установить или разорвать связь с ЭБУ"));
  // Ten set items with the keys 1..9 and 0; "0" chooses set 10.
  for (int set = 1; set <= kDataSetCount; ++set) {
    QAction* a = w.Action(QStringLiteral("miSet%1").arg(set));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), QStringLiteral("Набор %1").arg(set));
    EXPECT_EQ(a->shortcut(), QKeySequence(set == 10 ? QStringLiteral("0") : QString::number(set)));
  }
  // Every shown item of "Сведения" follows the session: all of them on-line, none off-line.
  for (const bool online : {true, false}) {
    SCOPED_TRACE(online ? "on-line" : "off-line");
    if (online)
      Connect();
    else
      w.miConnectClick();
    ASSERT_EQ(w.Session().Connected, online);
    for (QAction* a : w.ParamsMenu()->actions()) {
      if (a->isSeparator() || !a->isVisible()) continue;
      EXPECT_EQ(a->isEnabled(), online) << a->objectName().toStdString();
    }
  }
  w.Action("miSet10")->trigger();
  EXPECT_EQ(w.CurrentSet(), 10);
  EXPECT_EQ(w.StatusText(1), QStringLiteral("Набор 10"));
  EXPECT_EQ(w.Pane(6)->Title(), QString::fromStdString(LookupParameter(17)->Name));
}

TEST_F(DiagWindowTest, AllPanesCollapsedAreSevenThirtyPixelLines) {
  TFormDiagJ5E2& w = Open();
  SetExpanded({false, false, false, false, false, false, false});
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->geometry(), QRect(0, 30 * i, w.ClientArea()->width(), 30)) << i;
    EXPECT_FALSE(w.Pane(i)->TimeLabelsShown()) << i;
  }
  // The bars stay at the bottom.
  EXPECT_EQ(w.PanelCtrl()->geometry().bottom(), w.ClientArea()->height() - 21 - 1);
}

TEST_F(DiagWindowTest, ExpandedHeightRuleShowsStatisticsAboveOneHundredTwenty) {
  TFormDiagJ5E2& w = Open();
  SetExpanded({true, true, true, true, true, true, true});
  // 7 x 120 + 26 + 21 = 887: h = 120, no statistics; one pixel more per pane gives 121.
  SetClientHeight(887);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->height(), 120) << i;
    EXPECT_FALSE(w.Pane(i)->StatsShown()) << i;
  }
  SetClientHeight(894);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->height(), 121) << i;
    EXPECT_EQ(w.Pane(i)->y(), 121 * i) << i;
    EXPECT_TRUE(w.Pane(i)->StatsShown()) << i;
  }
  // Integer division truncates: 893 gives 120 again.
  SetClientHeight(893);
  EXPECT_EQ(w.Pane(0)->height(), 120);
  // The ADC bar takes its 28 pixels from the panes; its item works on-line only, like the
  // rest of "Сведения".
  SetClientHeight(894 + 28);
  w.Action("miADC")->trigger();
  EXPECT_FALSE(w.Action("miADC")->isChecked());
  Connect();
  EXPECT_TRUE(w.Action("miADC")->isEnabled());
  EXPECT_TRUE(w.Action("miErrors")->isEnabled());
  w.Action("miADC")->trigger();
  EXPECT_TRUE(w.PanelADC()->isVisible());
  EXPECT_EQ(w.PanelADC()->height(), 28);
  EXPECT_EQ(w.Pane(0)->height(), 121);
  EXPECT_EQ(w.PanelADC()->geometry().bottom() + 1, w.PanelCtrl()->y());
  w.Action("miADC")->trigger();
  EXPECT_FALSE(w.PanelADC()->isVisible());
  EXPECT_EQ(w.Pane(0)->height(), 125);
}

TEST_F(DiagWindowTest, OnlyTheLowestExpandedPaneShowsTimeLabels) {
  TFormDiagJ5E2& w = Open();
  SetExpanded({false, true, false, false, true, true, false});
  const int h = (w.ClientArea()->height() - 26 - 21 - 4 * 30) / 3;
  int y = 0;
  for (int i = 0; i < kPaneCount; ++i) {
    const bool expanded = i == 1 || i == 4 || i == 5;
    EXPECT_EQ(w.Pane(i)->height(), expanded ? h : 30) << i;
    EXPECT_EQ(w.Pane(i)->y(), y) << i;
    EXPECT_EQ(w.Pane(i)->TimeLabelsShown(), i == 5) << i;
    y += w.Pane(i)->height();
  }
  // Collapsing a pane from its own menu lays the window out again.
  w.Pane(5)->miHideClick();
  EXPECT_FALSE(w.Pane(5)->GraphShown());
  EXPECT_TRUE(w.Pane(4)->TimeLabelsShown());
  EXPECT_EQ(w.Pane(4)->height(), (w.ClientArea()->height() - 26 - 21 - 5 * 30) / 2);
}

TEST_F(DiagWindowTest, ZoomHalvesAndDoublesWithinFourAndTwoHundred) {
  TFormDiagJ5E2& w = Open();
  EXPECT_EQ(w.Shared().VisiblePointCount, 40);
  for (int expected : {20, 10, 5, 4, 4}) {
    w.miWiderClick();
    EXPECT_EQ(w.Shared().VisiblePointCount, expected);
    for (int i = 0; i < kPaneCount; ++i) {
      EXPECT_EQ(w.Pane(i)->PointCount(), expected);
      EXPECT_EQ(w.Pane(i)->CursorIndex(), expected - 1);
    }
  }
  for (int expected : {8, 16, 32, 64, 128, 200, 200}) {
    w.miNarrowerClick();
    EXPECT_EQ(w.Shared().VisiblePointCount, expected);
    EXPECT_EQ(w.Pane(3)->CursorIndex(), expected - 1);
  }
  // From 40 upwards: 80, 160, 200. The characters "=" and "-" do the same.
  w.Shared().VisiblePointCount = 40;
  SendKey(w.Pane(0), Qt::Key_Minus, {}, QStringLiteral("-"));
  EXPECT_EQ(w.Shared().VisiblePointCount, 80);
  SendKey(w.Pane(0), Qt::Key_Minus, {}, QStringLiteral("-"));
  EXPECT_EQ(w.Shared().VisiblePointCount, 160);
  SendKey(w.Pane(0), Qt::Key_Minus, {}, QStringLiteral("-"));
  EXPECT_EQ(w.Shared().VisiblePointCount, 200);
  SendKey(w.Pane(0), Qt::Key_Equal, {}, QStringLiteral("="));
  EXPECT_EQ(w.Shared().VisiblePointCount, 100);
}

TEST_F(DiagWindowTest, KeysAreConsumedByTheWindowUnlessCtrlIsHeldAlone) {
  TFormDiagJ5E2& w = Open();
  auto* edit = new KeyRecorder(w.ClientArea());
  edit->show();
  for (int key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_A})
    SendKey(edit, key);
  EXPECT_TRUE(edit->keys.empty());
  SendKey(edit, Qt::Key_Left, Qt::ShiftModifier);
  SendKey(edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_TRUE(edit->keys.empty());
  // Ctrl alone: the focused control gets the key.
  SendKey(edit, Qt::Key_Left, Qt::ControlModifier);
  SendKey(edit, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(edit->keys, (std::vector<int>{Qt::Key_Left, Qt::Key_PageDown}));
}

TEST_F(DiagWindowTest, NavigationActsOnlyWhilePaused) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(100);
  ASSERT_EQ(w.History().RecordCount(), 100);
  for (int i = 0; i < kPaneCount; ++i) EXPECT_EQ(w.Pane(i)->NewestShownIndex(), 99);
  // Running: arrows and pages move nothing.
  SendKey(w.Pane(0), Qt::Key_Left);
  SendKey(w.Pane(0), Qt::Key_PageUp);
  w.miFrameLeftClick();
  EXPECT_EQ(w.Pane(0)->CursorIndex(), 39);
  EXPECT_EQ(w.Pane(0)->NewestShownIndex(), 99);

  w.Action("miPause")->trigger();
  ASSERT_TRUE(w.Session().Paused);
  EXPECT_TRUE(w.Action("miLeft")->isEnabled());
  EXPECT_EQ(w.Action("miPause")->text(), QStringLiteral("Продолжить"));
  SendKey(w.Pane(0), Qt::Key_Left);
  for (int i = 0; i < kPaneCount; ++i) EXPECT_EQ(w.Pane(i)->CursorIndex(), 38) << i;
  SendKey(w.Pane(0), Qt::Key_PageUp);
  for (int i = 0; i < kPaneCount; ++i) EXPECT_EQ(w.Pane(i)->NewestShownIndex(), 59) << i;
  w.Action("miFrameRight")->trigger();
  EXPECT_EQ(w.Pane(6)->NewestShownIndex(), 99);
  SendKey(w.Pane(0), Qt::Key_Right);
  EXPECT_EQ(w.Pane(2)->CursorIndex(), 39);

  // Records keep coming while paused ("Пауза" keeps reading) but the panes stay.
  w.Action("miFrameLeft")->trigger();
  Ticks(3);
  EXPECT_EQ(w.History().RecordCount(), 103);
  EXPECT_EQ(w.Pane(0)->NewestShownIndex(), 59);
  // Resumed, the next record jumps every pane to the newest.
  w.Action("miPause")->trigger();
  EXPECT_FALSE(w.Session().Paused);
  Ticks(1);
  for (int i = 0; i < kPaneCount; ++i) {
    EXPECT_EQ(w.Pane(i)->NewestShownIndex(), 103) << i;
    EXPECT_EQ(w.Pane(i)->CursorIndex(), 39) << i;
  }
}

TEST_F(DiagWindowTest, ShiftClickMovesEveryCursorAndMarksRefillEveryPane) {
  TFormDiagJ5E2& w = Open();
  Connect();
  Ticks(50);
  w.Action("miStop")->trigger();
  // The pane raises its cursor callback: every pane follows.
  w.Pane(2)->SetCursor(10);
  w.Pane(2)->OnCursorMoved(*w.Pane(2));
  for (int i = 0; i < kPaneCount; ++i) EXPECT_EQ(w.Pane(i)->CursorIndex(), 10) << i;
  // Marks set on the recording show on all panes after the selection callback, and Ctrl+U
  // works at once, also when the menu was last opened without marks.
  w.DataMenu()->aboutToShow();
  EXPECT_FALSE(w.Action("miCancelSelect")->isEnabled());
  ASSERT_TRUE(w.History().SetStartMark(20));
  ASSERT_TRUE(w.History().SetEndMark(30));
  w.Pane(0)->OnSelectionChanged(*w.Pane(0));
  EXPECT_TRUE(w.Action("miCancelSelect")->isEnabled());
  EXPECT_TRUE(w.Action("miMeasure")->isEnabled());
  w.Action("miCancelSelect")->trigger();
  EXPECT_EQ(w.History().SelectionStart(), -1);
  EXPECT_EQ(w.History().SelectionEnd(), -1);
  EXPECT_FALSE(w.History().RecordAt(20)->HasStartMark());
  w.DataMenu()->aboutToShow();
  EXPECT_FALSE(w.Action("miCancelSelect")->isEnabled());
  // One mark alone does not enable the command either.
  ASSERT_TRUE(w.History().SetStartMark(5));
  w.DataMenu()->aboutToShow();
  EXPECT_FALSE(w.Action("miCancelSelect")->isEnabled());
  EXPECT_FALSE(w.Action("miMeasure")->isEnabled());
}

TEST_F(DiagWindowTest, BusyNoticeClosesByItselfReplacesAnOlderOneAndCanStayUp) {
  TFormDiagJ5E2& w = Open();
  w.ShowBusyNotice(QStringLiteral("Подождите..."), 30);
  EXPECT_TRUE(w.BusyNoticeShown());
  w.ShowBusyNotice(QStringLiteral("Ещё раз"), 30);
  EXPECT_TRUE(w.BusyNoticeShown());
  QElapsedTimer t;
  t.start();
  while (w.BusyNoticeShown() && t.elapsed() < 3000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(w.BusyNoticeShown());
  w.ShowBusyNotice(QStringLiteral("Без конца"), -1);
  t.restart();
  while (t.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(w.BusyNoticeShown());
  w.HideBusyNotice();
  EXPECT_FALSE(w.BusyNoticeShown());
}

TEST_F(DiagWindowTest, MenuHintsGoToTheLastStatusPanel) {
  TFormDiagJ5E2& w = Open();
  QStatusTipEvent tip(QStringLiteral("Прервать получение данных от ЭБУ"));
  QApplication::sendEvent(&w, &tip);
  EXPECT_EQ(w.StatusText(3), QStringLiteral("Прервать получение данных от ЭБУ"));
}

}  // namespace
}  // namespace kvd::testing
