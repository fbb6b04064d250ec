// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frm_graph.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "data/history.h"
#include "data/parameters.h"
#include "data/text_export.h"
#include "ui/chart.h"

namespace kvd {
namespace {

constexpr int kTitleTop = 2;
constexpr int kTitleLeft = 8;
constexpr int kTitleWidth = 129;
constexpr int kIndicatorTopExpanded = 30;
constexpr int kIndicatorWidth = 117;
constexpr int kIndicatorFontPixels = 19;
constexpr int kStatFontPixels = 11;
constexpr int kIndicatorHeight = 25;
constexpr int kStatValueWidth = 61;
constexpr int kStatValueHeight = 17;
constexpr int kValueLabelLimit = 10;  // value labels only for windows of at most this many points
constexpr QRgb kIndicatorColor = 0xFFDDDDDD;
constexpr QRgb kLampOnColor = 0xFF00FF00;
// The Y of a place without a record: the chart draws nothing there.
constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
const char* const kNoRecordText = "- - - -";

// Numbers are formatted with '.' and then shown with the user's decimal separator.
QString WithLocaleSeparator(const std::string& text) {
  QString s = QString::fromStdString(text);
  const QString point = QLocale().decimalPoint();
  if (!point.isEmpty() && point != QStringLiteral(".")) s.replace(QLatin1Char('.'), point);
  return s;
}

// Bold Arial of up to 11 pixels, as large as lets two wrapped lines end above the indicator:
// the second line's letters, descenders included, must end at least a pixel above the
// indicator's top (30). Fonts taller than Arial for their size (its stand-ins on other
// systems) get a smaller size instead of a cut second line.
QFont TitleFont() {
  QFont font(QStringLiteral("Arial"));
  font.setBold(true);
  constexpr int kRoom = kIndicatorTopExpanded - kTitleTop;
  for (int px = 11; px >= 8; --px) {
    font.setPixelSize(px);
    const QFontMetrics fm(font);
    const int two_lines =
        fm.boundingRect(QRect(0, 0, kTitleWidth, 1000), Qt::AlignTop, QStringLiteral("Wy\nWy"))
            .height();
    const int ink_below_baseline = fm.tightBoundingRect(QStringLiteral("[ДдуЩ]")).bottom() + 1;
    if (two_lines - fm.height() + fm.ascent() + ink_below_baseline < kRoom) break;
  }
  return font;
}

// The fonts of the fixed-size boxes, one per pixel size, each with the widths of the texts it
// has measured. A live window sets four such texts per pane and record: a font made afresh for
// each measurement looked its glyphs' engine up again every time, and the numbers repeat.
struct FittedFont {
  QFont font;
  QHash<QString, int> widths;
};

FittedFont& FittedFontFor(const QFont& base, int pixel_size) {
  // Never destroyed: fonts must not outlive the application's font cache, which goes at exit.
  static auto* fonts = new std::vector<std::unique_ptr<FittedFont>>;
  QFont wanted = base;
  wanted.setPixelSize(pixel_size);
  for (const auto& f : *fonts)
    if (f->font == wanted) return *f;
  fonts->push_back(std::make_unique<FittedFont>(FittedFont{wanted, {}}));
  return *fonts->back();
}

int FittedWidth(FittedFont& f, const QString& text) {
  auto it = f.widths.constFind(text);
  if (it != f.widths.constEnd()) return *it;
  if (f.widths.size() > 4096) f.widths.clear();  // kept small; a number seen again is cheap
  const int w = QFontMetrics(f.font).horizontalAdvance(text);
  f.widths.insert(text, w);
  return w;
}

// Shows `text` in a fixed-size box. A text wider than the box (a five-digit minimum with its
// three decimals, a number in exponent form) is set a pixel size smaller, down to 7, rather
// than losing its first digits at the box's left edge; a text that fits gets the size back.
void SetFittedText(QLabel* label, const QString& text, int pixel_size) {
  if (text == label->text()) return;
  const int room = label->contentsRect().width();
  for (; pixel_size > 7; --pixel_size) {
    if (FittedWidth(FittedFontFor(label->font(), pixel_size), text) <= room) break;
  }
  const QFont& font = FittedFontFor(label->font(), pixel_size).font;
  if (font != label->font()) label->setFont(font);
  label->setText(text);
}

}  // namespace

// The user's long time format without the time zone (a duration has none).
std::string LongTimePattern() {
  QString f = QLocale().timeFormat(QLocale::LongFormat);
  f.remove(QLatin1Char('t'));
  f = f.trimmed();
  return f.isEmpty() ? std::string(kDefaultLongTimeFormat) : f.toStdString();
}

const std::array<GraphColorScheme, kGraphColorSchemeCount>& GraphColorSchemes() {
  static const std::array<GraphColorScheme, kGraphColorSchemeCount> schemes = {{
      {"Черная 1", 0xFF000000, 0xFF808080, 0xFFFFFF00, 0xFF00FF33, 0xFFFFFF00, 0xFFFF0000},
      {"Черная 2", 0xFF000000, 0xFF006600, 0xFF009000, 0xFF33FF00, 0xFF0000CC, 0xFFFF0000},
      {"Светлая 1", 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF008000, 0xFF0000FF},
      {"Светлая 2", 0xFFFFFFFF, 0xFFD0D0D0, 0xFF909090, 0xFF000000, 0xFF008000, 0xFFFF0000},
      {"Синяя", 0xFF363895, 0xFF009999, 0xFF009999, 0xFFFFFF00, 0xFFFF9966, 0xFFFF0000},
  }};
  return schemes;
}

// The round lamp inside the indicator of a flag pane.
class GraphLamp : public QWidget {
 public:
  explicit GraphLamp(QWidget* parent) : QWidget(parent) {
    setFixedSize(15, 15);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  void SetColor(QRgb color) {
    if (color == color_) return;
    color_ = color;
    update();
  }
  QRgb Color() const { return color_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(QColor::fromRgb(color_));
    p.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
  }

 private:
  QRgb color_ = kLampOnColor;
};

TfrmGraph::TfrmGraph(QWidget* owner, HistoryStore* history, GraphShared* shared,
                     int32_t num_x_point)
    : QFrame(owner), history_(history), shared_(shared) {
  // The steps below keep the pane's fixed construction order (owners rely on it). The marks
  // themselves (SelectionStart / SelectionEnd) are the history's and stay as they are: setting
  // them to -1 here would leave the mark bits in their records, and the next mark would then
  // not remove the old bit.
  shared_->SelectionStartPoint = -1;
  shared_->SelectionEndPoint = -1;
  BuildWidgets();
  BuildMenu();
  line_width_ = 1;
  lamp_->hide();
  Decimals = 0;
  graph_shown_ = true;
  time_labels_shown_ = true;
  ValueType = kValueUnsignedByteMasked;
  hide_point_labels_ = false;
  SetYRange(0.0, 100.0);
  stats_shown_ = true;
  chart_->SetAfterDrawHook(
      [this](ChartCanvas& canvas, const ChartGeometry& g) { PaintAfterSeries(canvas, g); });
  chart_->SetOverlayHook(
      [this](ChartCanvas& canvas, const ChartGeometry& g) { PaintOverlay(canvas, g); });
  SetTitle(QString());
  shared_->VisiblePointCount =
      std::clamp(num_x_point, GraphShared::kMinPoints, GraphShared::kMaxPoints);
  const int32_t count = shared_->VisiblePointCount;
  ChartSeries& trace = chart_->Series(trace_);
  ChartSeries& index = chart_->Series(index_);
  for (int32_t n = 0; n < count; ++n) {
    const double x = n - count + 1;
    trace.Append(x, kNoValue);
    index.Append(x, -1.0);
  }
  ChartSeriesStyle style = chart_->Style(trace_);
  style.value_labels_visible = count <= kValueLabelLimit;
  chart_->SetStyle(trace_, style);
  chart_->DataChanged();
  cursor_index_ = count - 1;
  SetColorScheme(1);
  LayOut();
}

TfrmGraph::~TfrmGraph() = default;

void TfrmGraph::BuildWidgets() {
  setFrameShape(QFrame::NoFrame);
  chart_ = new Chart(this);
  trace_ = chart_->AddSeries();
  index_ = chart_->AddSeries();
  ChartSeriesStyle hidden;
  hidden.visible = false;
  chart_->SetStyle(index_, hidden);
  chart_->SetMousePressHandler([this](const ChartMouseEvent& e) { ChartMousePress(e); });
  chart_->SetMouseMoveHandler([this](const ChartMouseEvent& e) { ChartMouseMove(e); });
  chart_->SetDoubleClickHandler([this](const ChartMouseEvent&) { ToggleGraphShown(); });
  // Panes stacked in the window keep their plots aligned: room for labels up to "-10000".
  chart_->SetMinimumLeftLabelWidth(
      QFontMetrics(chart_->LabelFont()).horizontalAdvance(QStringLiteral("-10000")));

  bevel_ = new QFrame(this);
  bevel_->setFrameShape(QFrame::HLine);
  bevel_->setFrameShadow(QFrame::Sunken);
  bevel_->setLineWidth(1);

  panel_ = new QFrame(this);
  panel_->setObjectName(QStringLiteral("SidePanel"));
  panel_->installEventFilter(this);

  title_ = new QLabel(panel_);
  title_->setObjectName(QStringLiteral("Title"));
  title_->setFont(TitleFont());
  title_->setWordWrap(true);  // the expanded layout
  title_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  title_->installEventFilter(this);

  indicator_ = new QLabel(panel_);
  indicator_->setObjectName(QStringLiteral("Indicator"));
  QFont indicator_font = font();
  indicator_font.setPixelSize(kIndicatorFontPixels);
  indicator_font.setBold(true);
  indicator_->setFont(indicator_font);
  indicator_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  indicator_->setAutoFillBackground(true);
  QPalette pal = indicator_->palette();
  pal.setColor(QPalette::Window, QColor::fromRgb(kIndicatorColor));
  pal.setColor(QPalette::WindowText, Qt::black);
  indicator_->setPalette(pal);
  indicator_->setFixedSize(kIndicatorWidth, kIndicatorHeight);
  indicator_->setContentsMargins(0, 0, 4, 0);
  indicator_->installEventFilter(this);
  lamp_ = new GraphLamp(indicator_);
  lamp_->move(8, 4);

  QFont stat_font = font();
  stat_font.setPixelSize(kStatFontPixels);
  stat_font.setBold(true);
  const char* const captions[3] = {"MIN =", "MAX = ", "AVG = "};
  for (int k = 0; k < 3; ++k) {
    stat_captions_[k] = new QLabel(QString::fromUtf8(captions[k]), panel_);
    stat_captions_[k]->setFont(stat_font);
    stat_values_[k] = new QLabel(panel_);
    stat_values_[k]->setFont(stat_font);
    stat_values_[k]->setFixedSize(kStatValueWidth, kStatValueHeight);
    stat_values_[k]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    stat_values_[k]->setFrameShape(QFrame::Panel);
    stat_values_[k]->setFrameShadow(QFrame::Sunken);
    stat_values_[k]->setContentsMargins(0, 0, 2, 0);
  }
}

void TfrmGraph::BuildMenu() {
  menu_ = new QMenu(this);
  mi_change_scale_ = menu_->addAction(QStringLiteral("Изменить масштаб"));
  mi_auto_scale_ = menu_->addAction(QStringLiteral("Выбрать масштаб автоматически"));
  mi_max_resolution_ = menu_->addAction(QStringLiteral("Максимальное разрешение по оси Y"));
  mi_max_resolution_->setCheckable(true);
  mi_hide_points_ = menu_->addAction(QStringLiteral("Не показывать точки"));
  mi_hide_points_->setCheckable(true);
  mi_separator_ = menu_->addSeparator();
  mi_hide_ = menu_->addAction(QStringLiteral("Скрыть"));
  // Queued, so that a modal dialog never opens from inside the menu's own event handling.
  connect(
      mi_change_scale_, &QAction::triggered, this, [this] { miChangeScaleClick(); },
      Qt::QueuedConnection);
  connect(mi_auto_scale_, &QAction::triggered, this, [this] { miAutoScaleClick(); });
  // A checkable action has toggled its check mark before it reports the trigger.
  connect(mi_max_resolution_, &QAction::triggered, this,
          [this](bool on) { ApplyMaxResolution(on); });
  connect(mi_hide_points_, &QAction::triggered, this, [this](bool on) { ApplyHidePoints(on); });
  connect(mi_hide_, &QAction::triggered, this, [this] { miHideClick(); });
}

// ---------------------------------------------------------------------------------------------
// Layout

void TfrmGraph::LayOut() {
  const int w = width();
  const int h = height();
  bevel_->setGeometry(0, std::max(0, h - 1), w, 1);
  const int inner_h = std::max(0, h - 1);
  if (graph_shown_) {
    const int panel_x = std::max(0, w - kSidePanelWidth);
    chart_->setGeometry(0, 0, panel_x, inner_h);
    panel_->setGeometry(panel_x, 0, std::min(w, kSidePanelWidth), inner_h);
    title_->setGeometry(kTitleLeft, kTitleTop, kTitleWidth, kIndicatorTopExpanded - kTitleTop);
    indicator_->move(kSidePanelWidth - kIndicatorWidth - 4, kIndicatorTopExpanded);
    for (int k = 0; k < 3; ++k) {
      const int y = 58 + k * 19;
      stat_captions_[k]->setGeometry(6, y, kSidePanelWidth - kStatValueWidth - 12,
                                     kStatValueHeight);
      stat_values_[k]->move(kSidePanelWidth - kStatValueWidth - 6, y);
    }
  } else {
    panel_->setGeometry(0, 0, w, inner_h);
    indicator_->move(std::max(0, w - kIndicatorWidth - 4), 2);
    title_->setGeometry(0, 9, std::max(0, w - kIndicatorWidth - 20), 16);
  }
  const bool stats = graph_shown_ && stats_shown_ && ValueType != kValueFlag;
  for (int k = 0; k < 3; ++k) {
    stat_captions_[k]->setVisible(stats);
    stat_values_[k]->setVisible(stats);
  }
}

void TfrmGraph::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  LayOut();
}

void TfrmGraph::SetTitle(const QString& title) {
  title_->setText(title);
}
QString TfrmGraph::Title() const {
  return title_->text();
}

void TfrmGraph::SetGraphShown(bool shown) {
  graph_shown_ = shown;
  chart_->setVisible(shown);
  bevel_->setVisible(shown);
  if (shown) {
    title_->setWordWrap(true);
    title_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    panel_->setToolTip(QString());
    panel_->setStatusTip(QString());
    mi_hide_->setText(QStringLiteral("Скрыть"));
  } else {
    title_->setWordWrap(false);
    title_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The hint shows as a tool tip and, through the window, in its status bar.
    panel_->setToolTip(panel_hint_);
    panel_->setStatusTip(panel_hint_);
    mi_hide_->setText(QStringLiteral("Показать"));
  }
  // Expanding shows the scale items for every type but the flag; only SetValueType hides them
  // for a bit pattern too.
  ShowScaleItems(shown && ValueType != kValueFlag);
  resize(width(), kCollapsedHeight);
  LayOut();
  if (shown) UpdateIndicatorAtCursor();
}

void TfrmGraph::ShowScaleItems(bool shown) {
  for (QAction* a :
       {mi_change_scale_, mi_auto_scale_, mi_max_resolution_, mi_hide_points_, mi_separator_}) {
    a->setVisible(shown);
  }
}

void TfrmGraph::SetPanelHint(const QString& hint) {
  panel_hint_ = hint;
  if (!graph_shown_) {
    panel_->setToolTip(hint);
    panel_->setStatusTip(hint);
  }
}

void TfrmGraph::SetStatsShown(bool shown) {
  stats_shown_ = shown && ValueType != kValueFlag;
  LayOut();
}

void TfrmGraph::ToggleGraphShown() {
  SetGraphShown(!graph_shown_);
  if (OnLayoutRequest) OnLayoutRequest(*this);
}

void TfrmGraph::miHideClick() {
  ToggleGraphShown();
}

// ---------------------------------------------------------------------------------------------
// Appearance

void TfrmGraph::SetValueType(int32_t value_type) {
  ValueType = value_type;
  ShowScaleItems(graph_shown_ && ValueType != kValueFlag && ValueType != kValueBitPattern);
  if (ValueType == kValueFlag) stats_shown_ = false;
  lamp_->setVisible(ValueType == kValueFlag);
  ApplySeriesStyle();
  LayOut();
}

void TfrmGraph::ApplySeriesStyle() {
  const GraphColorScheme& scheme = Scheme();
  ChartSeriesStyle style = chart_->Style(trace_);
  style.line_color = QColor::fromRgb(scheme.Trace);
  style.marker_color = QColor::fromRgb(scheme.Trace);
  style.line_width = line_width_;
  style.marker_pen_width = line_width_;
  style.marker_size = 1;
  const bool pattern = ValueType == kValueBitPattern;
  style.line_visible = !pattern;
  style.markers_visible = !pattern;
  style.value_label_decimals = std::clamp(Decimals, 0, 10);
  style.value_label_font_color = QColor::fromRgb(scheme.Grid);
  style.value_label_frame_color = QColor::fromRgb(scheme.Trace);
  style.value_label_background = QColor::fromRgb(scheme.Background);
  chart_->SetStyle(trace_, style);
}

void TfrmGraph::SetColorScheme(int32_t scheme) {
  if (scheme < 0 || scheme >= kGraphColorSchemeCount) scheme = 0;
  color_scheme_ = scheme;
  ApplyColors();
  ApplySeriesStyle();
}

const GraphColorScheme& TfrmGraph::Scheme() const {
  return GraphColorSchemes()[static_cast<std::size_t>(color_scheme_)];
}

void TfrmGraph::ApplyColors() {
  const GraphColorScheme& s = Scheme();
  ChartColors c;
  c.background = QColor::fromRgb(s.Background);
  c.left_grid = c.bottom_grid = QColor::fromRgb(s.Grid);
  c.left_ticks = c.bottom_ticks = QColor::fromRgb(s.Grid);
  c.left_labels = QColor::fromRgb(s.AxisLabels);
  // Hidden time labels are painted in the background colour, so the layout does not jump.
  c.bottom_labels = time_labels_shown_ ? c.left_labels : c.background;
  chart_->SetColors(c);
}

void TfrmGraph::SetTimeLabelsShown(bool shown) {
  if (shown == time_labels_shown_) return;  // the window re-applies this on every layout
  time_labels_shown_ = shown;
  ApplyColors();
}

void TfrmGraph::SetLineWidth(int32_t pixels) {
  line_width_ = std::clamp(pixels, 1, 10);
  ApplySeriesStyle();
}

// ---------------------------------------------------------------------------------------------
// Scale

void TfrmGraph::SetYRange(double a, double b) {
  if (ValueType == kValueBitPattern) {
    scale_low_ = 0.0;
    scale_high_ = 7.0;
  } else {
    if (!std::isfinite(a) || !std::isfinite(b) || std::abs(a - b) < 1e-11) return;
    scale_low_ = std::min(a, b);
    scale_high_ = std::max(a, b);
  }
  SetAxisFromScale();
  ComputeTypeRange();
}

void TfrmGraph::SetAxisFromScale() {
  const double m = 0.05 * (scale_high_ - scale_low_);
  chart_->SetLeftAxisRange(scale_low_ - m, scale_high_ + m);
}

void TfrmGraph::ComputeTypeRange() {
  const auto scale = [this](double raw, double reciprocal_numerator) {
    return ScaleRawValue(raw, Divisor, Subtrahend, reciprocal_numerator, Multiplier, RawOffset);
  };
  if (ValueType == kValueBitPattern) {
    type_range_low_ = 0.0;
    type_range_high_ = 7.0;
  } else {
    double raw_lo = 0.0;
    double raw_hi = 255.0;
    switch (ValueType) {
      case kValueSignedByte:
        raw_lo = -128.0;
        raw_hi = 127.0;
        break;
      case kValueUnsignedWordLE:
      case kValueUnsignedWordBE:
        raw_hi = 65535.0;
        break;
      case kValueSignedWordLE:
      case kValueSignedWordBE:
        raw_lo = -32768.0;
        raw_hi = 32767.0;
        break;
      case kValueUnsignedLong:
        raw_hi = 4294967295.0;
        break;
      case kValueSignedLong:
        raw_lo = -2147483648.0;
        raw_hi = 2147483647.0;
        break;
      default:
        break;
    }
    double lo = scale(raw_lo, 0.0);
    double hi = scale(raw_hi, 0.0);
    if (ReciprocalNumerator != 0.0) {
      // A reciprocal value is largest in magnitude next to raw 0: take the extremes over the
      // ends of the raw range and the counts next to 0 that lie within it.
      lo = hi = scale(raw_hi, ReciprocalNumerator);
      for (const double raw : {raw_lo, raw_hi, 1.0, -1.0}) {
        if (raw < raw_lo || raw > raw_hi || raw == 0.0) continue;
        lo = std::min(lo, scale(raw, ReciprocalNumerator));
        hi = std::max(hi, scale(raw, ReciprocalNumerator));
      }
    }
    type_range_low_ = std::min(lo, hi);
    type_range_high_ = std::max(lo, hi);
  }
  raw_step_ = ReciprocalNumerator != 0.0
                  ? std::abs(std::abs(scale(254.0, ReciprocalNumerator)) -
                             std::abs(scale(255.0, ReciprocalNumerator)))
                  : std::abs(std::abs(scale(1.0, 0.0)) - std::abs(scale(0.0, 0.0)));
  if (!std::isfinite(raw_step_)) raw_step_ = 1.0;
}

bool TfrmGraph::MaxResolution() const {
  return mi_max_resolution_->isChecked();
}

void TfrmGraph::miChangeScaleClick() {
  mi_max_resolution_->setChecked(false);

  // The dialog lives on the heap and is watched: the pane (and with it the dialog) may be
  // destroyed while the dialog runs its own event loop.
  const QPointer<TfrmGraph> self(this);
  const QPointer<QDialog> dialog_ptr(new QDialog(this));
  QDialog& dialog = *dialog_ptr;
  dialog.setWindowTitle(QString());
  dialog.setObjectName(QStringLiteral("ScaleDialog"));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("Новый масштаб по оси Y"), &dialog));
  // Enough decimals to show one raw count and the parameter's own precision.
  int decimals = std::clamp(Decimals, 0, 6);
  if (raw_step_ > 0.0 && raw_step_ < 1.0) {
    decimals = std::max(
        decimals, std::clamp(static_cast<int>(std::ceil(-std::log10(raw_step_) - 1e-9)), 0, 6));
  }
  const auto make_spin = [&](double value, const char* name) {
    auto* spin = new QDoubleSpinBox(&dialog);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setLocale(QLocale());
    spin->setDecimals(decimals);
    spin->setRange(type_range_low_, type_range_high_);
    spin->setSingleStep(raw_step_ > 0.0 ? raw_step_ : std::pow(10.0, -decimals));
    spin->setValue(value);
    layout->addWidget(spin);
    return spin;
  };
  QDoubleSpinBox* upper = make_spin(scale_high_, "ScaleHigh");
  QDoubleSpinBox* lower = make_spin(scale_low_, "ScaleLow");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  const int result = dialog.exec();
  if (!self || !dialog_ptr) return;
  const double high = upper->value();
  const double low = lower->value();
  delete dialog_ptr.data();
  if (result == QDialog::Accepted) {
    SetYRange(high, low);
    Refill();
  }
}

