// SPDX-License-Identifier: GPL-3.0-or-later
// A small line chart on QPainter: point series with labels, a left value axis with a fixed
// range, a bottom axis labelled from the points' texts, a dotted grid, value labels at the
// points, a hint and mouse events with the modifier state. Everything that depends only on the
// data, the axes and the colours is painted once into a cached picture; each paint blits that
// picture and then runs the overlay hook, so moving a cursor bar costs a blit plus a bar.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLine>
#include <QStaticText>
#include <QString>
#include <QWidget>
#include <functional>
#include <unordered_map>
#include <vector>

#include "ui/chart_geometry.h"

class QFontMetrics;
class QPainter;

namespace kvd {

// A number of an axis or value label: fixed notation with `decimals` digits (0..10), the
// user's decimal separator, no group separators.
QString FormatChartNumber(double value, int decimals);

// One series of points with per-point X, Y, text label and colour. A point whose Y is NaN
// holds a place on the X axis but has no value: nothing is drawn there (no line to or from it,
// no marker, no value label) and nothing hits it. Minimum, maximum and sum of Y (over the
// points with a value) are kept up to date while appending.
class ChartSeries {
 public:
  void Clear();
  void Append(double x, double y, const QString& label = QString(), QColor color = QColor());
  // The window moves by one point: the first point goes and one is appended at the end
  // (ShiftLeft), or the last goes and one is put before the first (ShiftRight). On an empty
  // series both append.
  void ShiftLeft(double x, double y, const QString& label = QString(), QColor color = QColor());
  void ShiftRight(double x, double y, const QString& label = QString(), QColor color = QColor());
  int Count() const { return static_cast<int>(ys_.size()); }
  // Point accessors; an index outside 0..Count()-1 gives 0 / an empty text.
  double XValue(int n) const;
  double YValue(int n) const;
  QString Label(int n) const;
  QColor Color(int n) const;
  // Over the points with a value; 0 when there is none.
  double MinY() const;
  double MaxY() const;
  double SumY() const { return sum_; }
  const std::vector<double>& Xs() const { return xs_; }
  const std::vector<double>& Ys() const { return ys_; }
  const std::vector<QString>& Labels() const { return labels_; }

 private:
  void Accumulate(double y);
  void Recount();

  std::vector<double> xs_;
  std::vector<double> ys_;
  std::vector<QString> labels_;
  std::vector<QColor> colors_;
  double min_ = 0.0;
  double max_ = 0.0;
  double sum_ = 0.0;
  bool has_values_ = false;
};

// Drawing style of a series.
struct ChartSeriesStyle {
  bool visible = true;
  QColor line_color = Qt::green;
  int line_width = 1;
  bool line_visible = true;  // false = no connecting line (pen style none)
  bool markers_visible = true;
  QColor marker_color = Qt::green;
  int marker_pen_width = 1;
  int marker_size = 1;  // half side: a marker spans x - size .. x + size
  bool value_labels_visible = false;
  QColor value_label_font_color = Qt::gray;
  QColor value_label_frame_color = Qt::green;
  QColor value_label_background = Qt::black;
  int value_label_decimals = 0;
};

// Colours of the chart itself.
struct ChartColors {
  QColor background = Qt::black;
  QColor left_grid = Qt::darkGray;
  QColor left_ticks = Qt::darkGray;
  QColor left_labels = Qt::yellow;
  QColor bottom_grid = Qt::darkGray;
  QColor bottom_ticks = Qt::darkGray;
  QColor bottom_labels = Qt::yellow;
};

// What a mouse handler is told: position in widget pixels and the shift state.
struct ChartMouseEvent {
  enum Button : unsigned { kLeft = 1, kRight = 2, kMiddle = 4 };
  int x = 0;
  int y = 0;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  unsigned buttons = 0;  // buttons held (for a press: including the one pressed)
  unsigned button = 0;   // the button that changed (press / release); 0 for a move
  bool double_click = false;
};

// The canvas the draw hooks get: enough to fill boxes and draw bars and lines in pixel space.
class ChartCanvas {
 public:
  explicit ChartCanvas(QPainter& painter) : painter_(painter) {}
  void SetBrushColor(QColor color) { brush_ = color; }
  void SetPenColor(QColor color) { pen_ = color; }
  // Fills the rectangle with corners (x1, y1) and (x2, y2), both included, in the brush colour.
  void FillRect(int x1, int y1, int x2, int y2);
  // Outlines the same rectangle in the pen colour.
  void FrameRect(int x1, int y1, int x2, int y2);
  void Line(int x1, int y1, int x2, int y2);

 private:
  QPainter& painter_;
  QColor brush_ = Qt::white;
  QColor pen_ = Qt::white;
};

class Chart : public QWidget {
  Q_OBJECT
 public:
  using DrawHook = std::function<void(ChartCanvas&, const ChartGeometry&)>;
  using MouseHandler = std::function<void(const ChartMouseEvent&)>;

  explicit Chart(QWidget* parent = nullptr);
  ~Chart() override;

  // Series are owned by the chart; indices 0..SeriesCount()-1. Changing points through
  // Series(n) must be followed by DataChanged() (or any Set* call) to be seen.
  int AddSeries();
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  ChartSeries& Series(int n) { return series_.at(n).points; }
  const ChartSeries& Series(int n) const { return series_.at(n).points; }
  const ChartSeriesStyle& Style(int n) const { return series_.at(n).style; }
  void SetStyle(int n, const ChartSeriesStyle& style);
  void DataChanged();

