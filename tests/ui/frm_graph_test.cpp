// SPDX-License-Identifier: GPL-3.0-or-later
// The graph pane's behaviour on the offscreen platform: refill, statistics, labels, marks,
// cursor and paging, value types, the scale menu and dialog, expanded and collapsed states.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "frm_graph_fixture.h"

namespace kvd::testing {
namespace {

constexpr int32_t kThrottle = 1;   // payload 12, 0..100
constexpr int32_t kCoolant = 7;    // payload 10, raw - 40
constexpr int32_t kIgnition = 13;  // payload 18, signed byte / 2
constexpr int32_t kIdleFlag = 19;  // payload 4, mask 02
constexpr int32_t kThrottleOffset = 12;

// Sends a press of the left button at point n of the pane's chart (just left of its pixel X,
// so that the point is the first one right of the mouse) with the given keys.
void ClickPoint(TfrmGraph& pane, int point, Qt::KeyboardModifiers keys,
                Qt::MouseButton button = Qt::LeftButton) {
  Chart& chart = *pane.chart();
  const QPointF pos(chart.PointPixelX(0, point) - 1, chart.BottomAxisPixel() - 5);
  QMouseEvent press(QEvent::MouseButtonPress, pos, chart.mapToGlobal(pos), button, button, keys);
  QApplication::sendEvent(&chart, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, pos, chart.mapToGlobal(pos), button, Qt::NoButton,
                      keys);
  QApplication::sendEvent(&chart, &release);
}

QAction* MenuItem(TfrmGraph& pane, const QString& text) {
  for (QAction* a : pane.ContextMenu()->actions()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

using PaneRefillTest = PaneTest;

TEST_F(PaneRefillTest, ShortHistoryLeavesThePlacesWithoutRecordOutOfTheTraceAndTheStatistics) {
  for (uint8_t v : {10, 20, 30}) AppendByte(kThrottleOffset, v);
  auto pane = MakePane(kThrottle, 10);
  ASSERT_EQ(pane->PointCount(), 10);
  for (int n = 0; n < 7; ++n) {
    EXPECT_TRUE(std::isnan(pane->PointValue(n))) << n;  // nothing to draw there
    EXPECT_EQ(pane->PointRecord(n), -1);
    EXPECT_TRUE(pane->chart()->Series(0).Label(n).isEmpty());
  }
  EXPECT_EQ(pane->PointRecord(7), 0);
  EXPECT_DOUBLE_EQ(pane->PointValue(9), 30.0);
  EXPECT_EQ(pane->chart()->Series(0).Label(8), QStringLiteral("00:00:00.25"));
  EXPECT_EQ(pane->MinText(), QStringLiteral("10.000"));
  EXPECT_EQ(pane->MaxText(), QStringLiteral("30.000"));  // not the middle of the scale
  EXPECT_EQ(pane->AvgText(), QStringLiteral("20.000"));
  pane->CursorToFirst();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("- - - -"));
  pane->CursorToLast();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("30"));
}

// A pane that follows appends, arrow steps, zooms, pages, marks and resets moves its points
// where it can; after every step it must show exactly what a pane filled afresh shows.
TEST_F(PaneRefillTest, MovedWindowShowsWhatAFreshFillShows) {
  struct Case {
    ParameterNumber number;
    int32_t points;
    bool expanded;
    uint32_t seed;
  };
  const Case cases[] = {
      {kThrottle, 40, true, 1}, {kCoolant, 10, true, 2},    {kIgnition, 4, true, 3},
      {kIdleFlag, 20, true, 4}, {kThrottle, 200, false, 5}, {kCoolant, 7, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "parameter " << c.number << ", seed " << c.seed);
    history_.Reset();
    history_.CancelSelection();
    std::mt19937 rng(c.seed);
    const auto uniform = [&rng](int lo, int hi) {
      return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    auto pane = MakePane(c.number, c.points);
    auto fresh = MakePane(c.number, c.points);
    fresh->SetShiftingRefill(false);
    for (TfrmGraph* p : {pane.get(), fresh.get()}) {
      p->SetGraphShown(c.expanded);
      p->resize(700, 140);
    }
    const int32_t offset = LookupParameter(c.number)->RecordPosition - 6;
    for (int step = 0; step < 300; ++step) {
      const int op = uniform(0, 99);
      const int32_t at = uniform(0, std::max(0, history_.RecordCount() - 1));
      const int32_t points = uniform(0, 1) ? std::max(4, shared_.VisiblePointCount / 2)
                                           : std::min(200, shared_.VisiblePointCount * 2);
      const int32_t cursor = uniform(0, pane->PointCount() - 1);
      if (op < 45) AppendByte(offset, static_cast<uint8_t>(uniform(0, 255)));
      if (op >= 82 && op < 86) shared_.VisiblePointCount = points;
      if (op >= 86 && op < 92) at % 2 ? history_.SetStartMark(at) : history_.SetEndMark(at);
      if (op >= 92 && op < 94) history_.Reset();
      // Both panes take the same step, as the window gives it to all of its panes.
      for (TfrmGraph* p : {pane.get(), fresh.get()}) {
        if (op < 40 || (op >= 92 && op < 94)) {  // a new record shown, or the history emptied
          p->SetNewestShownIndex(std::max(0, history_.RecordCount() - 1));
          p->CursorToLast();
          p->Refill();
        } else if (op < 45) {
          // paused: the record is kept, not shown
        } else if (op < 60) {
          p->CursorLeft();
        } else if (op < 72) {
          p->CursorRight();
        } else if (op < 78) {
          p->PageLeft();
        } else if (op < 82) {
          p->PageRight();
        } else if (op < 92) {
          p->Refill();  // zoom or marks
        } else if (op < 97) {
          p->SetCursor(cursor);
        } else {
          p->SetNewestShownIndex(history_.RecordCount());  // one past the end, as an owner may
          p->Refill();
        }
      }
      ASSERT_EQ(pane->PointCount(), fresh->PointCount()) << "step " << step;
      const ChartSeries& a = pane->chart()->Series(0);
      const ChartSeries& b = fresh->chart()->Series(0);
      for (int n = 0; n < pane->PointCount(); ++n) {
        ASSERT_EQ(pane->PointRecord(n), fresh->PointRecord(n)) << "step " << step << " point " << n;
        ASSERT_EQ(a.XValue(n), b.XValue(n)) << "step " << step << " point " << n;
        ASSERT_TRUE(a.YValue(n) == b.YValue(n) ||
                    (std::isnan(a.YValue(n)) && std::isnan(b.YValue(n))))
            << "step " << step << " point " << n;
        ASSERT_EQ(a.Label(n), b.Label(n)) << "step " << step << " point " << n;
      }
      const auto shown = [](const TfrmGraph& p) {
        return p.IndicatorText() + p.MinText() + p.MaxText() + p.AvgText();
      };
      ASSERT_EQ(shown(*pane), shown(*fresh)) << "step " << step;
      if (step % 5 == 0 && c.expanded) {  // the picture: trace, marks, cursor, time labels
        ASSERT_EQ(Grab(*pane->chart()), Grab(*fresh->chart())) << "step " << step;
      }
    }
  }
}

TEST_F(PaneRefillTest, EmptyOrResetHistoryShowsNoRecordAtTheRightEdge) {
  for (uint8_t v : {77, 78}) AppendByte(kThrottleOffset, v);
  history_.Reset();  // the old bytes stay in the store but are no history any more
  auto pane = MakePane(kThrottle, 4);
  EXPECT_EQ(pane->NewestShownIndex(), 0);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(pane->PointRecord(n), -1) << n;
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("- - - -"));
  EXPECT_EQ(pane->MaxText(), QStringLiteral("- - - -"));  // no record, no statistics
  // Moving right on an empty history stays at index 0 instead of going negative.
  pane->CursorRight();
  pane->PageRight();
  EXPECT_EQ(pane->NewestShownIndex(), 0);
  AppendByte(kThrottleOffset, 5);
  pane->Refill();
  EXPECT_EQ(pane->PointRecord(3), 0);
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("5"));
}

TEST_F(PaneRefillTest, ExtremeIndicesAndCountsFromTheOwnerAreSafe) {
  for (int i = 0; i < 5; ++i) AppendByte(kThrottleOffset, 9);
  auto pane = MakePane(kThrottle, 4);
  for (int32_t newest : {INT32_MIN, -1, 1000, INT32_MAX}) {
    pane->SetNewestShownIndex(newest);
    pane->Refill();
    for (int n = 0; n < pane->PointCount(); ++n) EXPECT_EQ(pane->PointRecord(n), -1) << newest;
  }
  pane->SetNewestShownIndex(5);  // one past the newest record
  pane->Refill();
  EXPECT_EQ(pane->PointRecord(2), 4);
  EXPECT_EQ(pane->PointRecord(3), -1);
  for (int32_t count : {-7, 0, 100000}) {
    shared_.VisiblePointCount = count;
    pane->SetNewestShownIndex(4);
    pane->Refill();
    EXPECT_EQ(pane->PointCount(), count > 0 ? 200 : 4);
    EXPECT_EQ(pane->PointRecord(pane->PointCount() - 1), 4);
    pane->CursorRight();
    pane->PageLeft();
    pane->PageRight();
    EXPECT_GE(pane->NewestShownIndex(), 0);
    EXPECT_LE(pane->NewestShownIndex(), 4);
  }
}

TEST_F(PaneRefillTest, ValueLabelsAtTenPointsButNotAtElevenNorWhenHidden) {
  for (int i = 0; i < 20; ++i) AppendByte(kThrottleOffset, static_cast<uint8_t>(i));
  auto pane = MakePane(kThrottle, 10);
  EXPECT_TRUE(pane->chart()->Style(0).value_labels_visible);
  shared_.VisiblePointCount = 11;
  pane->Refill();
  EXPECT_FALSE(pane->chart()->Style(0).value_labels_visible);
  EXPECT_EQ(pane->PointCount(), 11);
  shared_.VisiblePointCount = 10;
  pane->Refill();
  EXPECT_TRUE(pane->chart()->Style(0).value_labels_visible);
  MenuItem(*pane, QStringLiteral("Не показывать точки"))->trigger();
  EXPECT_TRUE(pane->HidePointLabels());
  EXPECT_FALSE(pane->chart()->Style(0).value_labels_visible);
  pane->Refill();
  EXPECT_FALSE(pane->chart()->Style(0).value_labels_visible);
  MenuItem(*pane, QStringLiteral("Не показывать точки"))->trigger();
  EXPECT_FALSE(pane->HidePointLabels());
  EXPECT_TRUE(pane->chart()->Style(0).value_labels_visible);
}

TEST_F(PaneRefillTest, IndicatorUsesDecimalsAndTheLocaleSeparator) {
  for (uint8_t v : {0x05, 0xFF}) AppendByte(18, v);  // ignition advance: signed byte / 2
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  auto pane = MakePane(kIgnition, 4);
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("-0,5"));
  pane->CursorLeft();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("2,5"));
  EXPECT_EQ(pane->MinText(), QStringLiteral("-0,500"));
}

