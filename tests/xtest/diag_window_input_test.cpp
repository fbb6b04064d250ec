// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window driven by real keys and mouse clicks through an X server: each key and
// mouse action of the window and its panes, and every menu shortcut, as a user would use them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <ostream>
#include <vector>

#include "real_input.h"
#include "ui/chart.h"
#include "ui/diag_window_fixture.h"
#include "ui/frm_set_editor.h"

namespace kvd::xtest {
namespace {

// What the keys change, as one value that a table can hold.
struct View {
  int points;
  int cursor;
  int newest;
  bool paused;
  int pauseMode;
  int set;
  bool adc;
  bool operator==(const View&) const = default;
};

std::ostream& operator<<(std::ostream& os, const View& v) {
  return os << "{points " << v.points << ", cursor " << v.cursor << ", newest " << v.newest
            << ", paused " << v.paused << ", mode " << v.pauseMode << ", set " << v.set << ", adc "
            << v.adc << "}";
}

// What the mouse changes.
struct Marks {
  int start;
  int end;
  int cursor;
  bool shown;  // pane 1 expanded
  bool operator==(const Marks&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Marks& m) {
  return os << "{start " << m.start << ", end " << m.end << ", cursor " << m.cursor << ", shown "
            << m.shown << "}";
}

// Counts the shortcut events that reach an item and swallows them, so that an item's command
// does not run while its shortcut is being checked.
class ShortcutSpy : public QObject {
 public:
  std::map<QObject*, int> hits;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Shortcut) return false;
    ++hits[watched];
    return true;
  }
};

class RealInputWindow : public kvd::testing::DiagWindowTest {
 protected:
  void SetUp() override {
    if (!SkipReason().empty()) GTEST_SKIP() << SkipReason();
    DiagWindowTest::SetUp();
    Open();
    Connect();
    Ticks(60);  // 60 records on the virtual clock; no timer ticks in between
    ASSERT_TRUE(Activate(window_.get())) << "the window did not get the keyboard focus";
    last_ = window_->History().RecordCount() - 1;
    ASSERT_EQ(last_, 59);
  }

  View Now() const {
    const TFormDiagJ5E2& w = *window_;
    // Every pane applies the same rule to the same state: they stay aligned.
    for (int i = 1; i < kPaneCount; ++i) {
      EXPECT_EQ(w.Pane(i)->CursorIndex(), w.Pane(0)->CursorIndex()) << "pane " << i + 1;
      EXPECT_EQ(w.Pane(i)->NewestShownIndex(), w.Pane(0)->NewestShownIndex()) << "pane " << i + 1;
    }
    return View{window_->Shared().VisiblePointCount,
                w.Pane(0)->CursorIndex(),
                w.Pane(0)->NewestShownIndex(),
                window_->Session().Paused,
                window_->Session().PauseMode,
                w.CurrentSet(),
                w.PanelADC()->isVisible()};
  }

  Marks MarksNow() const {
    return Marks{window_->History().SelectionStart(), window_->History().SelectionEnd(),
                 window_->Pane(0)->CursorIndex(), window_->Pane(0)->GraphShown()};
  }

  // A point on the chart of pane 1 that hits point n (the first point right of the mouse).
  QPoint PointOnChart(int n) const {
    Chart* chart = window_->Pane(0)->chart();
    return QPoint(chart->PointPixelX(0, n) - 1, chart->height() / 2);
  }

