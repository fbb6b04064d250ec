// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/chart_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kvd {
namespace {

// Pixel results are kept inside this band so that converting to int is always defined and
// QPainter never sees absurd coordinates.
constexpr double kPixelLimit = 1.0e6;

int ClampToPixel(double v) {
  if (std::isnan(v)) return 0;
  v = std::clamp(v, -kPixelLimit, kPixelLimit);
  return static_cast<int>(std::lround(v));
}

void NormaliseRange(double& lo, double& hi) {
  // Ends beyond +-1e300 are pulled in, so that hi - lo and every later difference stay finite.
  constexpr double kLimit = 1.0e300;
  if (!std::isfinite(lo)) lo = 0.0;
  if (!std::isfinite(hi)) hi = lo;
  lo = std::clamp(lo, -kLimit, kLimit);
  hi = std::clamp(hi, -kLimit, kLimit);
  if (lo > hi) std::swap(lo, hi);
  if (hi - lo <= std::abs(lo) * 1e-12 || hi - lo <= 1e-300) {
    // A flat range is centred in a band of one unit (or of its own magnitude when large).
    const double half = std::max(0.5, std::abs(lo) * 1e-9);
    const double mid = lo + (hi - lo) / 2;
    lo = mid - half;
    hi = mid + half;
  }
}

// A "nice" step (1, 2 or 5 times a power of ten) of at least `raw`.
double NiceStep(double raw) {
  if (!(raw > 0.0) || !std::isfinite(raw)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double f : {1.0, 2.0, 5.0, 10.0}) {
    if (f * power >= raw * (1.0 - 1e-9)) return f * power;
  }
  return 10.0 * power;
}

// The next nice step below `step`: 5 -> 2 -> 1 -> 0.5 ...
double SmallerNiceStep(double step) {
  const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
  const double mantissa = step / power;
  if (mantissa > 4.5) return 2.0 * power;
  if (mantissa > 1.5) return power;
  return 0.5 * power;
}

AxisTicks TicksWithStep(double lo, double hi, double step) {
  AxisTicks t;
  t.step = step;
  t.first = std::ceil(lo / step - 1e-9) * step;
  const double n = std::floor((hi - t.first) / step + 1e-9) + 1.0;
  t.count = std::isfinite(n) ? static_cast<int>(std::clamp(n, 0.0, 1000.0)) : 0;
  t.decimals =
      step >= 1.0 ? 0 : std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 10);
  return t;
}

}  // namespace

AxisTicks ChooseTicks(double lo, double hi, int max_ticks) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo)) return AxisTicks{};
  AxisTicks t = TicksWithStep(lo, hi, NiceStep((hi - lo) / std::max(1, max_ticks)));
  for (int refine = 0; refine < 6 && t.count < 2; ++refine) {
    t = TicksWithStep(lo, hi, SmallerNiceStep(t.step));
  }
  return t;
}

void ChartGeometry::SetSize(int width, int height) {
  width_ = std::max(0, width);
  height_ = std::max(0, height);
}

void ChartGeometry::SetMargins(const ChartMargins& margins) {
  margins_.left = std::max(0, margins.left);
  margins_.top = std::max(0, margins.top);
  margins_.right = std::max(0, margins.right);
  margins_.bottom = std::max(0, margins.bottom);
}

void ChartGeometry::SetXRange(double minimum, double maximum) {
  NormaliseRange(minimum, maximum);
  x_min_ = minimum;
  x_max_ = maximum;
}

void ChartGeometry::SetYRange(double minimum, double maximum) {
  NormaliseRange(minimum, maximum);
  y_min_ = minimum;
  y_max_ = maximum;
}

// The plot keeps at least one pixel in each direction, even when the margins do not fit.
int ChartGeometry::PlotLeft() const {
  return std::min(margins_.left, std::max(0, width_ - 1));
}
int ChartGeometry::PlotRight() const {
  return std::max(PlotLeft() + 1, width_ - 1 - margins_.right);
}
int ChartGeometry::PlotTop() const {
  return std::min(margins_.top, std::max(0, height_ - 1));
}
int ChartGeometry::PlotBottom() const {
  return std::max(PlotTop() + 1, height_ - 1 - margins_.bottom);
}

int ChartGeometry::XToPixel(double x) const {
  return ClampToPixel(PlotLeft() + (x - x_min_) * PlotWidth() / (x_max_ - x_min_));
}

int ChartGeometry::YToPixel(double y) const {
  return ClampToPixel(PlotBottom() - (y - y_min_) * PlotHeight() / (y_max_ - y_min_));
}

double ChartGeometry::PixelToX(int px) const {
  return x_min_ + static_cast<double>(px - PlotLeft()) * (x_max_ - x_min_) / PlotWidth();
}

double ChartGeometry::PixelToY(int py) const {
  return y_min_ + static_cast<double>(PlotBottom() - py) * (y_max_ - y_min_) / PlotHeight();
}

int ChartGeometry::FirstPointRightOf(std::span<const double> xs, int mouse_x) const {
  for (std::size_t n = 0; n < xs.size(); ++n) {
    if (XToPixel(xs[n]) > mouse_x) return static_cast<int>(n);
  }
  return kNoPoint;
}

int ChartGeometry::PointAt(std::span<const double> xs, std::span<const double> ys, int mouse_x,
                           int mouse_y, int tolerance) const {
  const std::size_t count = std::min(xs.size(), ys.size());
  int best = kNoPoint;
  long best_distance = std::numeric_limits<long>::max();
  for (std::size_t n = 0; n < count; ++n) {
    if (std::isnan(ys[n])) continue;  // a place without a value is not there to hit
    const long dx = std::labs(static_cast<long>(XToPixel(xs[n])) - mouse_x);
    const long dy = std::labs(static_cast<long>(YToPixel(ys[n])) - mouse_y);
    if (dx > tolerance || dy > tolerance) continue;
    const long distance = dx * dx + dy * dy;
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<int>(n);
    }
  }
  return best;
}

}  // namespace kvd