TEST_F(PaneRefillTest, FiveDigitStatisticsKeepTheirFirstDigit) {
  AppendByte(13, 0xFF);  // engine speed [40]: 10200
  auto pane = MakePane(2, 4);
  EXPECT_EQ(pane->MaxText(), QStringLiteral("10200.000"));
  int boxes = 0;
  for (const QLabel* label : pane->findChildren<QLabel*>()) {
    if (label->minimumSize() != label->maximumSize()) continue;  // the fixed-size boxes only
    ++boxes;
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()),
              label->contentsRect().width())
        << label->text().toStdString();
  }
  EXPECT_EQ(boxes, 4);  // indicator and three statistics
}

TEST_F(PaneRefillTest, CollapsedPaneShowsTheNewestValueOnEveryRefill) {
  for (uint8_t v : {90, 100}) AppendByte(10, v);  // coolant: raw - 40
  auto pane = MakePane(kCoolant, 4);
  pane->resize(700, 120);
  pane->SetGraphShown(false);
  EXPECT_EQ(pane->height(), TfrmGraph::kCollapsedHeight);
  EXPECT_FALSE(pane->chart()->isVisibleTo(pane.get()));
  pane->CursorToFirst();  // the cursor does not decide what a collapsed pane shows
  pane->Refill();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("60"));
  AppendByte(10, 41);
  pane->SetNewestShownIndex(2);
  pane->Refill();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("1"));
  EXPECT_EQ(pane->ContextMenu()->actions().last()->text(), QStringLiteral("Показать"));
  EXPECT_FALSE(MenuItem(*pane, QStringLiteral("Изменить масштаб"))->isVisible());
}

