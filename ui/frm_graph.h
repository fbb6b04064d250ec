// SPDX-License-Identifier: GPL-3.0-or-later
// The graph pane: one live-data parameter over a window of consecutive history records, with a
// trace on a chart, a large value indicator, minimum / maximum / average of the window, a cursor
// and the two selection marks. The diagnostic window stacks seven of them; the settings dialog
// shows one as a preview of the colour scheme and line width.
#pragma once

#include <QFrame>
#include <QRgb>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "data/parameters.h"

class QLabel;
class QMenu;
class QAction;

namespace kvd {

class Chart;
class ChartCanvas;
class ChartGeometry;
class ChartSeries;
struct ChartMouseEvent;
class HistoryStore;
class GraphLamp;
class ElapsedFormatter;
struct HistoryRecord;

// The user's long time format without the time zone, as the time texts of the panes and the
// text export use it.
std::string LongTimePattern();

// State shared by all panes of one window (one instance, owned by the window).
struct GraphShared {
  static constexpr int32_t kMinPoints = 4;
  static constexpr int32_t kMaxPoints = 200;
  // Points across every pane (4..200).
  int32_t VisiblePointCount = 40;
  // Point index of the start / end mark in the window last filled; -1 = not in the window.
  int32_t SelectionStartPoint = -1;
  int32_t SelectionEndPoint = -1;
};

// One row of the colour table of the panes.
struct GraphColorScheme {
  const char* Name;  // UTF-8, shown in the settings dialog's colour list
  QRgb Background;
  QRgb Grid;  // grid, ticks and value-label font
  QRgb AxisLabels;
  QRgb Trace;
  QRgb Marks;
  QRgb Cursor;
};
inline constexpr int kGraphColorSchemeCount = 5;
const std::array<GraphColorScheme, kGraphColorSchemeCount>& GraphColorSchemes();

// What a pane shows instead of a window of the history when it pictures a long stretch of a
// recording (kvd-cli plot): its points, with the record behind each, and the statistics of the
// whole stretch.
struct GraphOverview {
  std::vector<double> X;
  std::vector<double> Y;
  std::vector<QString> Labels;   // time texts of the bottom axis
  std::vector<int32_t> Records;  // the record behind each point
  double Min = 0.0;
  double Max = 0.0;
  double Average = 0.0;
  bool Markers = true;  // point markers (off where points are the extremes of pixel columns)
};

class TfrmGraph : public QFrame {
  Q_OBJECT
 public:
  using PaneCallback = std::function<void(TfrmGraph&)>;

  // `history` and `shared` must outlive the pane. `history` may be null (a preview without a
  // recording: every point is a point without a record). Construction sets
  // shared->VisiblePointCount to num_x_point (clamped to 4..200) and both selection points to -1.
  TfrmGraph(QWidget* owner, HistoryStore* history, GraphShared* shared, int32_t num_x_point = 40);
  ~TfrmGraph() override;

  // --- Decoding of the parameter: plain fields, written by the owner before SetValueType,
  // SetYRange and Refill. Values are decoded with the data room's decoder from these fields.
  int32_t ValueType = 0;  // set through SetValueType
  uint8_t Mask = 0xFF;
  uint16_t RecordPosition = 0;
  int32_t Decimals = 0;
  double Divisor = 1.0;
  double Subtrahend = 0.0;
  double ReciprocalNumerator = 0.0;
  double Multiplier = 1.0;
  double RawOffset = 0.0;

  // Shows a parameter: its name as the title, expanded by bit 0 of its options, its decoding,
  // value type and default Y range.
  void ShowParameter(const ParameterDescriptor& descriptor);
  // Copies the decoding fields (RecordPosition, Decimals, Mask and the five scaling numbers) of a
  // descriptor; ValueType is applied separately with SetValueType.
  void SetDecoding(const ParameterDescriptor& descriptor);
  // The decoding fields as a descriptor (no name, no default range).
  ParameterDescriptor Descriptor() const;

