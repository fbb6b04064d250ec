// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/chart.h"

#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QPoint>
#include <QRegion>
#include <QStaticText>
#include <QToolTip>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <limits>

namespace kvd {
namespace {

constexpr int kTickLength = 4;
constexpr int kLabelGap = 3;
constexpr int kRightMargin = 8;
constexpr int kValueLabelLift = 12;  // pixels between a point and the bottom of its value label

QPen CosmeticPen(const QColor& color, int width = 1, Qt::PenStyle style = Qt::SolidLine) {
  QPen pen(color);
  pen.setWidth(width);
  pen.setStyle(style);
  pen.setCapStyle(Qt::SquareCap);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

}  // namespace

QString FormatChartNumber(double value, int decimals) {
  decimals = std::clamp(decimals, 0, 10);
  if (std::abs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;  // no "-0.0"
  // The user's decimal separator, but no group separators: "10,000" would read as ten where
  // the comma is the decimal separator, and the indicator shows "10000" beside it.
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale.toString(value, 'f', decimals);
}

// ---------------------------------------------------------------------------------------------
// ChartSeries

void ChartSeries::Clear() {
  xs_.clear();
  ys_.clear();
  labels_.clear();
  colors_.clear();
  min_ = max_ = sum_ = 0.0;
  has_values_ = false;
}

void ChartSeries::Accumulate(double y) {
  if (std::isnan(y)) return;
  if (!has_values_) {
    min_ = max_ = y;
    has_values_ = true;
  } else {
    min_ = std::min(min_, y);
    max_ = std::max(max_, y);
  }
  sum_ += y;
}

// Recounted in the order of the points, so that a moved window gives the very sums a window
// filled afresh gives.
void ChartSeries::Recount() {
  min_ = max_ = sum_ = 0.0;
  has_values_ = false;
  for (const double y : ys_) Accumulate(y);
}

void ChartSeries::Append(double x, double y, const QString& label, QColor color) {
  Accumulate(y);
  xs_.push_back(x);
  ys_.push_back(y);
  labels_.push_back(label);
  colors_.push_back(color);
}

void ChartSeries::ShiftLeft(double x, double y, const QString& label, QColor color) {
  if (!ys_.empty()) {
    xs_.erase(xs_.begin());
    ys_.erase(ys_.begin());
    labels_.erase(labels_.begin());
    colors_.erase(colors_.begin());
  }
  xs_.push_back(x);
  ys_.push_back(y);
  labels_.push_back(label);
  colors_.push_back(color);
  Recount();
}

void ChartSeries::ShiftRight(double x, double y, const QString& label, QColor color) {
  if (!ys_.empty()) {
    xs_.pop_back();
    ys_.pop_back();
    labels_.pop_back();
    colors_.pop_back();
  }
  xs_.insert(xs_.begin(), x);
  ys_.insert(ys_.begin(), y);
  labels_.insert(labels_.begin(), label);
  colors_.insert(colors_.begin(), color);
  Recount();
}

double ChartSeries::XValue(int n) const {
  return n >= 0 && n < Count() ? xs_[static_cast<std::size_t>(n)] : 0.0;
}
double ChartSeries::YValue(int n) const {
  return n >= 0 && n < Count() ? ys_[static_cast<std::size_t>(n)] : 0.0;
}
QString ChartSeries::Label(int n) const {
  return n >= 0 && n < Count() ? labels_[static_cast<std::size_t>(n)] : QString();
}
QColor ChartSeries::Color(int n) const {
  return n >= 0 && n < Count() ? colors_[static_cast<std::size_t>(n)] : QColor();
}
double ChartSeries::MinY() const {
  return has_values_ ? min_ : 0.0;
}
double ChartSeries::MaxY() const {
  return has_values_ ? max_ : 0.0;
}

// ---------------------------------------------------------------------------------------------
// ChartCanvas

namespace {
QRect RectFromCorners(int x1, int y1, int x2, int y2) {
  return QRect(QPoint(std::min(x1, x2), std::min(y1, y2)),
               QPoint(std::max(x1, x2), std::max(y1, y2)));
}
}  // namespace

void ChartCanvas::FillRect(int x1, int y1, int x2, int y2) {
  painter_.fillRect(RectFromCorners(x1, y1, x2, y2), brush_);
}

void ChartCanvas::FrameRect(int x1, int y1, int x2, int y2) {
  const QRect r = RectFromCorners(x1, y1, x2, y2);
  painter_.setPen(CosmeticPen(pen_));
  painter_.setBrush(Qt::NoBrush);
  // A one-pixel pen outlines width + 1 pixels: pass the inner size so both corners are included.
  painter_.drawRect(r.x(), r.y(), r.width() - 1, r.height() - 1);
}

void ChartCanvas::Line(int x1, int y1, int x2, int y2) {
  painter_.setPen(CosmeticPen(pen_));
  painter_.drawLine(x1, y1, x2, y2);
}

// ---------------------------------------------------------------------------------------------
// Chart

Chart::Chart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  label_font_ = font();
  label_font_.setPixelSize(10);
  geometry_.SetYRange(0.0, 100.0);
  UpdateGeometry();
}

Chart::~Chart() = default;

int Chart::AddSeries() {
  series_.push_back(SeriesEntry{});
  cache_valid_ = false;
  drawn_since_change_ = false;
  return static_cast<int>(series_.size()) - 1;
}

void Chart::SetStyle(int n, const ChartSeriesStyle& style) {
  series_.at(static_cast<std::size_t>(n)).style = style;
  RequestRedraw();
}

void Chart::DataChanged() {
  UpdateXRange();
  RequestRedraw();
}

void Chart::SetLeftAxisRange(double minimum, double maximum) {
  geometry_.SetYRange(minimum, maximum);
  UpdateGeometry();
  RequestRedraw();
}

int Chart::PointPixelX(int series, int n) const {
  if (series < 0 || series >= SeriesCount()) return 0;
  return geometry_.XToPixel(Series(series).XValue(n));
}

int Chart::PointPixelY(int series, int n) const {
  if (series < 0 || series >= SeriesCount()) return 0;
  return geometry_.YToPixel(Series(series).YValue(n));
}

int Chart::PointUnderMouse(int series, int x, int y) const {
  if (series < 0 || series >= SeriesCount()) return ChartGeometry::kNoPoint;
  const ChartSeries& s = Series(series);
  const int tolerance = std::max(3, Style(series).marker_size + Style(series).line_width + 1);
  return geometry_.PointAt(s.Xs(), s.Ys(), x, y, tolerance);
}

void Chart::SetColors(const ChartColors& colors) {
  colors_ = colors;
  base_valid_ = false;
  RequestRedraw();
}

void Chart::SetMinimumLeftLabelWidth(int pixels) {
  min_left_label_width_ = std::max(0, pixels);
  UpdateGeometry();
  RequestRedraw();
}

void Chart::SetHint(const QString& text) {
  if (text == hint_) return;
  hint_ = text;
  setToolTip(text);
  if (!isVisible() || !underMouse()) return;
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(QCursor::pos(), text, this);
  }
}

void Chart::SetAfterDrawHook(DrawHook hook) {
  after_draw_ = std::move(hook);
  RequestRedraw();
}

void Chart::SetOverlayHook(DrawHook hook) {
  overlay_ = std::move(hook);
  update();
}

void Chart::RequestRedraw() {
  cache_valid_ = false;
  drawn_since_change_ = false;
  update();
}

void Chart::RequestOverlayRedraw() {
  update();
}

// Margins follow the label font and the widest label of the left axis; they change with the
// size, the font and the left axis range only. The X range follows the points of the first
// series (the others are drawn on the same X scale).
void Chart::UpdateGeometry() {
  base_valid_ = false;
  geometry_.SetSize(width(), height());
  const QFontMetrics fm(label_font_);
  ChartMargins m;
  m.top = fm.height() / 2 + 2;
  m.bottom = kTickLength + kLabelGap + fm.height();
  m.right = kRightMargin;
  geometry_.SetMargins(m);  // provisional: the ticks depend on the plot height only

  const AxisTicks ticks = LeftTicks(fm);
  int widest = 0;
  for (int i = 0; i < ticks.count; ++i) {
    widest =
        std::max(widest, fm.horizontalAdvance(FormatChartNumber(ticks.Value(i), ticks.decimals)));
  }
  m.left = std::max(widest, min_left_label_width_) + kTickLength + kLabelGap + 2;
  geometry_.SetMargins(m);
  UpdateXRange();
}

void Chart::UpdateXRange() {
  double x_min = 0.0;
  double x_max = 1.0;
  if (!series_.empty() && series_.front().points.Count() > 0) {
    const auto& xs = series_.front().points.Xs();
    const auto [mn, mx] = std::minmax_element(xs.begin(), xs.end());
    x_min = *mn;
    x_max = *mx;
  }
  geometry_.SetXRange(x_min, x_max);
}

AxisTicks Chart::LeftTicks(const QFontMetrics& fm) const {
  // A label needs its own height and a little air.
  const int max_ticks = std::max(2, geometry_.PlotHeight() / std::max(1, fm.height() + 3));
  return ChooseTicks(geometry_.YMin(), geometry_.YMax(), max_ticks);
}

QSize Chart::PixelSize() const {
  const qreal ratio = devicePixelRatioF();
  return QSize(std::max(1, static_cast<int>(std::ceil(width() * ratio))),
               std::max(1, static_cast<int>(std::ceil(height() * ratio))));
}

QImage Chart::NewPicture() const {
  QImage image(PixelSize(), QImage::Format_RGB32);  // opaque: blitted without blending
  image.setDevicePixelRatio(devicePixelRatioF());
  return image;
}

// What depends on the size, the colours and the left axis only: the background, the left axis
// with its grid and labels, and the line of the bottom axis. Moving the window along the
// records leaves it as it is.
void Chart::RebuildBase() {
  const qreal ratio = devicePixelRatioF();
  if (base_.isNull() || base_.size() != PixelSize() || base_.devicePixelRatio() != ratio)
    base_ = NewPicture();
  base_bands_valid_ = false;
  QPainter painter(&base_);
  painter.fillRect(rect(), colors_.background);
  painter.setFont(label_font_);
  PaintLeftAxis(painter);
  painter.setPen(CosmeticPen(colors_.bottom_ticks));
  const int axis_y = geometry_.BottomAxisY();
  painter.drawLine(geometry_.PlotLeft(), axis_y, geometry_.PlotRight(), axis_y);
  painter.end();
  base_valid_ = true;
  if (keep_pictures_) FindBaseBands();  // drawn from nothing each time, the base is copied whole
}

// The parts of the base right of the left axis that are not plain background: the grid lines
// and the bottom axis, each a band of whole rows. The rest of the plot is one colour.
void Chart::FindBaseBands() {
  base_bands_.clear();
  const int from = geometry_.PlotLeft() + 1;
  if (base_.devicePixelRatio() != 1.0 || from <= 0 || from >= base_.width()) return;
  const QRgb plain = base_.pixel(from, 0) | 0xFF000000u;
  if (plain != (colors_.background.rgb() | 0xFF000000u)) return;
  int band_top = -1;
  for (int y = 0; y <= base_.height(); ++y) {
    bool marked = false;
    if (y < base_.height()) {
      const auto* row = reinterpret_cast<const QRgb*>(base_.constScanLine(y));
      for (int x = from; x < base_.width() && !marked; ++x)
        marked = (row[x] | 0xFF000000u) != plain;
    }
    if (marked && band_top < 0) band_top = y;
    if (!marked && band_top >= 0) {
      base_bands_.push_back(QRect(from, band_top, base_.width() - from, y - band_top));
      band_top = -1;
    }
  }
  base_bands_valid_ = true;
}

// The base onto a painter: the left axis and the bands copied, the rest filled. The same
// pixels as copying the whole base, with a fraction of the memory traffic.
void Chart::DrawBase(QPainter& painter) {
  if (!base_bands_valid_) {
    painter.drawImage(0, 0, base_);
    return;
  }
  const int from = geometry_.PlotLeft() + 1;
  painter.drawImage(QPoint(0, 0), base_, QRect(0, 0, from, base_.height()));
  painter.fillRect(QRect(from, 0, base_.width() - from, base_.height()), colors_.background);
  for (const QRect& band : base_bands_) painter.drawImage(band.topLeft(), base_, band);
}

void Chart::RebuildCache() {
  if (cache_.size() != PixelSize() || cache_.devicePixelRatio() != devicePixelRatioF()) {
    cache_ = NewPicture();
    base_valid_ = false;
  }
  if (!keep_pictures_) base_valid_ = false;
  if (!base_valid_) RebuildBase();
  QPainter painter(&cache_);
  painter.drawImage(0, 0, base_);
  PaintData(painter);
  cache_valid_ = true;
  ++cache_rebuilds_;
}

void Chart::PaintData(QPainter& painter) {
  painter.setFont(label_font_);
  PaintBottomAxis(painter);

  const QRect plot(QPoint(geometry_.PlotLeft(), geometry_.PlotTop()),
                   QPoint(geometry_.PlotRight(), geometry_.PlotBottom()));
  painter.save();
  // Points may lie outside the axis range; they are cut at the plot area, with room for markers.
  painter.setClipRect(plot.adjusted(-3, -3, 3, 3));
  for (const SeriesEntry& entry : series_) {
    if (entry.style.visible) PaintSeries(painter, entry, plot.adjusted(-3, -3, 3, 3));
  }
  painter.restore();
  for (const SeriesEntry& entry : series_) {
    if (entry.style.visible && entry.style.value_labels_visible) PaintValueLabels(painter, entry);
  }
  if (after_draw_) {
    ChartCanvas canvas(painter);
    after_draw_(canvas, geometry_);
  }
}

void Chart::PaintLeftAxis(QPainter& painter) {
  const QFontMetrics fm(label_font_);
  const AxisTicks ticks = LeftTicks(fm);
  const int axis_x = geometry_.PlotLeft();

  QPen grid = CosmeticPen(colors_.left_grid, 1, Qt::CustomDashLine);
  grid.setDashPattern({1.0, 1.0});
  for (int i = 0; i < ticks.count; ++i) {
    const double v = ticks.Value(i);
    const int y = geometry_.YToPixel(v);
    if (y > geometry_.PlotTop() && y < geometry_.PlotBottom()) {
      painter.setPen(grid);
      painter.drawLine(axis_x + 1, y, geometry_.PlotRight(), y);
    }
    painter.setPen(CosmeticPen(colors_.left_ticks));
    painter.drawLine(axis_x - kTickLength, y, axis_x, y);
    painter.setPen(colors_.left_labels);
    const QString text = FormatChartNumber(v, ticks.decimals);
    const QRect box(0, y - fm.height() / 2, axis_x - kTickLength - kLabelGap, fm.height());
    painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
  }
  painter.setPen(CosmeticPen(colors_.left_ticks));
  painter.drawLine(axis_x, geometry_.PlotTop(), axis_x, geometry_.PlotBottom());
}

Chart::TextEntry& Chart::CachedText(const QString& text) {
  auto it = texts_.find(text);
  if (it == texts_.end()) {
    // Kept small: labels stick to their records, so a moving window needs only a few new ones.
    if (texts_.size() > 1024) texts_.clear();
    TextEntry entry;
    entry.text = QStaticText(text);
    entry.text.setTextFormat(Qt::PlainText);
    entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
    entry.text.prepare(QTransform(), label_font_);
    entry.width = QFontMetrics(label_font_).horizontalAdvance(text);
    it = texts_.emplace(text, std::move(entry)).first;
  }
  return it->second;
}

// The glyphs of a label blended one by one cost more than the rest of a pane's picture; the
// label drawn once on the background is copied instead. Its picture reaches 4 pixels past the
// label's advance, for glyphs that overhang it: the next label keeps a larger gap.
const QImage& Chart::LabelPicture(TextEntry& e) {
  const QRgb background = colors_.background.rgb();
  const QRgb ink = colors_.bottom_labels.rgb();
  const qreal ratio = devicePixelRatioF();
  if (e.picture.isNull() || e.picture_background != background || e.picture_ink != ink ||
      e.picture.devicePixelRatio() != ratio) {
    const QFontMetrics fm(label_font_);
    const QSize size(e.width + 4, fm.height());
    e.picture = QImage((QSizeF(size) * ratio).toSize(), QImage::Format_RGB32);
    e.picture.setDevicePixelRatio(ratio);
    e.picture.fill(colors_.background);
    QPainter p(&e.picture);
    p.setFont(label_font_);
    p.setPen(colors_.bottom_labels);
    p.drawStaticText(0, 0, e.text);
    e.picture_background = background;
    e.picture_ink = ink;
  }
  return e.picture;
}

void Chart::PaintBottomAxis(QPainter& painter) {
  const int axis_y = geometry_.BottomAxisY();
  if (series_.empty()) return;
  const ChartSeries& s = series_.front().points;
  const int count = s.Count();
  if (count == 0) return;

  const QFontMetrics fm(label_font_);
  // The labels share one form (times): measuring the longest one stands for all of them and
  // spares shaping two hundred texts per paint.
  const std::vector<QString>& labels = s.Labels();
  int longest = 0;
  for (int n = 1; n < count; ++n) {
    if (labels[static_cast<size_t>(n)].size() > labels[static_cast<size_t>(longest)].size())
      longest = n;
  }
  // Off, the labels are measured and laid out anew on each paint, as plain drawn text.
  const auto text_width = [&](const QString& text) {
    return keep_pictures_ ? CachedText(text).width : fm.horizontalAdvance(text);
  };
  const int label_width = text_width(labels[static_cast<size_t>(longest)]) + fm.averageCharWidth();
  // Every k-th record is labelled; k is chosen so that labels keep a gap, and the choice sticks
  // to the records (X values) so that labels do not jump while the window scrolls.
  const double span = std::max(1.0, geometry_.XMax() - geometry_.XMin());
  const double pixels_per_x = geometry_.PlotWidth() / span;
  const long long k = std::max<long long>(
      1, static_cast<long long>(std::ceil((label_width + 12) / std::max(1e-9, pixels_per_x))));

  QPen grid = CosmeticPen(colors_.bottom_grid, 1, Qt::CustomDashLine);
  grid.setDashPattern({1.0, 1.0});
  const QPen ticks = CosmeticPen(colors_.bottom_ticks);
  int last_right = std::numeric_limits<int>::min();
  std::vector<QLine>& grid_lines = grid_lines_;
  std::vector<QLine>& tick_lines = tick_lines_;
  grid_lines.clear();
  tick_lines.clear();
  for (int n = 0; n < count; ++n) {
    const double xv = s.XValue(n);
    const long long xi = static_cast<long long>(std::llround(std::clamp(xv, -1e15, 1e15)));
    if (((xi % k) + k) % k != 0) continue;
    const int x = geometry_.XToPixel(xv);
    const bool in_plot = x > geometry_.PlotLeft() && x < geometry_.PlotRight();
    if (keep_pictures_) {
      // Drawn together below: a change of pen per line cost more than the lines.
      if (in_plot) grid_lines.emplace_back(x, geometry_.PlotTop(), x, axis_y - 1);
      tick_lines.emplace_back(x, axis_y, x, axis_y + kTickLength);
    } else {
      if (in_plot) {
        painter.setPen(grid);
        painter.drawLine(x, geometry_.PlotTop(), x, axis_y - 1);
      }
      painter.setPen(ticks);
      painter.drawLine(x, axis_y, x, axis_y + kTickLength);
    }
    const QString& text = labels[static_cast<size_t>(n)];
    if (text.isEmpty()) continue;
    const int w = text_width(text);
    int left = std::clamp(x - w / 2, 0, std::max(0, width() - w));
    if (left <= last_right + 4) continue;
    painter.setPen(colors_.bottom_labels);
    const int top = axis_y + kTickLength + 1;
    if (keep_pictures_ && left > geometry_.PlotLeft() && colors_.background.alpha() == 255) {
      // Under the plot only the background lies below the ticks.
      painter.drawImage(left, top, LabelPicture(CachedText(text)));
    } else if (keep_pictures_) {
      painter.drawStaticText(left, top, CachedText(text).text);
    } else {
      painter.drawText(QRect(left, top, w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
    }
    last_right = left + w;
  }
  // The grid ends above the ticks and the ticks above the labels: the order does not show.
  if (!grid_lines.empty()) {
    painter.setPen(grid);
    painter.drawLines(grid_lines.data(), static_cast<int>(grid_lines.size()));
  }
  if (!tick_lines.empty()) {
    painter.setPen(ticks);
    painter.drawLines(tick_lines.data(), static_cast<int>(tick_lines.size()));
  }
}

// The pixels under the painter, where they may be written directly: a 32-bit image (the
// picture, or the window's backing store on the raster engine), no scaling, and nothing but
// this chart's own rectangle under the system's clip (no other widget lies over it). `box` is
// the part of `clip` (widget coordinates) that may be written.
Chart::DirectPixels Chart::DirectPixelsOf(QPainter& painter, const QRect& clip) const {
  QPaintEngine* engine = painter.paintEngine();
  if (engine == nullptr || engine->type() != QPaintEngine::Raster) return {};
  QPaintDevice* device = engine->paintDevice();
  if (device == nullptr || device->devType() != QInternal::Image) return {};
  auto* image = static_cast<QImage*>(device);
  if (image->devicePixelRatio() != 1.0 || (image->format() != QImage::Format_RGB32 &&
                                           image->format() != QImage::Format_ARGB32_Premultiplied))
    return {};
  const QTransform t = painter.deviceTransform();
  if (t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx()) ||
      t.dy() != std::floor(t.dy()))
    return {};
  const int dx = static_cast<int>(t.dx());
  const int dy = static_cast<int>(t.dy());
  const QRect own = rect().translated(dx, dy);
  const QRegion system = engine->systemClip();
  if (!system.isEmpty() && !QRegion(own).subtracted(system).isEmpty()) return {};
  DirectPixels d;
  d.box = clip.intersected(rect()).intersected(image->rect().translated(-dx, -dy));
  d.bits = image->bits();
  d.line = image->bytesPerLine();
  d.dx = dx;
  d.dy = dy;
  return d;
}

void Chart::PaintSeries(QPainter& painter, const SeriesEntry& entry, const QRect& clip) {
  const ChartSeries& s = entry.points;
  const int count = s.Count();
  if (count == 0) return;
  const std::vector<double>& ys = s.Ys();
  QPolygon poly(count);
  for (int n = 0; n < count; ++n) {
    poly.setPoint(n, geometry_.XToPixel(s.XValue(n)),
                  geometry_.YToPixel(ys[static_cast<size_t>(n)]));
  }
  const auto has_value = [&ys](int n) { return !std::isnan(ys[static_cast<size_t>(n)]); };
  const ChartSeriesStyle& st = entry.style;
  if (st.line_visible && count > 1) {
    painter.setPen(CosmeticPen(st.line_color, std::max(1, st.line_width)));
    painter.setBrush(Qt::NoBrush);
    // One polyline per run of points with a value; a point without one breaks the line.
    for (int first = 0; first < count;) {
      while (first < count && !has_value(first)) ++first;
      int end = first;
      while (end < count && has_value(end)) ++end;
      if (end - first > 1) painter.drawPolyline(poly.constData() + first, end - first);
      first = end;
    }
  }
  if (st.markers_visible) {
    painter.setBrush(Qt::NoBrush);
    const int size = std::max(0, st.marker_size);
    // One-pixel outlines straight into the picture: the engine takes far longer for as many
    // small rectangles, and draws the very same pixels.
    const auto opaque = [&s, &st, count] {
      if (st.marker_color.alpha() != 255) return false;
      for (int n = 0; n < count; ++n)
        if (s.Color(n).isValid() && s.Color(n).alpha() != 255) return false;
      return true;
    };
    const DirectPixels direct = keep_pictures_ && size > 0 && st.marker_pen_width <= 1 && opaque()
                                    ? DirectPixelsOf(painter, clip)
                                    : DirectPixels{};
    if (direct.bits != nullptr) {
      const QColor plain = st.marker_color;
      for (int n = 0; n < count; ++n) {
        if (!has_value(n)) continue;
        const QColor c = s.Color(n).isValid() ? s.Color(n) : plain;
        const QRgb rgb = c.rgba();  // opaque, as the picture is
        const QPoint p = poly.point(n);
        const auto put = [&](int x, int y) {
          if (direct.box.contains(x, y))
            reinterpret_cast<QRgb*>(direct.bits + (y + direct.dy) * direct.line)[x + direct.dx] =
                rgb;
        };
        for (int d = -size; d <= size; ++d) {
          put(p.x() + d, p.y() - size);
          put(p.x() + d, p.y() + size);
        }
        for (int d = -size + 1; d < size; ++d) {
          put(p.x() - size, p.y() + d);
          put(p.x() + size, p.y() + d);
        }
      }
      return;
    }
    // The markers of one colour go to the engine in one call.
    std::vector<QRect> rects;
    std::vector<QPoint> dots;
    rects.reserve(static_cast<size_t>(count));
    QColor pen_color = st.marker_color;
    const auto flush = [&] {
      if (rects.empty() && dots.empty()) return;
      painter.setPen(CosmeticPen(pen_color, std::max(1, st.marker_pen_width)));
      if (!rects.empty()) painter.drawRects(rects.data(), static_cast<int>(rects.size()));
      if (!dots.empty()) painter.drawPoints(dots.data(), static_cast<int>(dots.size()));
      rects.clear();
      dots.clear();
    };
    for (int n = 0; n < count; ++n) {
      if (!has_value(n)) continue;
      const QColor c = s.Color(n).isValid() ? s.Color(n) : st.marker_color;
      if (c != pen_color) {  // a new pen only where a point has a colour of its own
        flush();
        pen_color = c;
      }
      const QPoint p = poly.point(n);
      if (size == 0) {
        dots.push_back(p);
      } else {
        rects.emplace_back(p.x() - size, p.y() - size, 2 * size, 2 * size);
      }
    }
    flush();
  }
}

void Chart::PaintValueLabels(QPainter& painter, const SeriesEntry& entry) {
  const ChartSeries& s = entry.points;
  const ChartSeriesStyle& st = entry.style;
  const QFontMetrics fm(label_font_);
  for (int n = 0; n < s.Count(); ++n) {
    if (std::isnan(s.YValue(n))) continue;  // no value, no label
    const QString text = FormatChartNumber(s.YValue(n), st.value_label_decimals);
    const int x = geometry_.XToPixel(s.XValue(n));
    const int y = geometry_.YToPixel(s.YValue(n));
    const int w = fm.horizontalAdvance(text) + 6;
    const int h = fm.height() + 2;
    int top = y - kValueLabelLift - h;
    bool below = false;
    if (top < 0) {  // no room above the point: hang the label below it
      top = y + kValueLabelLift;
      below = true;
    }
    // Kept inside the plot: a label at the first point must not cover the left axis labels,
    // nor one at the last point run off into the margin.
    const int plot_left = geometry_.PlotLeft() + 1;
    const int left =
        std::clamp(x - w / 2, plot_left, std::max(plot_left, geometry_.PlotRight() - w));
    painter.setPen(CosmeticPen(st.value_label_frame_color));
    painter.drawLine(x, below ? y + 2 : y - 2, x, below ? top : top + h);
    const QRect box(left, top, w, h);
    painter.fillRect(box, st.value_label_background);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(st.value_label_font_color);
    painter.drawText(box, Qt::AlignCenter, text);
  }
}

void Chart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (keep_pictures_ && !cache_valid_ && !drawn_since_change_) {
    // What changed is drawn straight onto the window: the kept background and axis, then the
    // data. Copying a whole picture costs more than drawing the points, and drawing into a
    // picture first meant two copies per tick. The picture of the data is made only when a
    // repaint without a change (the overlay, an uncovered window) asks for it.
    if (base_.isNull() || base_.size() != PixelSize() ||
        base_.devicePixelRatio() != devicePixelRatioF() || !base_valid_)
      RebuildBase();
    DrawBase(painter);
    PaintData(painter);
    ++cache_rebuilds_;
    drawn_since_change_ = true;
  } else {
    if (!cache_valid_ || cache_.isNull()) RebuildCache();
    painter.drawImage(0, 0, cache_);
  }
  if (overlay_) {
    ChartCanvas canvas(painter);
    overlay_(canvas, geometry_);
  }
}

void Chart::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Rendering a hidden widget repeats resize events of an unchanged size: keep the cache then.
  if (geometry_.Width() == width() && geometry_.Height() == height()) return;
  UpdateGeometry();
  cache_valid_ = false;
  drawn_since_change_ = false;
}