TEST_F(PaneRefillTest, ExpandedAndCollapsedLayouts) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  pane->SetPanelHint(QStringLiteral("Показать график 3"));
  pane->show();  // a hidden widget gets its resize events only when shown
  pane->resize(700, 150);
  auto* panel = pane->findChild<QFrame*>(QStringLiteral("SidePanel"));
  auto* title = pane->findChild<QLabel*>(QStringLiteral("Title"));
  auto* indicator = pane->findChild<QLabel*>(QStringLiteral("Indicator"));
  ASSERT_TRUE(panel && title && indicator);
  EXPECT_EQ(panel->geometry(), QRect(700 - 136, 0, 136, 149));
  EXPECT_EQ(pane->chart()->geometry(), QRect(0, 0, 700 - 136, 149));
  EXPECT_EQ(title->geometry(), QRect(8, 2, 129, 28));
  EXPECT_TRUE(title->wordWrap());
  EXPECT_EQ(indicator->geometry(), QRect(136 - 117 - 4, 30, 117, 25));
  EXPECT_TRUE(panel->toolTip().isEmpty());

  pane->SetGraphShown(false);
  EXPECT_EQ(pane->height(), 30);
  pane->resize(640, 30);
  EXPECT_EQ(panel->geometry(), QRect(0, 0, 640, 29));
  EXPECT_EQ(title->geometry(), QRect(0, 9, 640 - 117 - 20, 16));  // follows every resize
  EXPECT_FALSE(title->wordWrap());
  EXPECT_EQ(indicator->y(), 2);
  EXPECT_EQ(indicator->geometry().right(), 640 - 1 - 4);
  EXPECT_EQ(panel->toolTip(), QStringLiteral("Показать график 3"));
  EXPECT_EQ(panel->statusTip(), QStringLiteral("Показать график 3"));  // the status bar's hint

  pane->SetGraphShown(true);
  EXPECT_TRUE(panel->toolTip().isEmpty());
  EXPECT_TRUE(panel->statusTip().isEmpty());
  EXPECT_EQ(pane->height(), 30);  // the owner gives it its height
}

