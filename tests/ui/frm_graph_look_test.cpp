// SPDX-License-Identifier: GPL-3.0-or-later
// What the pane puts on the screen: pictures grabbed offscreen, checked pixel by pixel, and
// saved next to the build for a look.
#include <QDir>
#include <QImage>
#include <QLabel>
#include <cmath>
#include <vector>

#include "frm_graph_fixture.h"

namespace kvd::testing {
namespace {

class PaneLookTest : public PaneTest {
 protected:
  void Save(QWidget& w, const char* name) {
    const QString dir = QStringLiteral(KVD_BINARY_DIR "/pane-looks");
    QDir().mkpath(dir);
    w.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
  }
};

TEST_F(PaneLookTest, ThrottleTraceCursorAndMarks) {
  for (int i = 0; i < 60; ++i) AppendByte(12, static_cast<uint8_t>(50 + 40 * std::sin(i / 6.0)));
  auto pane = MakePane(1);
  history_.SetStartMark(40);
  history_.SetEndMark(50);
  pane->Refill();
  pane->SetCursor(25);
  const QImage img = Grab(*pane);
  Save(*pane, "throttle");
  Chart& chart = *pane->chart();
  const QRgb cursor = GraphColorSchemes()[1].Cursor;
  const QRgb marks = GraphColorSchemes()[1].Marks;
  // Cursor bar: two pixels at x - 1 and x of the cursor point (checked off the trace).
  const int cx = chart.PointPixelX(0, 25);
  const int probe_y = std::abs(chart.PointPixelY(0, 25) - chart.LeftAxisTopPixel() - 3) > 4
                          ? chart.LeftAxisTopPixel() + 3
                          : chart.BottomAxisPixel() - 3;
  EXPECT_EQ(img.pixel(cx - 1, probe_y) & 0xFFFFFF, cursor & 0xFFFFFF);
  EXPECT_EQ(img.pixel(cx, probe_y) & 0xFFFFFF, cursor & 0xFFFFFF);
  // Start mark (record 40 = point 20 of 40 points ending at 59): pixels x - 2 and x - 1.
  const int mx = chart.PointPixelX(0, 20);
  EXPECT_EQ(img.pixel(mx - 2, chart.BottomAxisPixel() - 2) & 0xFFFFFF, marks & 0xFFFFFF);
  EXPECT_EQ(img.pixel(mx - 1, chart.BottomAxisPixel() - 2) & 0xFFFFFF, marks & 0xFFFFFF);
  // The trace passes through its points; the end mark (record 50, point 30) is drawn too.
  const QRgb trace = GraphColorSchemes()[1].Trace;
  EXPECT_EQ(img.pixel(chart.PointPixelX(0, 10), chart.PointPixelY(0, 10)) & 0xFFFFFF,
            trace & 0xFFFFFF);
  EXPECT_EQ(img.pixel(chart.PointPixelX(0, 30) - 1, chart.BottomAxisPixel() - 2) & 0xFFFFFF,
            marks & 0xFFFFFF);
}

// Places without a record show nothing: no line at mid-scale running into the first record,
// no markers, no value labels; the records themselves are drawn.
TEST_F(PaneLookTest, PlacesWithoutARecordDrawNothing) {
  struct Case {
    const char* name;
    int records;
    int32_t points;
    int page_lefts;
  };
  const Case cases[] = {
      {"empty", 0, 40, 0},   // a fresh pane
      {"short", 3, 10, 0},   // value labels on
      {"paged", 60, 40, 2},  // a page before the start
  };
  for (const Case& c : cases) {
    history_.Reset();
    for (int i = 0; i < c.records; ++i) AppendByte(12, static_cast<uint8_t>(20 + (i * 7) % 60));
    auto pane = MakePane(1, c.points);
    for (int k = 0; k < c.page_lefts; ++k) pane->PageLeft();
    pane->CursorToFirst();
    const QImage img = Grab(*pane->chart());
    Save(*pane, (std::string("gaps-") + c.name).c_str());
    const Chart& chart = *pane->chart();
    const QRgb trace = GraphColorSchemes()[1].Trace & 0xFFFFFF;
    int first_record = pane->PointCount();
    for (int n = pane->PointCount() - 1; n >= 0; --n)
      if (pane->PointRecord(n) >= 0) first_record = n;
    ASSERT_EQ(first_record, c.records == 0 ? pane->PointCount()
                                           : pane->PointCount() - (c.page_lefts ? 1 : c.records))
        << c.name;
    // Up to the last place without a record, not one pixel of the trace's colour.
    const int right = first_record < pane->PointCount() ? chart.PointPixelX(0, first_record - 1) + 1
                                                        : chart.Geometry().PlotRight();
    int trace_pixels = 0;
    for (int x = 0; x <= right; ++x)
      for (int y = 0; y < img.height(); ++y) trace_pixels += (img.pixel(x, y) & 0xFFFFFF) == trace;
    EXPECT_EQ(trace_pixels, 0) << c.name;
    if (first_record < pane->PointCount()) {
      // The record's marker (its left edge: a lone point has no line through its middle).
      const QPoint at(chart.PointPixelX(0, first_record) - 1, chart.PointPixelY(0, first_record));
      EXPECT_EQ(img.pixel(at) & 0xFFFFFF, trace) << c.name;
    }
  }
}

TEST_F(PaneLookTest, EveryColourSchemePaintsItsBackground) {
  for (int i = 0; i < 8; ++i) AppendByte(12, static_cast<uint8_t>(i * 10));
  auto pane = MakePane(1, 8);
  for (int s = 0; s < kGraphColorSchemeCount; ++s) {
    pane->SetColorScheme(s);
    const QImage img = Grab(*pane->chart());
    Save(*pane, (std::string("scheme") + std::to_string(s)).c_str());
    const Chart& chart = *pane->chart();
    // A pixel inside the plot, away from trace, grid, labels and cursor.
    EXPECT_EQ(img.pixel(chart.Geometry().PlotLeft() + 2, chart.BottomAxisPixel() - 1) & 0xFFFFFF,
              GraphColorSchemes()[static_cast<std::size_t>(s)].Background & 0xFFFFFF)
        << "scheme " << s;
  }
}

}  // namespace
}  // namespace kvd::testing