ChartMouseEvent Chart::MakeEvent(const QMouseEvent* event, bool double_click) const {
  ChartMouseEvent e;
  const QPoint p = event->position().toPoint();
  e.x = p.x();
  e.y = p.y();
  const Qt::KeyboardModifiers mods = event->modifiers();
  e.shift = mods.testFlag(Qt::ShiftModifier);
  e.ctrl = mods.testFlag(Qt::ControlModifier);
  e.alt = mods.testFlag(Qt::AltModifier);
  const auto bits = [](Qt::MouseButtons b) {
    unsigned r = 0;
    if (b.testFlag(Qt::LeftButton)) r |= ChartMouseEvent::kLeft;
    if (b.testFlag(Qt::RightButton)) r |= ChartMouseEvent::kRight;
    if (b.testFlag(Qt::MiddleButton)) r |= ChartMouseEvent::kMiddle;
    return r;
  };
  e.buttons = bits(event->buttons());
  e.button = bits(event->button());
  e.double_click = double_click;
  return e;
}

void Chart::mousePressEvent(QMouseEvent* event) {
  if (on_press_) on_press_(MakeEvent(event, false));
  // Unhandled here on purpose: the right button still reaches the owner's context menu.
  event->ignore();
}

void Chart::mouseMoveEvent(QMouseEvent* event) {
  if (on_move_) on_move_(MakeEvent(event, false));
  event->accept();
}

void Chart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (on_double_) {
    on_double_(MakeEvent(event, true));
    event->accept();
  } else {
    event->ignore();
  }
}

bool Chart::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    if (hint_.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
      return true;
    }
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), hint_, this);
    return true;
  }
  return QWidget::event(event);
}

}  // namespace kvd