TEST_F(PaneRefillTest, HideAndShowToggleTheStateAndAskForALayout) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  int layouts = 0;
  pane->OnLayoutRequest = [&](TfrmGraph&) { ++layouts; };
  QAction* hide = pane->ContextMenu()->actions().last();
  EXPECT_EQ(hide->text(), QStringLiteral("Скрыть"));
  hide->trigger();
  EXPECT_FALSE(pane->GraphShown());
  EXPECT_EQ(hide->text(), QStringLiteral("Показать"));
  hide->trigger();
  EXPECT_TRUE(pane->GraphShown());
  EXPECT_EQ(layouts, 2);
}

TEST_F(PaneRefillTest, DoubleClicksToggleAndTheRightButtonOpensTheMenuEverywhere) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  pane->show();
  int layouts = 0;
  pane->OnLayoutRequest = [&](TfrmGraph&) { ++layouts; };
  Chart& chart = *pane->chart();
  const QPointF p(40, 20);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, p, chart.mapToGlobal(p), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&chart, &dbl);
  EXPECT_FALSE(pane->GraphShown());
  // Collapsed, the side panel fills the pane and takes the double-click itself.
  QWidget* panel = pane->childAt(5, 5);
  ASSERT_NE(panel, nullptr);
  QMouseEvent dbl2(QEvent::MouseButtonDblClick, QPointF(5, 5), panel->mapToGlobal(QPointF(5, 5)),
                   Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(panel, &dbl2);
  EXPECT_TRUE(pane->GraphShown());
  EXPECT_EQ(layouts, 2);

  for (QWidget* target : {static_cast<QWidget*>(&chart), pane->childAt(700 - 60, 5)}) {
    ASSERT_NE(target, nullptr);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5),
                           target->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(target, &menu);
    EXPECT_TRUE(pane->ContextMenu()->isVisible());
    pane->ContextMenu()->hide();
  }
}