namespace kvd::testing {
namespace {

TEST_F(PaneLookTest, BitPatternBoxesFilledForSetBitsOutlinedForClearOnesNoneAtTheLastPoint) {
  for (uint8_t v : {0x05, 0x80, 0xFF, 0x00}) AppendByte(4, v);
  auto pane = std::make_unique<TfrmGraph>(nullptr, &history_, &shared_, 4);
  pane->RecordPosition = 10;  // payload byte 4
  pane->Mask = 0xFF;
  pane->SetValueType(kValueBitPattern);
  pane->SetYRange(0, 7);
  pane->resize(500, 160);
  pane->SetNewestShownIndex(3);
  pane->Refill();
  pane->SetCursor(1);
  const QImage img = Grab(*pane->chart());
  Save(*pane, "bitpattern");
  const Chart& chart = *pane->chart();
  const int h = std::max(1, (chart.LeftAxisBottomPixel() - chart.LeftAxisTopPixel()) / 8);
  const QRgb trace = GraphColorSchemes()[1].Trace & 0xFFFFFF;
  const auto box_centre = [&](int point, int bit) {
    return QPoint(chart.PointPixelX(0, point), chart.LeftAxisBottomPixel() - bit * h - h / 2);
  };
  const auto colour = [&](QPoint p) { return img.pixel(p) & 0xFFFFFF; };
  // Point 0 holds 05: bits 0 and 2 filled, bit 1 only outlined (its centre is background).
  EXPECT_EQ(colour(box_centre(0, 0)), trace);
  EXPECT_NE(colour(box_centre(0, 1)), trace);
  EXPECT_EQ(colour(box_centre(0, 1) + QPoint(3, 0)), trace);  // the outline
  EXPECT_EQ(colour(box_centre(0, 2)), trace);
  // Point 2 holds FF: all eight filled. Point 3 is the last: no boxes at all.
  for (int bit = 0; bit < 8; ++bit) EXPECT_EQ(colour(box_centre(2, bit)), trace) << bit;
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_NE(colour(box_centre(3, bit) + QPoint(-3, 0)), trace) << bit;
  }
}

// A title of two lines ends above the indicator, whatever font stands in for Arial.
TEST_F(PaneLookTest, TwoLineTitleIsNotCutByTheIndicator) {
  AppendByte(5, 0x08);
  auto pane = MakePane(26, 4);  // "Флаг попад. в зону дет. в прош. цикле"
  auto* title = pane->findChild<QLabel*>(QStringLiteral("Title"));
  ASSERT_NE(title, nullptr);
  const QImage img = title->grab().toImage();
  int last_ink_row = -1;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      if (qGray(img.pixel(x, y)) < 128) last_ink_row = y;
    }
  }
  EXPECT_GT(last_ink_row, img.height() / 2);      // there is a second line
  EXPECT_LT(last_ink_row, img.height() - 1);      // and its letters are whole
  EXPECT_EQ(title->geometry().bottom() + 1, 30);  // the indicator's top
}