  int last_ = 0;
};

TEST_F(RealInputWindow, KeysOfTheWindow) {
  const int n = last_;
  struct Step {
    const char* what;
    const char* key;
    unsigned mods;
    View after;  // points, cursor, newest, paused, PauseMode, set, ADC bar
  };
  const Step steps[] = {
      {"numeric plus: Шире", "KP_Add", 0, {20, 19, n, false, 1, 1, false}},
      {"numeric plus again", "KP_Add", 0, {10, 9, n, false, 1, 1, false}},
      {"numeric minus: Уже", "KP_Subtract", 0, {20, 19, n, false, 1, 1, false}},
      {"= is Шире", "equal", 0, {10, 9, n, false, 1, 1, false}},
      {"- is Уже", "minus", 0, {20, 19, n, false, 1, 1, false}},
      {"Ctrl+numeric plus belongs to the control",
       "KP_Add",
       kCtrl,
       {20, 19, n, false, 1, 1, false}},
      {"Left while running does nothing", "Left", 0, {20, 19, n, false, 1, 1, false}},
      {"Page Up while running does nothing", "Prior", 0, {20, 19, n, false, 1, 1, false}},
      {"Shift+Pause: Пауза", "Pause", kShift, {20, 19, n, true, 0, 1, false}},
      {"Left: Влево", "Left", 0, {20, 18, n, true, 0, 1, false}},
      {"Right: Вправо", "Right", 0, {20, 19, n, true, 0, 1, false}},
      {"Right at the newest record stays", "Right", 0, {20, 19, n, true, 0, 1, false}},
      {"Page Up: Кадр влево", "Prior", 0, {20, 19, n - 20, true, 0, 1, false}},
      {"Left in the earlier window", "Left", 0, {20, 18, n - 20, true, 0, 1, false}},
      {"Page Down: Кадр вправо", "Next", 0, {20, 18, n, true, 0, 1, false}},
      {"Ctrl+Left belongs to the control", "Left", kCtrl, {20, 18, n, true, 0, 1, false}},
      {"Shift+Pause: Продолжить", "Pause", kShift, {20, 18, n, false, 0, 1, false}},
      {"Pause: Стоп", "Pause", 0, {20, 18, n, true, 1, 1, false}},
      {"Pause: Продолжить", "Pause", 0, {20, 18, n, false, 1, 1, false}},
      {"2: set 2", "2", 0, {20, 18, n, false, 1, 2, false}},
      {"0: set 10", "0", 0, {20, 18, n, false, 1, 10, false}},
      {"1: set 1", "1", 0, {20, 18, n, false, 1, 1, false}},
      {"Ctrl+Shift+A: Каналы АЦП", "a", kCtrl | kShift, {20, 18, n, false, 1, 1, true}},
      {"Ctrl+Shift+A again", "a", kCtrl | kShift, {20, 18, n, false, 1, 1, false}},
      {"numeric plus down to 4", "KP_Add", 0, {10, 9, n, false, 1, 1, false}},
      {"... 5", "KP_Add", 0, {5, 4, n, false, 1, 1, false}},
      {"... 4", "KP_Add", 0, {4, 3, n, false, 1, 1, false}},
      {"... and no further", "KP_Add", 0, {4, 3, n, false, 1, 1, false}},
  };
  ASSERT_EQ(Now(), (View{40, 39, n, false, 1, 1, false}));
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    ASSERT_TRUE(Type(s.key, s.mods)) << "the key did not arrive";
    EXPECT_EQ(Now(), s.after);
  }
}

// Every item with a shortcut gets it exactly when it is enabled; a disabled one never does.
// Numeric plus and minus are left out: their keys come through the window's key preview
// (KeysOfTheWindow), since the platform does not match keypad shortcuts.
TEST_F(RealInputWindow, EveryShortcutReachesItsItemOnlyWhileEnabled) {
  ShortcutSpy spy;
  std::vector<QAction*> items;
  for (QAction* a : window_->findChildren<QAction*>()) {
    const QKeySequence k = a->shortcut();
    if (k.isEmpty() || k[0].keyboardModifiers().testFlag(Qt::KeypadModifier)) continue;
    a->installEventFilter(&spy);
    items.push_back(a);
  }
  ASSERT_GE(items.size(), 20u);  // the data menu, the ten sets, "Сведения", pause and stop

  const auto sweep = [&](const char* state) {
    SCOPED_TRACE(state);
    spy.hits.clear();
    int reached = 0, refused = 0;
    for (QAction* a : items) {
      const bool enabled = a->isEnabled() && a->isVisible();
      ASSERT_TRUE(TypeSequence(a->shortcut())) << a->objectName().toStdString();
      EXPECT_EQ(spy.hits[a], enabled ? 1 : 0)
          << a->objectName().toStdString() << " " << a->shortcut().toString().toStdString()
          << (enabled ? " (enabled)" : " (disabled)");
      (enabled ? reached : refused) += 1;
    }
    EXPECT_GT(reached, 0);
    EXPECT_GT(refused, 0);
  };

  // On-line: "Каналы АЦП" is enabled; the hidden immobilizer item and the selection commands
  // (no marks yet) are not.
  ASSERT_TRUE(window_->Action("miADC")->isEnabled());
  sweep("on-line");
  EXPECT_EQ(spy.hits[window_->Action("miADC")], 1);

  // Off-line the whole "Сведения" menu is disabled: Ctrl+Shift+A must not toggle the ADC bar.
  window_->miConnectClick();
  ASSERT_FALSE(window_->Session().Connected);
  ASSERT_FALSE(window_->Action("miADC")->isEnabled());
  sweep("off-line");
  EXPECT_EQ(spy.hits[window_->Action("miADC")], 0);
  EXPECT_FALSE(window_->PanelADC()->isVisible());
}