  // --- Callbacks (each receives the pane).
  PaneCallback OnCursorMoved;       // after a Shift+click moved the cursor
  PaneCallback OnSelectionChanged;  // after a Ctrl/Alt+click set a mark, before the own refill
  PaneCallback OnPaneDrawn;         // at the end of every redraw
  PaneCallback OnLayoutRequest;     // the user expanded / collapsed the pane: lay the panes out

  // --- Operations, in the order the owner uses them.
  void SetTitle(const QString& title);
  QString Title() const;
  // Expands (chart shown) or collapses the pane. Sets the pane height to 30 either way; the
  // owner then gives expanded panes their height.
  void SetGraphShown(bool shown);
  bool GraphShown() const { return graph_shown_; }
  void SetValueType(int32_t value_type);
  // Y range without margin; the order of the two ends does not matter. Type 9 is always 0..7.
  // Ignored when the ends are equal within 1e-11.
  void SetYRange(double a, double b);
  void SetStatsShown(bool shown);
  bool StatsShown() const { return stats_shown_; }
  void SetTimeLabelsShown(bool shown);
  bool TimeLabelsShown() const { return time_labels_shown_; }
  void SetColorScheme(int32_t scheme);  // 0..4; other values fall back to 0
  int32_t ColorScheme() const { return color_scheme_; }
  void SetLineWidth(int32_t pixels);  // clamped to 1..10
  int32_t LineWidth() const { return line_width_; }
  // Hint of the side panel, shown while the pane is collapsed.
  void SetPanelHint(const QString& hint);

  // Brings both series and the statistics to the current window. When the window moved by one
  // record since the last fill and nothing else the points depend on changed, the points move
  // by one place and only the new one is read; otherwise every point is read again. A place
  // without a record holds no value (nothing is drawn there).
  void Refill();
  // Off: every refill reads every point again (for comparisons and measurements). On at start.
  void SetShiftingRefill(bool on) { shifting_refill_ = on; }
  // Redraws the chart (cursor, marks, indicator at the cursor) without reading the history.
  void Redraw();
  // Shows the overview's points in place of the window (until the next Refill), its statistics,
  // no marks, the cursor on the last point and the indicator at it.
  void ShowOverview(const GraphOverview& overview);

  // The record at the right edge of the window (set by the owner, then Refill).
  int32_t NewestShownIndex() const { return newest_shown_index_; }
  void SetNewestShownIndex(int32_t index) { newest_shown_index_ = index; }

  // Cursor and window movement (all clamp; then refill or redraw).
  void SetCursor(int32_t point);
  int32_t CursorIndex() const { return cursor_index_; }
  void CursorToLast();
  void CursorToFirst();
  void CursorLeft();
  void CursorRight();
  void PageLeft();
  void PageRight();

  // --- Context menu commands (also reachable from the menu).
  void miChangeScaleClick();  // "Изменить масштаб": modal dialog
  void miAutoScaleClick();    // "Выбрать масштаб автоматически"
  void miMaxResolutionClick();  // "Максимальное разрешение по оси Y" (toggles)
  void miHidePointsClick();  // "Не показывать точки" (toggles)
  void miHideClick();        // "Скрыть" / "Показать"

  // --- State for the owner and for tests.
  double ScaleLow() const { return scale_low_; }
  double ScaleHigh() const { return scale_high_; }
  double TypeRangeLow() const { return type_range_low_; }
  double TypeRangeHigh() const { return type_range_high_; }
  double RawStep() const { return raw_step_; }
  bool MaxResolution() const;
  bool HidePointLabels() const { return hide_point_labels_; }
  int32_t PointCount() const;
  // Y of the trace point n and the record behind it (-1 = none).
  double PointValue(int32_t point) const;
  int32_t PointRecord(int32_t point) const;
  QString IndicatorText() const;
  bool LampVisible() const;
  QRgb LampColor() const;
  QString MinText() const;
  QString MaxText() const;
  QString AvgText() const;
  Chart* chart() const { return chart_; }
  QMenu* ContextMenu() const { return menu_; }