TEST_F(PaneLookTest, FlagAndCollapsedPanes) {
  AppendByte(4, 0x02);
  auto flag = MakePane(19, 4);
  flag->resize(700, 100);
  Save(*flag, "flag");
  const QImage img = Grab(*flag);
  // The lamp sits inside the indicator at (8, 4): its middle is lime.
  const auto* indicator = flag->findChild<QLabel*>(QStringLiteral("Indicator"));
  ASSERT_NE(indicator, nullptr);
  const QPoint lamp = indicator->mapTo(flag.get(), QPoint(8 + 7, 4 + 7));
  EXPECT_EQ(img.pixel(lamp) & 0xFFFFFF, 0x00FF00u);
  auto collapsed = MakePane(1, 4);
  collapsed->SetGraphShown(false);
  collapsed->resize(700, TfrmGraph::kCollapsedHeight);
  Save(*collapsed, "collapsed");
  EXPECT_EQ(collapsed->height(), TfrmGraph::kCollapsedHeight);
  EXPECT_FALSE(img.isNull());
}

}  // namespace
}  // namespace kvd::testing

namespace kvd::testing {
namespace {

// Seven panes stacked as the window does, with short expanded panes: every part must still
// fit its place (plot area, indicator inside the side panel, title above the indicator).
TEST_F(PaneLookTest, SevenPanesStackedAt200Points) {
  for (int i = 0; i < 400; ++i) {
    AppendByte(12, static_cast<uint8_t>(50 + 45 * std::sin(i / 11.0)));
  }
  QWidget window;
  window.resize(769, 420);
  std::vector<std::unique_ptr<TfrmGraph>> panes;
  const int32_t params[7] = {1, 2, 7, 19, 8, 13, 10};
  int y = 0;
  for (int k = 0; k < 7; ++k) {
    auto pane = std::make_unique<TfrmGraph>(&window, &history_, &shared_, 200);
    Bind(*pane, params[k]);
    pane->SetGraphShown(k != 2 && k != 5);
    pane->SetColorScheme(k % kGraphColorSchemeCount);
    const int h = pane->GraphShown() ? 72 : TfrmGraph::kCollapsedHeight;
    pane->setGeometry(0, y, 769, h);
    pane->SetStatsShown(h > 120);
    pane->SetTimeLabelsShown(k == 6);
    pane->SetNewestShownIndex(399);
    pane->Refill();
    y += h;
    panes.push_back(std::move(pane));
  }
  Save(window, "seven");
  for (const auto& pane : panes) {
    if (!pane->GraphShown()) continue;
    const Chart& chart = *pane->chart();
    EXPECT_GE(chart.LeftAxisBottomPixel() - chart.LeftAxisTopPixel(), 20);
    EXPECT_EQ(chart.width(), 769 - TfrmGraph::kSidePanelWidth);
    EXPECT_LT(chart.PointPixelX(0, 199), chart.width());
    EXPECT_GT(chart.PointPixelX(0, 0), 0);
  }
}

}  // namespace
}  // namespace kvd::testing