using PaneMouseTest = PaneTest;

TEST_F(PaneMouseTest, CtrlAndAltClicksMoveTheMarkBits) {
  for (int i = 0; i < 10; ++i) AppendByte(kThrottleOffset, static_cast<uint8_t>(i * 10));
  auto pane = MakePane(kThrottle, 10);
  std::vector<int32_t> seen_start;
  pane->OnSelectionChanged = [&](TfrmGraph&) { seen_start.push_back(history_.SelectionStart()); };

  ClickPoint(*pane, 3, Qt::ControlModifier);
  ClickPoint(*pane, 6, Qt::ControlModifier);
  EXPECT_EQ(history_.SelectionStart(), 6);
  EXPECT_FALSE(history_.RecordAt(3)->HasStartMark());
  EXPECT_TRUE(history_.RecordAt(6)->HasStartMark());
  EXPECT_EQ(seen_start, (std::vector<int32_t>{3, 6}));
  EXPECT_EQ(shared_.SelectionStartPoint, 6);

  ClickPoint(*pane, 2, Qt::AltModifier);  // the end may lie left of the start
  EXPECT_EQ(history_.SelectionEnd(), 2);
  EXPECT_TRUE(history_.RecordAt(2)->HasEndMark());
  EXPECT_FALSE(history_.RecordAt(2)->HasStartMark());
  EXPECT_EQ(shared_.SelectionEndPoint, 2);

  // Other key combinations and a plain click leave the marks and the cursor alone.
  const int32_t cursor = pane->CursorIndex();
  for (Qt::KeyboardModifiers keys :
       {Qt::KeyboardModifiers(Qt::NoModifier), Qt::ControlModifier | Qt::ShiftModifier,
        Qt::ControlModifier | Qt::AltModifier}) {
    ClickPoint(*pane, 8, keys);
  }
  ClickPoint(*pane, 8, Qt::ControlModifier, Qt::MiddleButton);
  EXPECT_EQ(history_.SelectionStart(), 6);
  EXPECT_EQ(history_.SelectionEnd(), 2);
  EXPECT_EQ(pane->CursorIndex(), cursor);
  EXPECT_EQ(seen_start.size(), 3u);  // the Alt click told the owner too
}

TEST_F(PaneMouseTest, ClicksOnPointsWithoutRecordOrRightOfTheLastPointDoNothing) {
  for (int i = 0; i < 3; ++i) AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 6);
  int changes = 0;
  pane->OnSelectionChanged = [&](TfrmGraph&) { ++changes; };
  ClickPoint(*pane, 1, Qt::ControlModifier);  // left of the first record
  Chart& chart = *pane->chart();
  const QPointF right(chart.PointPixelX(0, 5) + 2, 20);
  QMouseEvent press(QEvent::MouseButtonPress, right, chart.mapToGlobal(right), Qt::LeftButton,
                    Qt::LeftButton, Qt::AltModifier);
  QApplication::sendEvent(&chart, &press);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(history_.SelectionStart(), -1);
  EXPECT_EQ(history_.SelectionEnd(), -1);
}

TEST_F(PaneMouseTest, ShiftClickMovesTheCursorAndTellsTheOwner) {
  for (int i = 0; i < 8; ++i) AppendByte(kThrottleOffset, static_cast<uint8_t>(i));
  auto pane = MakePane(kThrottle, 8);
  int moved = 0;
  pane->OnCursorMoved = [&](TfrmGraph& p) { moved += p.CursorIndex() == 2 ? 1 : 100; };
  ClickPoint(*pane, 2, Qt::ShiftModifier);
  EXPECT_EQ(pane->CursorIndex(), 2);
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("2"));
}

TEST_F(PaneMouseTest, HintShowsTheValueOverAPointOnly) {
  for (int i = 0; i < 8; ++i) AppendByte(kThrottleOffset, static_cast<uint8_t>(i * 3));
  auto pane = MakePane(kThrottle, 8);
  Chart& chart = *pane->chart();
  const QPointF on(chart.PointPixelX(0, 4), chart.PointPixelY(0, 4));
  QMouseEvent move(QEvent::MouseMove, on, chart.mapToGlobal(on), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&chart, &move);
  EXPECT_EQ(chart.Hint(), QStringLiteral("Y=12.000"));
  const QPointF off(chart.PointPixelX(0, 4) + 8, chart.LeftAxisTopPixel() + 2);
  QMouseEvent away(QEvent::MouseMove, off, chart.mapToGlobal(off), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&chart, &away);
  EXPECT_TRUE(chart.Hint().isEmpty());
}