void TfrmGraph::miAutoScaleClick() {
  mi_max_resolution_->setChecked(false);
  if (ValueType == kValueBitPattern) {
    SetYRange(0.0, 7.0);
  } else {
    // The full type range; a degenerate one (divisor 0) leaves the range alone.
    SetYRange(type_range_low_, type_range_high_);
  }
  Refill();
}

void TfrmGraph::miMaxResolutionClick() {
  mi_max_resolution_->setChecked(!mi_max_resolution_->isChecked());
  ApplyMaxResolution(mi_max_resolution_->isChecked());
}

void TfrmGraph::ApplyMaxResolution(bool on) {
  if (on) {
    saved_scale_low_ = scale_low_;
    saved_scale_high_ = scale_high_;
  } else {
    SetYRange(saved_scale_low_, saved_scale_high_);
  }
  Refill();  // switched on, the window's minimum and maximum apply at once
}

void TfrmGraph::miHidePointsClick() {
  mi_hide_points_->setChecked(!mi_hide_points_->isChecked());
  ApplyHidePoints(mi_hide_points_->isChecked());
}

void TfrmGraph::ApplyHidePoints(bool on) {
  hide_point_labels_ = on;
  if (on) {
    ChartSeriesStyle style = chart_->Style(trace_);
    style.value_labels_visible = false;
    chart_->SetStyle(trace_, style);
  }
  // Unchecked, the refill decides again, and it runs at once rather than at the next record.
  Refill();
}

