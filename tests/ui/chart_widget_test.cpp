// SPDX-License-Identifier: GPL-3.0-or-later
// The chart widget on the offscreen platform: series statistics, the cached picture, the
// draw hooks' canvas, markers and value labels, and mouse events with the shift state.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QMouseEvent>

#include "ui/chart.h"

namespace kvd {
namespace {

QRgb Rgb(const QImage& img, int x, int y) {
  return img.pixel(x, y) & 0xFFFFFF;
}

TEST(ChartSeriesTest, KeepsMinimumMaximumAndSumWhileAppending) {
  ChartSeries s;
  EXPECT_EQ(s.Count(), 0);
  EXPECT_DOUBLE_EQ(s.MinY(), 0.0);
  EXPECT_DOUBLE_EQ(s.MaxY(), 0.0);
  s.Append(0, 5, QStringLiteral("a"));
  s.Append(1, -2.5);
  s.Append(2, 9, QString(), Qt::red);
  EXPECT_EQ(s.Count(), 3);
  EXPECT_DOUBLE_EQ(s.MinY(), -2.5);
  EXPECT_DOUBLE_EQ(s.MaxY(), 9.0);
  EXPECT_DOUBLE_EQ(s.SumY(), 11.5);
  EXPECT_EQ(s.Label(0), QStringLiteral("a"));
  EXPECT_EQ(s.Color(2), QColor(Qt::red));
  EXPECT_FALSE(s.Color(1).isValid());
  // Outside the series: neutral values, no crash.
  EXPECT_DOUBLE_EQ(s.YValue(3), 0.0);
  EXPECT_DOUBLE_EQ(s.XValue(-1), 0.0);
  EXPECT_TRUE(s.Label(99).isEmpty());
  s.Clear();
  s.Append(7, 100);
  EXPECT_DOUBLE_EQ(s.MinY(), 100.0);  // no stale extremes from before the clear
  EXPECT_DOUBLE_EQ(s.SumY(), 100.0);
}

TEST(ChartNumberTest, LocaleDecimalSeparatorWithoutGroupSeparators) {
  const QLocale saved;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(FormatChartNumber(10000, 0), QStringLiteral("10000"));
  EXPECT_EQ(FormatChartNumber(-0.0000001, 1), QStringLiteral("0.0"));
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(FormatChartNumber(12345.5, 1), QStringLiteral("12345,5"));
  QLocale::setDefault(saved);
}

class ChartWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chart_.resize(400, 120);
    series_ = chart_.AddSeries();
    ChartColors c;
    c.background = Qt::black;
    c.left_grid = c.bottom_grid = QColor(0x20, 0x20, 0x20);
    c.left_ticks = c.bottom_ticks = QColor(0x30, 0x30, 0x30);
    c.left_labels = c.bottom_labels = QColor(0x40, 0x40, 0x40);
    chart_.SetColors(c);
    ChartSeriesStyle style;
    style.line_color = style.marker_color = Qt::green;
    style.value_label_frame_color = Qt::magenta;
    chart_.SetStyle(series_, style);
    chart_.SetLeftAxisRange(0, 100);
    for (int i = 0; i < 5; ++i) chart_.Series(series_).Append(i, 50, QStringLiteral("t"));
    chart_.DataChanged();
  }

  ChartSeriesStyle Style() const { return chart_.Style(series_); }

  Chart chart_;
  int series_ = 0;
};

// A change is drawn straight away; the first repaint without one keeps a picture of the data,
// which further repaints of the overlay reuse.
TEST_F(ChartWidgetTest, OverlayRedrawReusesTheKeptPictureDataChangesRebuildIt) {
  int overlays = 0;
  chart_.SetOverlayHook([&](ChartCanvas&, const ChartGeometry&) { ++overlays; });
  chart_.grab();
  chart_.RequestOverlayRedraw();
  chart_.grab();
  const int rebuilds = chart_.CacheRebuilds();
  chart_.RequestOverlayRedraw();
  chart_.grab();
  chart_.grab();
  EXPECT_EQ(chart_.CacheRebuilds(), rebuilds);
  EXPECT_EQ(overlays, 4);
  chart_.Series(series_).Append(5, 10);
  chart_.DataChanged();
  chart_.grab();
  EXPECT_EQ(chart_.CacheRebuilds(), rebuilds + 1);
  chart_.resize(300, 100);
  chart_.grab();
  EXPECT_EQ(chart_.CacheRebuilds(), rebuilds + 2);
}