  // Left axis: a fixed range (ends in any order).
  void SetLeftAxisRange(double minimum, double maximum);
  double LeftAxisMinimum() const { return geometry_.YMin(); }
  double LeftAxisMaximum() const { return geometry_.YMax(); }
  // Pixel positions of the left axis ends and of the bottom axis, for the current size.
  int LeftAxisTopPixel() const { return geometry_.LeftAxisTop(); }
  int LeftAxisBottomPixel() const { return geometry_.LeftAxisBottom(); }
  int BottomAxisPixel() const { return geometry_.BottomAxisY(); }
  // Pixel X of point n of a series; the index of the point of a series under (x, y) or -1.
  int PointPixelX(int series, int n) const;
  int PointPixelY(int series, int n) const;
  int PointUnderMouse(int series, int x, int y) const;
  const ChartGeometry& Geometry() const { return geometry_; }

  void SetColors(const ChartColors& colors);
  const ChartColors& Colors() const { return colors_; }
  const QFont& LabelFont() const { return label_font_; }
  // Room kept for the left axis labels even when they are narrower, so that charts stacked
  // above each other keep their plots aligned.
  void SetMinimumLeftLabelWidth(int pixels);

  // Hint shown for the pointer (empty = none).
  void SetHint(const QString& text);
  QString Hint() const { return hint_; }

  // Painted into the cache after the series (things that change with the data only).
  void SetAfterDrawHook(DrawHook hook);
  // Painted on every paint over the cached picture (cursor, marks).
  void SetOverlayHook(DrawHook hook);
  // Repaints the cached picture and the overlay on the next paint.
  void RequestRedraw();
  // Repaints only the overlay on the next paint.
  void RequestOverlayRedraw();

  void SetMousePressHandler(MouseHandler handler) { on_press_ = std::move(handler); }
  void SetMouseMoveHandler(MouseHandler handler) { on_move_ = std::move(handler); }
  void SetDoubleClickHandler(MouseHandler handler) { on_double_ = std::move(handler); }

  QSize sizeHint() const override { return QSize(600, 120); }
  QSize minimumSizeHint() const override { return QSize(60, 40); }

  // Number of times the cached picture was rebuilt (for tests and measurements).
  int CacheRebuilds() const { return cache_rebuilds_; }
  // For measurements: off, every rebuild of the picture starts from nothing (background and
  // left axis drawn anew, time labels measured and drawn as plain text, markers drawn through
  // the paint engine).
  void SetKeepPictures(bool on) { keep_pictures_ = on; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  struct SeriesEntry {
    ChartSeries points;
    ChartSeriesStyle style;
  };

  struct TextEntry {
    QStaticText text;
    int width = 0;
    // The label drawn on the background, blitted where nothing but the background lies under
    // it; made on first use for the colours it was made with.
    QImage picture;
    QRgb picture_background = 0;
    QRgb picture_ink = 0;
  };
  struct TextHash {
    size_t operator()(const QString& s) const { return qHash(s); }
  };

  void UpdateGeometry();
  void UpdateXRange();
  QSize PixelSize() const;
  QImage NewPicture() const;
  void RebuildBase();
  void FindBaseBands();
  void DrawBase(QPainter& painter);
  void RebuildCache();
  void PaintData(QPainter& painter);
  TextEntry& CachedText(const QString& text);
  const QImage& LabelPicture(TextEntry& entry);
  void PaintLeftAxis(QPainter& painter);
  void PaintBottomAxis(QPainter& painter);
  struct DirectPixels {
    uchar* bits = nullptr;
    qsizetype line = 0;
    int dx = 0;  // widget to device
    int dy = 0;
    QRect box;  // widget coordinates
  };
  DirectPixels DirectPixelsOf(QPainter& painter, const QRect& clip) const;
  void PaintSeries(QPainter& painter, const SeriesEntry& entry, const QRect& clip);
  void PaintValueLabels(QPainter& painter, const SeriesEntry& entry);
  AxisTicks LeftTicks(const QFontMetrics& fm) const;
  ChartMouseEvent MakeEvent(const QMouseEvent* event, bool double_click) const;

  std::vector<SeriesEntry> series_;
  ChartGeometry geometry_;
  ChartColors colors_;
  QFont label_font_;
  int min_left_label_width_ = 0;
  QString hint_;
  DrawHook after_draw_;
  DrawHook overlay_;
  MouseHandler on_press_;
  MouseHandler on_move_;
  MouseHandler on_double_;
  QImage base_;  // background and left axis: see RebuildBase
  bool base_valid_ = false;
  std::vector<QRect> base_bands_;  // see FindBaseBands
  bool base_bands_valid_ = false;
  QImage cache_;
  bool cache_valid_ = false;
  bool drawn_since_change_ = false;  // the change was drawn straight onto the window
  std::unordered_map<QString, TextEntry, TextHash> texts_;  // time labels, laid out once
  std::vector<QLine> grid_lines_;  // the bottom axis' lines of one paint, kept for their room
  std::vector<QLine> tick_lines_;
  int cache_rebuilds_ = 0;
  bool keep_pictures_ = true;
};

}  // namespace kvd