TEST_F(RealInputWindow, MouseOnThePanes) {
  TfrmGraph* pane = window_->Pane(0);
  ASSERT_TRUE(pane->GraphShown());
  Chart* chart = pane->chart();
  const auto record = [pane](int point) { return pane->PointRecord(point); };
  const int r5 = record(5), r8 = record(8), r12 = record(12);
  ASSERT_GE(r5, 0);

  enum Kind { kClick, kDouble, kKey };
  struct Step {
    const char* what;
    Kind kind;
    int point;  // point of the chart clicked; -1: the side panel
    unsigned mods;
    Marks after;  // start, end, cursor, pane 1 shown
  };
  const Step steps[] = {
      {"Ctrl+click sets the start mark", kClick, 5, kCtrl, {r5, -1, 39, true}},
      {"Alt+click sets the end mark", kClick, 12, kAlt, {r5, r12, 39, true}},
      {"Ctrl+click elsewhere moves the start", kClick, 8, kCtrl, {r8, r12, 39, true}},
      {"Shift+click moves every cursor", kClick, 3, kShift, {r8, r12, 3, true}},
      {"a plain click does nothing", kClick, 20, 0, {r8, r12, 3, true}},
      {"Ctrl+Alt+click does nothing", kClick, 26, kCtrl | kAlt, {r8, r12, 3, true}},
      {"Ctrl+U removes the marks", kKey, 0, 0, {-1, -1, 3, true}},
      {"double click on the chart collapses", kDouble, 10, 0, {-1, -1, 3, false}},
      {"double click on the collapsed pane expands", kDouble, -1, 0, {-1, -1, 3, true}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    bool arrived = false;
    if (s.kind == kKey) {
      arrived = Type("u", kCtrl);
    } else if (s.point >= 0) {
      arrived = Click(chart, PointOnChart(s.point), s.mods, 1, s.kind == kDouble ? 2 : 1);
    } else {
      arrived = Click(pane, QPoint(pane->width() - 60, pane->height() / 2), s.mods, 1, 2);
    }
    ASSERT_TRUE(arrived) << "the input did not arrive";
    EXPECT_EQ(MarksNow(), s.after);
    for (int i = 1; i < kPaneCount; ++i)
      EXPECT_EQ(window_->Pane(i)->CursorIndex(), pane->CursorIndex()) << "pane " << i + 1;
  }

  // The right button opens the pane's menu; its last item hides the pane, then shows it again.
  for (const bool hide : {true, false}) {
    SCOPED_TRACE(hide ? "Скрыть" : "Показать");
    QWidget* where = hide ? static_cast<QWidget*>(chart) : pane;
    const QPoint at = hide ? PointOnChart(10) : QPoint(pane->width() - 60, pane->height() / 2);
    ASSERT_TRUE(Click(where, at, 0, 3));
    QMenu* menu = pane->ContextMenu();
    ASSERT_TRUE(WaitFor([menu] { return menu->isVisible(); })) << "no menu";
    QAction* item = menu->actions().last();
    EXPECT_EQ(item->text(), hide ? QStringLiteral("Скрыть") : QStringLiteral("Показать"));
    ASSERT_TRUE(Click(menu, menu->actionGeometry(item).center()));
    ASSERT_TRUE(WaitFor([menu] { return !menu->isVisible(); }));
    EXPECT_EQ(pane->GraphShown(), !hide);
  }
}

TEST_F(RealInputWindow, ScaleDialogTakesEnterAndEscape) {
  TfrmGraph* pane = window_->Pane(0);
  const double high = pane->ScaleHigh();
  ASSERT_NE(high, 50.0);
  struct Case {
    const char* key;
    double after;
  };
  for (const Case c : {Case{"Escape", high}, Case{"Return", 50.0}}) {
    SCOPED_TRACE(c.key);
    WithModal([pane] { pane->miChangeScaleClick(); },
              [&](QWidget* w) {
                // The upper bound has the focus: a new value, then the key.
                EXPECT_TRUE(Type("a", kCtrl));
                EXPECT_TRUE(Type("5"));
                EXPECT_TRUE(Type("0"));
                EXPECT_TRUE(TypeInto(w, c.key));
              });
    EXPECT_DOUBLE_EQ(pane->ScaleHigh(), c.after);
  }
}

// Enter in the set editor presses the focused button; anywhere else it presses "Отмена", the
// default button, so that an edit is kept only by "Ok" itself.
TEST_F(RealInputWindow, SetEditorEnterPressesTheFocusedButtonElseCancels) {
  enum Focus { kName, kList, kCheck, kOk, kCancel, kNameAfterOk };
  struct Case {
    const char* what;
    Focus focus;
    const char* key;
    const char* name;  // typed into the name box first
    bool kept;
  };
  const Case cases[] = {
      {"Enter in the name box", kName, "Return", "a", false},
      {"Enter in a list", kList, "Return", "b", false},
      {"Enter on a check box", kCheck, "Return", "c", false},
      {"Enter on Ok", kOk, "Return", "d", true},
      {"keypad Enter on Ok", kOk, "KP_Enter", "e", true},
      {"Space on Ok", kOk, "space", "f", true},
      {"Enter on Отмена", kCancel, "Return", "g", false},
      {"Enter in the name box once Ok had the focus", kNameAfterOk, "Return", "h", false},
  };
  QString name = window_->Sets()[0].Name;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WithModal([this] { window_->miChangeSetClick(); },
              [&](QWidget* w) {
                auto* editor = qobject_cast<TfrmSetEditor*>(w);
                ASSERT_NE(editor, nullptr);
                // Tab moves the focus as the user does; false when it never reached the target.
                const auto tabTo = [](QWidget* target) {
                  for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i)
                    if (!Type("Tab")) return false;
                  return QApplication::focusWidget() == target;
                };
                ASSERT_TRUE(tabTo(editor->eName()));
                ASSERT_TRUE(Type(c.name));  // replaces the name, which the Tab selected
                ASSERT_EQ(editor->eName()->text(), QString::fromLatin1(c.name));
                QWidget* target = editor->eName();
                switch (c.focus) {
                  case kList:
                    target = editor->ParamList(3);
                    break;
                  case kCheck:
                    target = editor->ExpandedBox(3);
                    break;
                  case kOk:
                  case kNameAfterOk:
                    target = editor->bOK();
                    break;
                  case kCancel:
                    target = editor->bCancel();
                    break;
                  case kName:
                    break;
                }
                ASSERT_TRUE(tabTo(target));
                if (c.focus == kNameAfterOk) {
                  ASSERT_TRUE(tabTo(editor->eName()));
                }
                EXPECT_TRUE(TypeInto(w, c.key));
              });
    if (c.kept) name = QString::fromLatin1(c.name);
    EXPECT_EQ(window_->Sets()[0].Name, name);
    EXPECT_EQ(window_->Action("miSet1")->text(), name);
  }
}

}  // namespace
}  // namespace kvd::xtest