  // Pane height of a collapsed pane (and the height both states set before the owner lays out).
  static constexpr int kCollapsedHeight = 30;
  static constexpr int kSidePanelWidth = 136;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What the points of the last fill were read from.
  struct FillKey {
    int64_t first = 0;  // record index of point 0
    int32_t count = 0;
    int32_t records = 0;  // RecordCount then
    uint64_t revision = 0;
    int32_t value_type = 0;
    uint8_t mask = 0;
    uint16_t record_position = 0;
    std::array<double, 5> scaling{};
    std::string time_pattern;
  };
  struct WindowPoint {
    double x = 0.0;
    double y = std::numeric_limits<double>::quiet_NaN();
    QString label;
    const HistoryRecord* record = nullptr;
  };
  FillKey CurrentFillKey(int64_t first, int32_t count, std::string time_pattern) const;
  bool CanShift(const FillKey& now) const;
  WindowPoint ReadPoint(int64_t i, const ParameterDescriptor& d,
                        const ElapsedFormatter& time) const;

  void BuildWidgets();
  void BuildMenu();
  void LayOut();
  const GraphColorScheme& Scheme() const;  // the row of color_scheme_
  void ApplyColors();
  void ApplySeriesStyle();
  void SetAxisFromScale();
  void ComputeTypeRange();
  void UpdateIndicatorAtCursor();
  void ShowIndicatorValue(double value, bool has_record);
  // Minimum, maximum and average into their boxes; nullptr when no record stands behind them.
  void ShowStatistics(const double* min_max_average);
  QString IndicatorTextFor(double value) const;
  int32_t RecordCount() const;
  void PaintAfterSeries(ChartCanvas& canvas, const ChartGeometry& geometry);
  void PaintOverlay(ChartCanvas& canvas, const ChartGeometry& geometry);
  void ChartMousePress(const ChartMouseEvent& event);
  void ChartMouseMove(const ChartMouseEvent& event);
  void ToggleGraphShown();
  // The menu's scale items and the separator below them.
  void ShowScaleItems(bool shown);
  void ApplyMaxResolution(bool on);
  void ApplyHidePoints(bool on);

  HistoryStore* history_;
  GraphShared* shared_;

  FillKey fill_;
  bool fill_valid_ = false;
  bool shifting_refill_ = true;
  int32_t newest_shown_index_ = 0;
  int32_t cursor_index_ = 0;
  int32_t start_point_ = -1;  // mark positions found by the last refill
  int32_t end_point_ = -1;
  double scale_low_ = 0.0;
  double scale_high_ = 100.0;
  double saved_scale_low_ = 0.0;
  double saved_scale_high_ = 100.0;
  double type_range_low_ = 0.0;
  double type_range_high_ = 255.0;
  double raw_step_ = 1.0;
  bool graph_shown_ = true;
  bool stats_shown_ = true;
  bool time_labels_shown_ = true;
  bool hide_point_labels_ = false;
  int32_t color_scheme_ = 1;
  int32_t line_width_ = 1;

  Chart* chart_ = nullptr;
  int trace_ = 0;  // series indices in the chart
  int index_ = 1;
  QFrame* bevel_ = nullptr;
  QFrame* panel_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* indicator_ = nullptr;
  GraphLamp* lamp_ = nullptr;
  std::array<QLabel*, 3> stat_captions_{};
  std::array<QLabel*, 3> stat_values_{};
  QString panel_hint_;
  QMenu* menu_ = nullptr;
  QAction* mi_change_scale_ = nullptr;
  QAction* mi_auto_scale_ = nullptr;
  QAction* mi_max_resolution_ = nullptr;
  QAction* mi_hide_points_ = nullptr;
  QAction* mi_separator_ = nullptr;
  QAction* mi_hide_ = nullptr;
};

}  // namespace kvd