// ---------------------------------------------------------------------------------------------
// Filling

int32_t TfrmGraph::RecordCount() const {
  return history_ ? history_->RecordCount() : 0;
}

ParameterDescriptor TfrmGraph::Descriptor() const {
  ParameterDescriptor d;
  d.RecordPosition = RecordPosition;
  d.ValueType = ValueType;
  d.Decimals = Decimals;
  d.Mask = Mask;
  d.Divisor = Divisor;
  d.Subtrahend = Subtrahend;
  d.ReciprocalNumerator = ReciprocalNumerator;
  d.Multiplier = Multiplier;
  d.RawOffset = RawOffset;
  return d;
}

void TfrmGraph::ShowParameter(const ParameterDescriptor& d) {
  SetTitle(QString::fromStdString(d.Name));
  SetGraphShown((d.Options & 1) != 0);
  SetDecoding(d);
  SetValueType(d.ValueType);
  SetYRange(d.DefaultMin, d.DefaultMax);
}

void TfrmGraph::SetDecoding(const ParameterDescriptor& d) {
  RecordPosition = static_cast<uint16_t>(std::clamp<int32_t>(d.RecordPosition, 0, 0xFFFF));
  Decimals = d.Decimals;
  Mask = static_cast<uint8_t>(d.Mask & 0xFF);
  Divisor = d.Divisor;
  Subtrahend = d.Subtrahend;
  ReciprocalNumerator = d.ReciprocalNumerator;
  Multiplier = d.Multiplier;
  RawOffset = d.RawOffset;
}