using PaneMoveTest = PaneTest;

TEST_F(PaneMoveTest, CursorAndPagingClampToTheHistory) {
  for (int i = 0; i < 30; ++i) AppendByte(kThrottleOffset, static_cast<uint8_t>(i));
  auto pane = MakePane(kThrottle, 10);
  EXPECT_EQ(pane->NewestShownIndex(), 29);
  pane->CursorRight();  // at the last point and the newest record: nothing to scroll to
  EXPECT_EQ(pane->NewestShownIndex(), 29);
  EXPECT_EQ(pane->CursorIndex(), 9);
  pane->CursorToFirst();
  pane->CursorLeft();  // at the first point: the window scrolls by one record
  EXPECT_EQ(pane->NewestShownIndex(), 28);
  EXPECT_EQ(pane->CursorIndex(), 0);
  EXPECT_DOUBLE_EQ(pane->PointValue(0), 19.0);
  pane->PageLeft();
  EXPECT_EQ(pane->NewestShownIndex(), 18);
  pane->PageLeft();
  pane->PageLeft();
  EXPECT_EQ(pane->NewestShownIndex(), 0);
  pane->CursorLeft();
  EXPECT_EQ(pane->NewestShownIndex(), 0);
  pane->PageRight();
  pane->PageRight();
  pane->PageRight();
  pane->PageRight();
  EXPECT_EQ(pane->NewestShownIndex(), 29);
  pane->SetCursor(500);
  EXPECT_EQ(pane->CursorIndex(), 9);
  pane->SetCursor(-4);
  EXPECT_EQ(pane->CursorIndex(), 0);
}

TEST_F(PaneMoveTest, EveryRedrawRaisesPaneDrawn) {
  for (int i = 0; i < 5; ++i) AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  int drawn = 0;
  pane->OnPaneDrawn = [&](TfrmGraph&) { ++drawn; };
  pane->Refill();
  pane->SetCursor(1);
  pane->SetCursor(1);  // unchanged: no redraw
  pane->CursorLeft();
  EXPECT_EQ(drawn, 3);
}

using PaneTypeTest = PaneTest;

TEST_F(PaneTypeTest, FlagPaneShowsYesNoWithTheLampAndNoScaleOrStatistics) {
  AppendByte(4, 0x02);
  AppendByte(4, 0xFD);  // every bit but the idle flag's
  auto pane = MakePane(kIdleFlag, 4);
  pane->SetStatsShown(true);
  EXPECT_FALSE(pane->StatsShown());
  EXPECT_TRUE(pane->LampVisible());
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("НЕТ"));
  EXPECT_EQ(pane->LampColor() & 0xFFFFFF, 0xDDDDDDu);
  pane->CursorLeft();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("ДА"));
  EXPECT_EQ(pane->LampColor() & 0xFFFFFF, 0x00FF00u);
  for (const char* item : {"Изменить масштаб", "Выбрать масштаб автоматически",
                           "Максимальное разрешение по оси Y", "Не показывать точки"}) {
    EXPECT_FALSE(MenuItem(*pane, QString::fromUtf8(item))->isVisible()) << item;
  }
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 0.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 1.0);
  EXPECT_TRUE(pane->MinText().isEmpty());
}

