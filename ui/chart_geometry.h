// SPDX-License-Identifier: GPL-3.0-or-later
// The mapping between data coordinates and pixels of the chart. Painting and hit-testing both
// go through this one class, so what is drawn and what a click hits can never disagree. It holds
// no Qt type and is tested without a display.
#pragma once

#include <cstdint>
#include <span>

namespace kvd {

// Space around the plot area, in pixels: axis labels and ticks live there.
struct ChartMargins {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Values of an axis' ticks: first, first + step, ... (count of them), shown with `decimals`
// digits after the separator.
struct AxisTicks {
  double first = 0.0;
  double step = 1.0;
  int count = 0;
  int decimals = 0;
  double Value(int i) const { return first + i * step; }
};

// Ticks on lo..hi with a step of 1, 2 or 5 times a power of ten, at most about max_ticks of
// them; a finer step is taken when the coarse one would leave fewer than two ticks in the range.
AxisTicks ChooseTicks(double lo, double hi, int max_ticks);

class ChartGeometry {
 public:
  static constexpr int kNoPoint = -1;

  // Widget size in pixels; negative sizes count as 0.
  void SetSize(int width, int height);
  void SetMargins(const ChartMargins& margins);
  // Data range of the bottom axis (X) and of the left axis (Y). The two ends may come in any
  // order; a range whose ends are equal (or not finite) is widened so that it maps safely.
  void SetXRange(double minimum, double maximum);
  void SetYRange(double minimum, double maximum);

  int Width() const { return width_; }
  int Height() const { return height_; }
  double XMin() const { return x_min_; }
  double XMax() const { return x_max_; }
  double YMin() const { return y_min_; }
  double YMax() const { return y_max_; }

  // The plot rectangle. The left axis runs from LeftAxisTop() (Y maximum) down to
  // LeftAxisBottom() (Y minimum); the bottom axis lies at BottomAxisY().
  int PlotLeft() const;
  int PlotRight() const;
  int PlotTop() const;
  int PlotBottom() const;
  int PlotWidth() const { return PlotRight() - PlotLeft(); }
  int PlotHeight() const { return PlotBottom() - PlotTop(); }
  int LeftAxisTop() const { return PlotTop(); }
  int LeftAxisBottom() const { return PlotBottom(); }
  int LeftAxisLength() const { return PlotHeight(); }
  int BottomAxisY() const { return PlotBottom(); }

  // Data to pixel, rounded to the nearest pixel. Values far outside the range (or not finite)
  // are clamped to a band well beyond the widget, so that the result always fits an int.
  int XToPixel(double x) const;
  int YToPixel(double y) const;
  // Pixel back to data.
  double PixelToX(int px) const;
  double PixelToY(int py) const;

  // Index of the first point, from the left, whose pixel X lies right of mouse_x; kNoPoint
  // when the mouse is right of the last point. xs are the points' data X values.
  int FirstPointRightOf(std::span<const double> xs, int mouse_x) const;
  // Index of the point whose pixel position lies within `tolerance` pixels of the mouse in
  // both directions (the nearest one if several do); kNoPoint when none does. A point whose y
  // is NaN (no value) is never hit.
  int PointAt(std::span<const double> xs, std::span<const double> ys, int mouse_x, int mouse_y,
              int tolerance) const;

 private:
  int width_ = 0;
  int height_ = 0;
  ChartMargins margins_;
  double x_min_ = 0.0;
  double x_max_ = 1.0;
  double y_min_ = 0.0;
  double y_max_ = 1.0;
};

}  // namespace kvd