TfrmGraph::FillKey TfrmGraph::CurrentFillKey(int64_t first, int32_t count,
                                             std::string time_pattern) const {
  FillKey k;
  k.first = first;
  k.count = count;
  k.records = RecordCount();
  k.revision = history_ ? history_->Revision() : 0;
  k.value_type = ValueType;
  k.mask = Mask;
  k.record_position = RecordPosition;
  k.scaling = {Divisor, Subtrahend, ReciprocalNumerator, Multiplier, RawOffset};
  k.time_pattern = std::move(time_pattern);
  return k;
}

// The window moved by one record and nothing the points were read from has changed: every
// point but one is still right, one place further along.
bool TfrmGraph::CanShift(const FillKey& now) const {
  const FillKey& was = fill_;
  if (!fill_valid_ || chart_->Series(trace_).Count() != now.count || was.count != now.count)
    return false;
  if (now.first != was.first + 1 && now.first != was.first - 1) return false;
  if (now.revision != was.revision || now.value_type != was.value_type || now.mask != was.mask ||
      now.record_position != was.record_position || now.scaling != was.scaling ||
      now.time_pattern != was.time_pattern)
    return false;
  // Appends turn places at and past the old end of the history into records: the old points
  // are still right if none of them lay there, or if nothing was appended.
  return now.records == was.records || was.first + was.count - 1 < was.records;
}