TEST_F(PaneTypeTest, BitPatternPaneKeepsItsAxisAndShowsDigits) {
  AppendByte(kThrottleOffset, 0x05);
  AppendByte(kThrottleOffset, 0xA0);
  auto pane = std::make_unique<TfrmGraph>(nullptr, &history_, &shared_, 4);
  pane->RecordPosition = 18;
  pane->Mask = 0x0F;
  pane->SetValueType(kValueBitPattern);
  pane->SetYRange(0, 100);
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 0.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 7.0);
  EXPECT_NEAR(pane->chart()->LeftAxisMinimum(), -0.35, 1e-12);
  EXPECT_NEAR(pane->chart()->LeftAxisMaximum(), 7.35, 1e-12);
  pane->resize(700, 140);
  pane->SetNewestShownIndex(1);
  pane->Refill();
  EXPECT_FALSE(pane->chart()->Style(0).line_visible);
  EXPECT_FALSE(pane->chart()->Style(0).markers_visible);
  pane->SetCursor(2);
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("00000101"));
  pane->SetCursor(3);
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("00000000"));  // A0 masked with 0F
  pane->SetGraphShown(false);
  pane->SetNewestShownIndex(0);
  pane->Refill();
  EXPECT_EQ(pane->IndicatorText(), QStringLiteral("00000101"));
  // The type hides the scale items; expanding shows them again for every type but the flag.
  EXPECT_FALSE(MenuItem(*pane, QStringLiteral("Изменить масштаб"))->isVisible());
  pane->SetValueType(kValueBitPattern);
  pane->SetGraphShown(true);
  EXPECT_TRUE(MenuItem(*pane, QStringLiteral("Изменить масштаб"))->isVisible());
}

using PaneScaleTest = PaneTest;

TEST_F(PaneScaleTest, RangeOrderEqualEndsAndTheTypeRange) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  pane->SetYRange(80, 20);
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 20.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 80.0);
  EXPECT_DOUBLE_EQ(pane->chart()->LeftAxisMinimum(), 17.0);
  EXPECT_DOUBLE_EQ(pane->chart()->LeftAxisMaximum(), 83.0);
  pane->SetYRange(5, 5 + 1e-12);
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 20.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 80.0);

  auto ign = MakePane(kIgnition, 4);  // signed byte / 2
  EXPECT_DOUBLE_EQ(ign->TypeRangeLow(), -64.0);
  EXPECT_DOUBLE_EQ(ign->TypeRangeHigh(), 63.5);
  EXPECT_DOUBLE_EQ(ign->RawStep(), 0.5);
  auto coolant = MakePane(kCoolant, 4);
  EXPECT_DOUBLE_EQ(coolant->TypeRangeLow(), -40.0);
  EXPECT_DOUBLE_EQ(coolant->TypeRangeHigh(), 215.0);
  EXPECT_DOUBLE_EQ(coolant->RawStep(), 1.0);  // | |-39| - |-40| |
}

TEST_F(PaneScaleTest, MaximumResolutionFollowsTheWindowAndRestoresOnlyByItself) {
  for (uint8_t v : {40, 60, 50, 45}) AppendByte(kThrottleOffset, v);
  auto pane = MakePane(kThrottle, 4);
  QAction* max_res = MenuItem(*pane, QStringLiteral("Максимальное разрешение по оси Y"));
  max_res->trigger();
  EXPECT_TRUE(pane->MaxResolution());
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 40.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 60.0);
  max_res->trigger();
  EXPECT_FALSE(pane->MaxResolution());
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 0.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 100.0);

  // A flat window keeps the range it had.
  for (int i = 0; i < 4; ++i) AppendByte(kThrottleOffset, 70);
  max_res->trigger();  // window 40, 60, 50, 45
  pane->SetNewestShownIndex(7);
  pane->Refill();  // window 70, 70, 70, 70
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 40.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 60.0);
  AppendByte(kThrottleOffset, 90);
  pane->SetNewestShownIndex(8);
  pane->Refill();
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 70.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 90.0);

  // The automatic scale switches the mode off without restoring; it takes the type range.
  pane->miAutoScaleClick();
  EXPECT_FALSE(pane->MaxResolution());
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), 0.0);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 255.0);
}

// Runs `act` on the scale dialog as soon as it is shown.
void OnScaleDialog(std::function<void(QDialog&)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(*dialog);
  });
}