// The measurements' "from nothing" mode stands for the same picture drawn without the caches.
TEST_F(ChartWidgetTest, PictureDrawnFromNothingIsThePictureKept) {
  ChartSeriesStyle style = Style();
  style.marker_size = 1;
  chart_.SetStyle(series_, style);
  ChartSeries& s = chart_.Series(series_);
  s.Clear();
  for (int i = 0; i < 40; ++i)
    s.Append(i, (i * 37) % 100, QStringLiteral("0:00:%1").arg(i, 2, 10, QChar('0')),
             i % 7 == 0 ? QColor(Qt::red) : QColor());
  chart_.DataChanged();
  chart_.grab();
  for (int i = 40; i < 45; ++i) {
    s.ShiftLeft(i, (i * 37) % 100, QStringLiteral("0:00:%1").arg(i));
    chart_.DataChanged();
    chart_.grab();
  }
  const QImage kept = chart_.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Drawn straight into an image, as onto the window (the markers' pixels written directly).
  QImage direct(chart_.size(), QImage::Format_RGB32);
  chart_.RequestRedraw();
  chart_.render(&direct);
  EXPECT_EQ(direct, kept);
  chart_.SetKeepPictures(false);
  chart_.RequestRedraw();
  EXPECT_EQ(chart_.grab().toImage().convertToFormat(QImage::Format_RGB32), kept);
}

TEST_F(ChartWidgetTest, CanvasFillsAndFramesWithBothCornersIncluded) {
  chart_.SetOverlayHook([](ChartCanvas& c, const ChartGeometry&) {
    c.SetBrushColor(Qt::red);
    c.FillRect(102, 12, 100, 10);  // corners in any order
    c.SetPenColor(Qt::blue);
    c.FrameRect(120, 10, 126, 16);
    c.Line(140, 10, 140, 20);
  });
  const QImage img = chart_.grab().toImage();
  for (int x = 100; x <= 102; ++x) {
    for (int y = 10; y <= 12; ++y) EXPECT_EQ(Rgb(img, x, y), 0xFF0000u) << x << "," << y;
  }
  EXPECT_NE(Rgb(img, 103, 11), 0xFF0000u);
  EXPECT_NE(Rgb(img, 101, 13), 0xFF0000u);
  EXPECT_EQ(Rgb(img, 120, 10), 0x0000FFu);
  EXPECT_EQ(Rgb(img, 126, 16), 0x0000FFu);
  EXPECT_EQ(Rgb(img, 123, 16), 0x0000FFu);
  EXPECT_NE(Rgb(img, 123, 13), 0x0000FFu);  // inside stays open
  EXPECT_NE(Rgb(img, 127, 13), 0x0000FFu);
  EXPECT_EQ(Rgb(img, 140, 20), 0x0000FFu);
}

TEST_F(ChartWidgetTest, MarkersLineAndValueLabelsFollowTheStyle) {
  const int x = chart_.PointPixelX(series_, 2);
  const int y = chart_.PointPixelY(series_, 2);
  ChartSeriesStyle style = Style();
  style.line_visible = false;
  style.markers_visible = true;
  chart_.SetStyle(series_, style);
  QImage img = chart_.grab().toImage();
  EXPECT_EQ(Rgb(img, x - 1, y - 1), 0x00FF00u);  // a 3 x 3 marker outline
  EXPECT_EQ(Rgb(img, x + 1, y + 1), 0x00FF00u);
  EXPECT_NE(Rgb(img, (x + chart_.PointPixelX(series_, 3)) / 2, y), 0x00FF00u);  // no line

  style.line_visible = true;
  style.markers_visible = false;
  chart_.SetStyle(series_, style);
  img = chart_.grab().toImage();
  EXPECT_EQ(Rgb(img, (x + chart_.PointPixelX(series_, 3)) / 2, y), 0x00FF00u);
  EXPECT_NE(Rgb(img, x - 1, y - 1), 0x00FF00u);

  // A value label hangs above the point, framed in the frame colour, joined by a line.
  const auto magenta_above = [&](const QImage& i) {
    int found = 0;
    for (int yy = 0; yy < y - 2; ++yy) found += Rgb(i, x, yy) == 0xFF00FFu;
    return found;
  };
  EXPECT_EQ(magenta_above(img), 0);
  style.value_labels_visible = true;
  chart_.SetStyle(series_, style);
  img = chart_.grab().toImage();
  EXPECT_GT(magenta_above(img), 4);
  // The labels of the first and the last point stay inside the plot, off the axis labels.
  int outside = 0;
  for (int yy = 0; yy < img.height(); ++yy) {
    for (int xx = 0; xx < img.width(); ++xx) {
      if (xx >= chart_.Geometry().PlotLeft() && xx <= chart_.Geometry().PlotRight()) continue;
      outside += Rgb(img, xx, yy) == 0xFF00FFu;
    }
  }
  EXPECT_EQ(outside, 0);
}

TEST_F(ChartWidgetTest, MouseEventsCarryPositionButtonsAndKeys) {
  std::vector<ChartMouseEvent> presses;
  std::vector<ChartMouseEvent> moves;
  chart_.SetMousePressHandler([&](const ChartMouseEvent& e) { presses.push_back(e); });
  chart_.SetMouseMoveHandler([&](const ChartMouseEvent& e) { moves.push_back(e); });
  const QPointF p(33, 44);
  QMouseEvent press(QEvent::MouseButtonPress, p, chart_.mapToGlobal(p), Qt::RightButton,
                    Qt::RightButton | Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier);
  QApplication::sendEvent(&chart_, &press);
  QMouseEvent move(QEvent::MouseMove, QPointF(50, 60), chart_.mapToGlobal(QPointF(50, 60)),
                   Qt::NoButton, Qt::NoButton, Qt::ShiftModifier);
  QApplication::sendEvent(&chart_, &move);
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].x, 33);
  EXPECT_EQ(presses[0].y, 44);
  EXPECT_TRUE(presses[0].ctrl);
  EXPECT_TRUE(presses[0].alt);
  EXPECT_FALSE(presses[0].shift);
  EXPECT_EQ(presses[0].button, unsigned{ChartMouseEvent::kRight});
  EXPECT_EQ(presses[0].buttons, unsigned{ChartMouseEvent::kRight | ChartMouseEvent::kLeft});
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_TRUE(moves[0].shift);
  EXPECT_EQ(moves[0].buttons, 0u);
  EXPECT_EQ(moves[0].x, 50);
}

TEST_F(ChartWidgetTest, PointUnderMouseAndAxisPixels) {
  EXPECT_EQ(chart_.LeftAxisTopPixel(), chart_.Geometry().PlotTop());
  EXPECT_EQ(chart_.BottomAxisPixel(), chart_.LeftAxisBottomPixel());
  EXPECT_LT(chart_.LeftAxisTopPixel(), chart_.LeftAxisBottomPixel());
  EXPECT_EQ(chart_.PointPixelY(series_, 0), chart_.Geometry().YToPixel(50));
  EXPECT_EQ(chart_.PointUnderMouse(series_, chart_.PointPixelX(series_, 3),
                                   chart_.PointPixelY(series_, 3) + 1),
            3);
  EXPECT_EQ(chart_.PointUnderMouse(series_, chart_.PointPixelX(series_, 3), 2), -1);
  EXPECT_EQ(chart_.PointUnderMouse(7, 0, 0), -1);  // no such series
  EXPECT_EQ(chart_.PointPixelX(7, 0), 0);
}

}  // namespace
}  // namespace kvd