TfrmGraph::WindowPoint TfrmGraph::ReadPoint(int64_t i, const ParameterDescriptor& d,
                                            const ElapsedFormatter& time) const {
  WindowPoint p;
  p.x = static_cast<double>(i);
  // A point left of the first record, or at or beyond the end of the history (an empty or
  // reset history), has no record behind it: it holds its place but shows nothing.
  p.record = (history_ && i >= 0 && i < RecordCount()) ? history_->RecordAt(static_cast<int32_t>(i))
                                                       : nullptr;
  if (!p.record) return p;
  p.y = DecodeValue(d, *p.record);
  char buffer[ElapsedFormatter::kMaxChars];
  const size_t len = time.FormatTo(buffer, p.record->ElapsedMs());
  p.label = QString::fromUtf8(buffer, static_cast<qsizetype>(len));
  return p;
}

void TfrmGraph::Refill() {
  ChartSeries& trace = chart_->Series(trace_);
  ChartSeries& index = chart_->Series(index_);

  const int32_t count =
      std::clamp(shared_->VisiblePointCount, GraphShared::kMinPoints, GraphShared::kMaxPoints);
  if (ValueType != kValueFlag && !hide_point_labels_) {
    ChartSeriesStyle style = chart_->Style(trace_);
    const bool labels = count > kValueLabelLimit        ? false
                        : ValueType != kValueBitPattern ? true
                                                        : style.value_labels_visible;
    const int decimals = std::clamp(Decimals, 0, 10);
    if (labels != style.value_labels_visible || decimals != style.value_label_decimals) {
      style.value_labels_visible = labels;
      style.value_label_decimals = decimals;
      chart_->SetStyle(trace_, style);
    }
  }

  const ParameterDescriptor d = Descriptor();
  // In 64 bits: an owner's index near the int32 limits must not overflow here.
  const int64_t first = int64_t{newest_shown_index_} - count + 1;
  FillKey key = CurrentFillKey(first, count, LongTimePattern());
  const ElapsedFormatter time(key.time_pattern);
  const double no_record = -1.0;
  if (shifting_refill_ && CanShift(key)) {
    // One new point at the end the window moved to; the marks move with their points.
    const bool right = key.first > fill_.first;
    const WindowPoint p = ReadPoint(right ? first + count - 1 : first, d, time);
    const double record = p.record ? p.x : no_record;
    const int32_t at = right ? count - 1 : 0;
    const auto moved = [&](int32_t point) {
      if (point < 0) return -1;
      const int32_t n = right ? point - 1 : point + 1;
      return n >= 0 && n < count ? n : -1;
    };
    start_point_ = moved(start_point_);
    end_point_ = moved(end_point_);
    if (right) {
      trace.ShiftLeft(p.x, p.y, p.label);
      index.ShiftLeft(p.x, record);
    } else {
      trace.ShiftRight(p.x, p.y, p.label);
      index.ShiftRight(p.x, record);
    }
    // A refill keeps the rightmost of two marks of a kind; the store holds one of each.
    if (p.record && p.record->HasStartMark() && (right || start_point_ < 0)) start_point_ = at;
    if (p.record && p.record->HasEndMark() && (right || end_point_ < 0)) end_point_ = at;
  } else {
    trace.Clear();
    index.Clear();
    start_point_ = -1;
    end_point_ = -1;
    for (int32_t n = 0; n < count; ++n) {
      const WindowPoint p = ReadPoint(first + n, d, time);
      if (p.record) {
        if (p.record->HasStartMark()) start_point_ = n;
        if (p.record->HasEndMark()) end_point_ = n;
      }
      trace.Append(p.x, p.y, p.label);
      index.Append(p.x, p.record ? p.x : no_record);
    }
  }
  fill_ = std::move(key);
  fill_valid_ = true;
  shared_->SelectionStartPoint = start_point_;
  shared_->SelectionEndPoint = end_point_;

  // A collapsed pane shows the newest value of its window (the last point).
  if (!graph_shown_) {
    const HistoryRecord* rec = history_ ? history_->RecordAt(newest_shown_index_) : nullptr;
    if (!rec) {
      ShowIndicatorValue(0.0, false);
    } else if (ValueType == kValueBitPattern) {
      ShowIndicatorValue(ReadRawValue(rec->Bytes, RecordPosition, ValueType, Mask), true);
    } else {
      ShowIndicatorValue(DecodeValue(d, *rec), true);
    }
  }

  // The statistics cover the records of the window: a place without a record has no value, so
  // it counts in none of them, and a window without a record shows none.
  double low = 0.0;
  double high = 0.0;
  double sum = 0.0;
  int32_t values = 0;
  for (const double y : trace.Ys()) {
    if (std::isnan(y)) continue;
    low = values > 0 ? std::min(low, y) : y;
    high = values > 0 ? std::max(high, y) : y;
    sum += y;
    ++values;
  }
  if (count > 0) {
    const double stats[3] = {low, high, values > 0 ? sum / values : 0.0};
    ShowStatistics(values > 0 ? stats : nullptr);
  }
  if (MaxResolution() && values > 0) SetYRange(low, high);
  chart_->DataChanged();
  Redraw();
}