TEST_F(PaneScaleTest, ScaleDialogCancelKeepsTheRangeAndOkAppliesIt) {
  for (uint8_t v : {40, 60}) AppendByte(10, v);
  auto pane = MakePane(kCoolant, 4);  // -40 .. 120, type range -40 .. 215
  MenuItem(*pane, QStringLiteral("Максимальное разрешение по оси Y"))->trigger();
  ASSERT_TRUE(pane->MaxResolution());
  const double low = pane->ScaleLow();
  const double high = pane->ScaleHigh();

  QString label;
  double spin_min = 0;
  double spin_max = 0;
  OnScaleDialog([&](QDialog& d) {
    auto* upper = d.findChild<QDoubleSpinBox*>(QStringLiteral("ScaleHigh"));
    auto* lower = d.findChild<QDoubleSpinBox*>(QStringLiteral("ScaleLow"));
    ASSERT_TRUE(upper && lower);
    EXPECT_DOUBLE_EQ(upper->value(), high);
    EXPECT_DOUBLE_EQ(lower->value(), low);
    spin_min = upper->minimum();
    spin_max = upper->maximum();
    for (QLabel* l : d.findChildren<QLabel*>()) label += l->text();
    QDir().mkpath(QStringLiteral(KVD_BINARY_DIR "/pane-looks"));
    d.grab().save(QStringLiteral(KVD_BINARY_DIR "/pane-looks/scale-dialog.png"));
    upper->setValue(90);
    lower->setValue(10);
    d.reject();
  });
  pane->miChangeScaleClick();
  EXPECT_EQ(label, QStringLiteral("Новый масштаб по оси Y"));
  EXPECT_DOUBLE_EQ(spin_min, -40.0);
  EXPECT_DOUBLE_EQ(spin_max, 215.0);
  EXPECT_FALSE(pane->MaxResolution());
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), low);
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), high);

  OnScaleDialog([](QDialog& d) {
    d.findChild<QDoubleSpinBox*>(QStringLiteral("ScaleHigh"))->setValue(-10);
    d.findChild<QDoubleSpinBox*>(QStringLiteral("ScaleLow"))->setValue(90);
    d.accept();
  });
  pane->miChangeScaleClick();
  EXPECT_DOUBLE_EQ(pane->ScaleLow(), -10.0);  // either order is taken
  EXPECT_DOUBLE_EQ(pane->ScaleHigh(), 90.0);
}

TEST_F(PaneScaleTest, PaneDestroyedWhileTheScaleDialogRunsIsSafe) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  TfrmGraph* raw = pane.get();
  OnScaleDialog([&](QDialog&) { pane.reset(); });
  raw->miChangeScaleClick();
  EXPECT_EQ(pane, nullptr);
}

using PaneLookStateTest = PaneTest;

TEST_F(PaneLookStateTest, TimeLabelsHiddenSurviveAColourSchemeChange) {
  AppendByte(kThrottleOffset, 1);
  auto pane = MakePane(kThrottle, 4);
  pane->SetTimeLabelsShown(false);
  pane->SetColorScheme(4);
  const ChartColors& c = pane->chart()->Colors();
  EXPECT_EQ(c.bottom_labels, c.background);
  EXPECT_EQ(c.background.rgb() & 0xFFFFFF, 0x363895u);
  pane->SetTimeLabelsShown(true);
  EXPECT_EQ(pane->chart()->Colors().bottom_labels, pane->chart()->Colors().left_labels);
  pane->SetColorScheme(99);  // odd setting: the first scheme
  EXPECT_EQ(pane->ColorScheme(), 0);
  pane->SetLineWidth(0);
  EXPECT_EQ(pane->LineWidth(), 1);
  EXPECT_EQ(pane->chart()->Style(0).line_width, 1);
}

TEST_F(PaneLookStateTest, ConstructionClampsThePointCountAndStartsAtTheLastPoint) {
  auto pane = std::make_unique<TfrmGraph>(nullptr, &history_, &shared_, 1000);
  EXPECT_EQ(shared_.VisiblePointCount, 200);
  EXPECT_EQ(pane->PointCount(), 200);
  EXPECT_EQ(pane->CursorIndex(), 199);
  EXPECT_FALSE(pane->chart()->Style(0).value_labels_visible);
  auto small = std::make_unique<TfrmGraph>(nullptr, nullptr, &shared_, 0);
  EXPECT_EQ(shared_.VisiblePointCount, 4);
  small->Refill();  // a preview without a history
  EXPECT_EQ(small->PointRecord(3), -1);
  EXPECT_EQ(small->ColorScheme(), 1);
}

}  // namespace
}  // namespace kvd::testing
