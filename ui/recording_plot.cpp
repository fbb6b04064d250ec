// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/recording_plot.h"

#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <array>
#include <memory>

#include "data/column_extremes.h"
#include "data/parameters.h"
#include "data/text_export.h"
#include "ui/chart.h"
#include "ui/chart_geometry.h"
#include "ui/frm_graph.h"

namespace kvd {

namespace {

constexpr int kCaptionHeight = 22;
// The window shows the statistics only in panes taller than this.
constexpr int kStatsMinPaneHeight = 120;

GraphOverview Overview(const HistoryStore& store, RecordRange range, const ParameterDescriptor& d,
                       int columns) {
  const ColumnExtremes e = ReduceToColumns(store, range, d, columns);
  GraphOverview o;
  o.Min = e.Min;
  o.Max = e.Max;
  o.Average = e.Average;
  o.Markers = e.Records <= e.Columns;  // every record has a point of its own
  const ElapsedFormatter time(LongTimePattern());
  char buffer[ElapsedFormatter::kMaxChars];
  o.X.reserve(e.Points.size());
  o.Y.reserve(e.Points.size());
  o.Labels.reserve(e.Points.size());
  o.Records.reserve(e.Points.size());
  for (const ColumnPoint& p : e.Points) {
    o.X.push_back(p.Column);
    o.Y.push_back(p.Value);
    o.Records.push_back(p.Record);
    const HistoryRecord* r = store.RecordAt(p.Record);
    const size_t len = r ? time.FormatTo(buffer, r->ElapsedMs()) : 0;
    o.Labels.push_back(QString::fromUtf8(buffer, static_cast<qsizetype>(len)));
  }
  return o;
}

}  // namespace

QImage DrawRecording(HistoryStore& store, RecordRange range, const DataSet& set,
                     const RecordingPlotOptions& options, std::vector<PlotPaneLayout>* layout) {
  const int width = std::clamp(options.Width, kPlotMinWidth, kPlotMaxSide);
  const int height = std::clamp(options.Height, kPlotMinHeight, kPlotMaxSide);

  QWidget page;
  page.setAttribute(Qt::WA_DontShowOnScreen);
  page.resize(width, height);
  page.setAutoFillBackground(true);

  int top = 0;
  if (!options.Caption.isEmpty()) {
    auto* caption = new QLabel(options.Caption, &page);
    QFont f = caption->font();
    f.setBold(true);
    caption->setFont(f);
    caption->setContentsMargins(6, 0, 6, 0);
    caption->setGeometry(0, 0, width, kCaptionHeight);
    top = kCaptionHeight;
  }

  // The panes as the window lays them out: collapsed ones a title bar high, the expanded ones
  // sharing the rest, the time labels under the lowest expanded pane.
  GraphShared shared;
  std::array<TfrmGraph*, kPaneCount> panes{};
  std::array<ParameterDescriptor, kPaneCount> descriptors;
  int expanded = 0;
  for (int i = 0; i < kPaneCount; ++i) {
    // The panes as the window binds them; a stored number that names no parameter takes the
    // first default set's.
    const ParameterDescriptor d = SlotDescriptor(set, i, DefaultSetTable()[0]);
    descriptors[static_cast<size_t>(i)] = d;
    TfrmGraph* pane = new TfrmGraph(&page, &store, &shared);
    pane->SetColorScheme(options.ColorScheme);
    pane->ShowParameter(d);
    pane->SetTimeLabelsShown(false);
    if (pane->GraphShown()) ++expanded;
    panes[static_cast<size_t>(i)] = pane;
  }
  const int area = height - top;
  const int h =
      expanded > 0 ? (area - (kPaneCount - expanded) * TfrmGraph::kCollapsedHeight) / expanded : 0;
  TfrmGraph* lowest = nullptr;
  int y = top;
  for (TfrmGraph* pane : panes) {
    int paneHeight = TfrmGraph::kCollapsedHeight;
    if (pane->GraphShown()) {
      paneHeight = std::max(h, TfrmGraph::kCollapsedHeight);
      pane->SetStatsShown(h > kStatsMinPaneHeight);
      lowest = pane;
    }
    pane->setGeometry(0, y, width, paneHeight);
    y += paneHeight;
  }
  if (lowest) lowest->SetTimeLabelsShown(true);

  // Shown (nowhere) so that every widget has its size: the number of pixel columns of a chart
  // is known only then.
  page.show();
  for (size_t i = 0; i < panes.size(); ++i) {
    TfrmGraph* pane = panes[i];
    const int columns = std::max(1, pane->chart()->Geometry().PlotWidth() + 1);
    pane->ShowOverview(Overview(store, range, descriptors[i], columns));
  }

  if (layout) {
    layout->clear();
    for (TfrmGraph* pane : panes) {
      const Chart& chart = *pane->chart();
      const ChartGeometry& g = chart.Geometry();
      PlotPaneLayout l;
      l.Expanded = pane->GraphShown();
      l.Plot = QRect(chart.mapTo(&page, QPoint(g.PlotLeft(), g.PlotTop())),
                     chart.mapTo(&page, QPoint(g.PlotRight(), g.PlotBottom())));
      l.TopValue = g.YMax();
      l.BottomValue = g.YMin();
      layout->push_back(l);
    }
  }

  QImage image(width, height, QImage::Format_RGB32);
  image.fill(page.palette().color(QPalette::Window));
  page.render(&image);
  page.hide();
  return image;
}

}  // namespace kvd