void TfrmGraph::ShowOverview(const GraphOverview& overview) {
  fill_valid_ = false;
  ChartSeries& trace = chart_->Series(trace_);
  ChartSeries& index = chart_->Series(index_);
  trace.Clear();
  index.Clear();
  const size_t n = std::min({overview.X.size(), overview.Y.size(), overview.Records.size()});
  for (size_t i = 0; i < n; ++i) {
    trace.Append(overview.X[i], overview.Y[i],
                 i < overview.Labels.size() ? overview.Labels[i] : QString());
    index.Append(overview.X[i], overview.Records[i]);
  }
  start_point_ = -1;
  end_point_ = -1;
  ChartSeriesStyle style = chart_->Style(trace_);
  style.value_labels_visible = false;
  style.markers_visible = overview.Markers && ValueType != kValueBitPattern;
  chart_->SetStyle(trace_, style);
  if (n > 0) {
    const double stats[3] = {overview.Min, overview.Max, overview.Average};
    ShowStatistics(stats);
  }
  cursor_index_ = std::max(0, trace.Count() - 1);
  // A collapsed pane shows the newest value in its indicator, as a refill would.
  const HistoryRecord* last =
      (!graph_shown_ && n > 0 && history_) ? history_->RecordAt(overview.Records[n - 1]) : nullptr;
  if (last) {
    ShowIndicatorValue(ValueType == kValueBitPattern
                           ? ReadRawValue(last->Bytes, RecordPosition, ValueType, Mask)
                           : DecodeValue(Descriptor(), *last),
                       true);
  }
  chart_->DataChanged();
  Redraw();
}

