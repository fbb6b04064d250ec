// SPDX-License-Identifier: GPL-3.0-or-later
// The chart's data-to-pixel mapping and hit-testing, without a display.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ui/chart_geometry.h"

namespace kvd {
namespace {

ChartGeometry Make(int w, int h, ChartMargins m, double x0, double x1, double y0, double y1) {
  ChartGeometry g;
  g.SetSize(w, h);
  g.SetMargins(m);
  g.SetXRange(x0, x1);
  g.SetYRange(y0, y1);
  return g;
}

TEST(ChartGeometryTest, AxisEndsMapToThePlotEdgesAndBack) {
  const ChartGeometry g = Make(700, 120, {30, 8, 8, 20}, 100, 299, -5, 105);
  EXPECT_EQ(g.PlotLeft(), 30);
  EXPECT_EQ(g.PlotRight(), 691);
  EXPECT_EQ(g.PlotTop(), 8);
  EXPECT_EQ(g.PlotBottom(), 99);
  EXPECT_EQ(g.LeftAxisTop(), 8);
  EXPECT_EQ(g.LeftAxisBottom(), 99);
  EXPECT_EQ(g.BottomAxisY(), 99);
  EXPECT_EQ(g.XToPixel(100), 30);
  EXPECT_EQ(g.XToPixel(299), 691);
  EXPECT_EQ(g.YToPixel(-5), 99);
  EXPECT_EQ(g.YToPixel(105), 8);
  // Larger values lie higher on the screen, and every pixel maps back to within half a step.
  int previous = g.YToPixel(-5);
  for (double y = -5; y <= 105; y += 0.5) {
    const int py = g.YToPixel(y);
    EXPECT_LE(py, previous);
    previous = py;
    const double per_pixel = 110.0 / g.PlotHeight();
    EXPECT_NEAR(g.PixelToY(py), y, per_pixel / 2 + 1e-9);
  }
  for (int x = 100; x <= 299; ++x) EXPECT_NEAR(g.PixelToX(g.XToPixel(x)), x, 0.5);
}

TEST(ChartGeometryTest, RangeEndsInEitherOrder) {
  const ChartGeometry a = Make(300, 100, {}, 10, 0, 50, -50);
  EXPECT_DOUBLE_EQ(a.XMin(), 0);
  EXPECT_DOUBLE_EQ(a.XMax(), 10);
  EXPECT_DOUBLE_EQ(a.YMin(), -50);
  EXPECT_EQ(a.YToPixel(-50), a.PlotBottom());
}

TEST(ChartGeometryTest, DegenerateInputsStayFiniteAndOrdered) {
  // Flat ranges, not-a-number and infinite ends, sizes below the margins: no division by zero,
  // every pixel an ordinary int, the plot at least one pixel wide and high.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, double>> ranges = {
      {5, 5}, {0, 0}, {nan, 3}, {2, nan}, {-inf, inf}, {1e308, -1e308}, {1e300, 1e300}};
  for (const auto& [lo, hi] : ranges) {
    for (const auto& size :
         {std::pair{0, 0}, std::pair{-5, -5}, std::pair{10, 10}, std::pair{700, 120}}) {
      const ChartGeometry g = Make(size.first, size.second, {40, 10, 10, 40}, lo, hi, lo, hi);
      EXPECT_LT(g.XMin(), g.XMax());
      EXPECT_LT(g.YMin(), g.YMax());
      EXPECT_GE(g.PlotWidth(), 1);
      EXPECT_GE(g.PlotHeight(), 1);
      for (double v : {lo, hi, 0.0, nan, inf, -inf, 1e300}) {
        const int px = g.XToPixel(v);
        const int py = g.YToPixel(v);
        EXPECT_LE(std::abs(px), 1'000'000);
        EXPECT_LE(std::abs(py), 1'000'000);
      }
      EXPECT_TRUE(std::isfinite(g.PixelToY(g.PlotTop())));
    }
  }
  // A flat range is centred on its value.
  const ChartGeometry flat = Make(100, 100, {}, 0, 1, 7, 7);
  EXPECT_EQ(flat.YToPixel(7), (flat.PlotTop() + flat.PlotBottom() + 1) / 2);
}

TEST(ChartGeometryTest, FirstPointRightOfTheMouse) {
  const ChartGeometry g = Make(110, 50, {10, 0, 0, 0}, 0, 9, 0, 1);
  // Ten points 10 .. 109 in steps of about 11 pixels.
  std::vector<double> xs;
  for (int i = 0; i < 10; ++i) xs.push_back(i);
  EXPECT_EQ(g.FirstPointRightOf(xs, 0), 0);
  EXPECT_EQ(g.FirstPointRightOf(xs, g.XToPixel(0) - 1), 0);
  EXPECT_EQ(g.FirstPointRightOf(xs, g.XToPixel(0)), 1);  // exactly on a point: the next one
  EXPECT_EQ(g.FirstPointRightOf(xs, g.XToPixel(4) + 1), 5);
  EXPECT_EQ(g.FirstPointRightOf(xs, g.XToPixel(9) - 1), 9);
  EXPECT_EQ(g.FirstPointRightOf(xs, g.XToPixel(9)), ChartGeometry::kNoPoint);
  EXPECT_EQ(g.FirstPointRightOf({}, 3), ChartGeometry::kNoPoint);
}

TEST(ChartGeometryTest, PointAtTakesTheNearestWithinTheTolerance) {
  const ChartGeometry g = Make(200, 100, {}, 0, 199, 0, 99);  // one unit per pixel
  const std::vector<double> xs = {10, 14, 60};
  const std::vector<double> ys = {50, 50, 20};
  const int y50 = g.YToPixel(50);
  EXPECT_EQ(g.PointAt(xs, ys, g.XToPixel(10), y50, 3), 0);
  EXPECT_EQ(g.PointAt(xs, ys, g.XToPixel(13), y50, 3), 1);  // 14 is nearer than 10
  EXPECT_EQ(g.PointAt(xs, ys, g.XToPixel(10), y50 + 4, 3), ChartGeometry::kNoPoint);
  EXPECT_EQ(g.PointAt(xs, ys, g.XToPixel(60), g.YToPixel(20) - 3, 3), 2);
  EXPECT_EQ(g.PointAt(xs, ys, g.XToPixel(100), y50, 3), ChartGeometry::kNoPoint);
  // Mismatched lengths use the common part only.
  EXPECT_EQ(g.PointAt(xs, std::vector<double>{50}, g.XToPixel(14), y50, 1),
            ChartGeometry::kNoPoint);
}

TEST(ChartGeometryTest, TicksUseNiceStepsAndNeverFewerThanTwoWhenTheRangeAllows) {
  AxisTicks t = ChooseTicks(-5, 105, 6);  // the 0..100 axis of a throttle pane
  EXPECT_DOUBLE_EQ(t.first, 0);
  EXPECT_DOUBLE_EQ(t.step, 20);
  EXPECT_EQ(t.count, 6);
  EXPECT_EQ(t.decimals, 0);
  // A short pane: the coarse step (50) would leave only 0 on -2..42.
  t = ChooseTicks(-2, 42, 2);
  EXPECT_GE(t.count, 2);
  EXPECT_DOUBLE_EQ(t.step, 20);
  EXPECT_DOUBLE_EQ(t.Value(t.count - 1), 40);
  t = ChooseTicks(0.45, 1.55, 5);
  EXPECT_DOUBLE_EQ(t.step, 0.5);
  EXPECT_EQ(t.decimals, 1);
  EXPECT_DOUBLE_EQ(t.first, 0.5);
  EXPECT_EQ(t.count, 3);
  for (const auto& [lo, hi] :
       {std::pair{5.0, 5.0}, std::pair{1.0, -1.0}, std::pair{std::nan(""), 1.0}}) {
    EXPECT_EQ(ChooseTicks(lo, hi, 5).count, 0);
  }
  t = ChooseTicks(-1e300, 1e300, 0);
  EXPECT_GE(t.count, 2);
  EXPECT_LE(t.count, 1000);
}

}  // namespace
}  // namespace kvd