void TfrmGraph::ShowStatistics(const double* min_max_average) {
  if (ValueType == kValueFlag) return;  // a flag has no statistics
  for (int k = 0; k < 3; ++k) {
    SetFittedText(stat_values_[k],
                  min_max_average ? WithLocaleSeparator(FormatFixed(min_max_average[k], 6, 3, '.'))
                                  : QString::fromUtf8(kNoRecordText),
                  kStatFontPixels);
  }
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TfrmGraph::Redraw() {
  const int32_t count = chart_->Series(trace_).Count();
  if (count > 0) cursor_index_ = std::clamp(cursor_index_, 0, count - 1);
  chart_->RequestOverlayRedraw();
  if (OnPaneDrawn) OnPaneDrawn(*this);
  if (graph_shown_) UpdateIndicatorAtCursor();
}

void TfrmGraph::PaintAfterSeries(ChartCanvas& canvas, const ChartGeometry& g) {
  if (ValueType != kValueBitPattern) return;
  // Eight boxes per point, bit 0 lowest; the last point of the window gets none.
  const ChartSeries& trace = chart_->Series(trace_);
  const int h = std::max(1, g.LeftAxisLength() / 8);
  const int bottom = g.LeftAxisBottom();
  canvas.SetBrushColor(QColor::fromRgb(Scheme().Trace));
  canvas.SetPenColor(QColor::fromRgb(Scheme().Trace));
  for (int n = 0; n + 1 < trace.Count(); ++n) {
    if (std::isnan(trace.YValue(n))) continue;  // no record: no boxes
    const double y = std::clamp(std::round(trace.YValue(n)), -1e9, 1e9);
    const auto b = static_cast<uint8_t>(static_cast<int64_t>(y) & 0xFF);
    const int x = g.XToPixel(trace.XValue(n));
    for (int k = 0; k < 8; ++k) {
      const int y_low = bottom - k * h - 2;
      const int y_high = std::min(y_low, bottom - (k + 1) * h + 2);
      if (b & (1u << k)) {
        canvas.FillRect(x - 3, y_high, x + 3, y_low);
      } else {
        canvas.FrameRect(x - 3, y_high, x + 3, y_low);
      }
    }
  }
}

void TfrmGraph::PaintOverlay(ChartCanvas& canvas, const ChartGeometry& g) {
  const ChartSeries& trace = chart_->Series(trace_);
  const int32_t count = trace.Count();
  if (count == 0) return;
  const int top = g.LeftAxisTop() + 1;
  const int bottom = g.BottomAxisY() - 1;
  const int32_t cursor = std::clamp(cursor_index_, 0, count - 1);
  const int cx = g.XToPixel(trace.XValue(cursor));
  canvas.SetBrushColor(QColor::fromRgb(Scheme().Cursor));
  canvas.FillRect(cx - 1, top, cx, bottom);
  canvas.SetBrushColor(QColor::fromRgb(Scheme().Marks));
  for (const int32_t point : {start_point_, end_point_}) {
    if (point < 0 || point >= count) continue;
    const int mx = g.XToPixel(trace.XValue(point));
    canvas.FillRect(mx - 2, top, mx - 1, bottom);
  }
}

QString TfrmGraph::IndicatorTextFor(double value) const {
  return WithLocaleSeparator(FormatParameterValue(Descriptor(), value, 5, '.'));
}

void TfrmGraph::ShowIndicatorValue(double value, bool has_record) {
  if (!has_record) {
    SetFittedText(indicator_, QString::fromLatin1(kNoRecordText), kIndicatorFontPixels);
    lamp_->SetColor(kIndicatorColor);
    return;
  }
  SetFittedText(indicator_, IndicatorTextFor(value), kIndicatorFontPixels);
  if (ValueType == kValueFlag) lamp_->SetColor(FlagIsOn(value) ? kLampOnColor : kIndicatorColor);
}

void TfrmGraph::UpdateIndicatorAtCursor() {
  const ChartSeries& trace = chart_->Series(trace_);
  const ChartSeries& index = chart_->Series(index_);
  if (trace.Count() == 0) return;
  const int32_t cursor = std::clamp(cursor_index_, 0, trace.Count() - 1);
  ShowIndicatorValue(trace.YValue(cursor), index.YValue(cursor) >= 0.0);
}

// ---------------------------------------------------------------------------------------------
// Cursor and window movement

int32_t TfrmGraph::PointCount() const {
  return chart_->Series(trace_).Count();
}

double TfrmGraph::PointValue(int32_t point) const {
  return chart_->Series(trace_).YValue(point);
}

int32_t TfrmGraph::PointRecord(int32_t point) const {
  if (point < 0 || point >= PointCount()) return -1;
  return static_cast<int32_t>(chart_->Series(index_).YValue(point));
}

void TfrmGraph::SetCursor(int32_t point) {
  if (point == cursor_index_) return;
  cursor_index_ = std::clamp(point, 0, std::max(0, PointCount() - 1));
  Redraw();
}

void TfrmGraph::CursorToLast() {
  SetCursor(PointCount() - 1);
}
void TfrmGraph::CursorToFirst() {
  SetCursor(0);
}

// The newest shown record stays on a record of the history (index 0 for an empty one).
static int32_t ClampNewest(int64_t index, int32_t record_count) {
  return static_cast<int32_t>(std::clamp<int64_t>(index, 0, std::max(0, record_count - 1)));
}

void TfrmGraph::CursorLeft() {
  if (cursor_index_ - 1 >= 0) {
    SetCursor(cursor_index_ - 1);
    return;
  }
  newest_shown_index_ = ClampNewest(int64_t{newest_shown_index_} - 1, RecordCount());
  cursor_index_ = 0;
  Refill();
}

void TfrmGraph::CursorRight() {
  if (cursor_index_ + 1 <= PointCount() - 1) {
    SetCursor(cursor_index_ + 1);
    return;
  }
  newest_shown_index_ = ClampNewest(int64_t{newest_shown_index_} + 1, RecordCount());
  cursor_index_ = std::max(0, PointCount() - 1);
  Refill();
}

void TfrmGraph::PageLeft() {
  newest_shown_index_ =
      ClampNewest(int64_t{newest_shown_index_} - shared_->VisiblePointCount, RecordCount());
  Refill();
}

void TfrmGraph::PageRight() {
  newest_shown_index_ =
      ClampNewest(int64_t{newest_shown_index_} + shared_->VisiblePointCount, RecordCount());
  Refill();
}

// ---------------------------------------------------------------------------------------------
// Mouse, menu

void TfrmGraph::ChartMousePress(const ChartMouseEvent& e) {
  if (e.button != ChartMouseEvent::kLeft || e.buttons != ChartMouseEvent::kLeft) return;
  const int keys = (e.ctrl ? 1 : 0) + (e.alt ? 1 : 0) + (e.shift ? 1 : 0);
  if (keys != 1) return;  // a plain click, or a mix of keys, does nothing
  const ChartSeries& trace = chart_->Series(trace_);
  const int hit = chart_->Geometry().FirstPointRightOf(trace.Xs(), e.x);
  if (hit < 0) return;
  if (e.shift) {
    SetCursor(hit);
    if (OnCursorMoved) OnCursorMoved(*this);
    return;
  }
  const int32_t record = PointRecord(hit);
  if (record < 0 || !history_) return;
  const bool set = e.ctrl ? history_->SetStartMark(record) : history_->SetEndMark(record);
  if (!set) return;
  if (OnSelectionChanged) OnSelectionChanged(*this);
  Refill();
}

void TfrmGraph::ChartMouseMove(const ChartMouseEvent& e) {
  const int point = chart_->PointUnderMouse(trace_, e.x, e.y);
  if (point < 0) {
    chart_->SetHint(QString());
    return;
  }
  chart_->SetHint(WithLocaleSeparator(
      QString::asprintf("Y=%5.3f", chart_->Series(trace_).YValue(point)).toStdString()));
}

void TfrmGraph::contextMenuEvent(QContextMenuEvent* event) {
  menu_->popup(event->globalPos());
  event->accept();
}

bool TfrmGraph::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick &&
      (watched == panel_ || watched == title_ || watched == indicator_)) {
    ToggleGraphShown();
    return true;
  }
  return QFrame::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// State for the owner and for tests

QString TfrmGraph::IndicatorText() const {
  return indicator_->text();
}
bool TfrmGraph::LampVisible() const {
  return lamp_->isVisibleTo(indicator_);
}
QRgb TfrmGraph::LampColor() const {
  return lamp_->Color();
}
QString TfrmGraph::MinText() const {
  return stat_values_[0]->text();
}
QString TfrmGraph::MaxText() const {
  return stat_values_[1]->text();
}
QString TfrmGraph::AvgText() const {
  return stat_values_[2]->text();
}

}  // namespace kvd
