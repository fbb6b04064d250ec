// SPDX-License-Identifier: GPL-3.0-or-later
// The graph pane on the offscreen platform: a full refresh (refill from the history and paint)
// of a 700 x 120 pane with 200 points, a repaint after new data, a cursor move (a blit of the
// cached picture plus the cursor bar), and a scroll step against a plain polyline of the same
// points, whose ratio is printed at the end.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <array>
#include <cmath>
#include <memory>

#include "data/history.h"
#include "data/parameters.h"
#include "link/clock.h"
#include "ratio_report.h"
#include "ui/chart.h"
#include "ui/frm_graph.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_chart_pane";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

// A recording of 1000 records with a moving throttle, and a pane of 700 x 120 over its end.
struct PaneSetup {
  kvd::VirtualClock clock{1'000'000};
  kvd::HistoryStore history{clock};
  kvd::GraphShared shared;
  std::unique_ptr<kvd::TfrmGraph> pane;
  QImage target;

  PaneSetup() {
    App();
    std::array<uint8_t, kvd::kDataBlockSize> block{};
    block[0] = 0x61;
    block[1] = 0x01;
    for (int i = 0; i < 1000; ++i) {
      block[12] = static_cast<uint8_t>(50 + 45 * std::sin(i / 9.0));
      clock.AdvanceMs(250);
      history.Append(block.data());
    }
    pane = std::make_unique<kvd::TfrmGraph>(nullptr, &history, &shared, 200);
    const kvd::ParameterDescriptor d = *kvd::LookupParameter(1);
    pane->SetTitle(QString::fromStdString(d.Name));
    pane->SetDecoding(d);
    pane->SetValueType(d.ValueType);
    pane->SetYRange(d.DefaultMin, d.DefaultMax);
    pane->resize(700, 120);
    pane->SetNewestShownIndex(999);
    pane->Refill();
    target = QImage(pane->chart()->size(), QImage::Format_ARGB32_Premultiplied);
    Paint();
  }

  void Paint() {
    QPainter painter(&target);
    pane->chart()->render(&painter);
  }
};

// Refill from the history (200 records decoded, statistics) and paint the chart anew.
void BM_PaneRefresh200(benchmark::State& state) {
  PaneSetup s;
  int32_t newest = 500;
  for (auto _ : state) {
    s.pane->SetNewestShownIndex(newest);
    s.pane->Refill();
    s.Paint();
    newest = newest == 999 ? 500 : newest + 1;
  }
  benchmark::DoNotOptimize(s.target.constBits());
}
BENCHMARK(BM_PaneRefresh200)->Unit(benchmark::kMicrosecond);

// Move the cursor one point and paint: the cached picture is reused.
void BM_PaneCursorMove200(benchmark::State& state) {
  PaneSetup s;
  int32_t cursor = 0;
  for (auto _ : state) {
    s.pane->SetCursor(cursor);
    s.Paint();
    cursor = (cursor + 1) % 200;
  }
  benchmark::DoNotOptimize(s.target.constBits());
}
BENCHMARK(BM_PaneCursorMove200)->Unit(benchmark::kMicrosecond);

// The whole pane, side panel included, after a refill (what the screen gets per new record).
void BM_PaneRefreshWithPanel200(benchmark::State& state) {
  PaneSetup s;
  QImage whole(s.pane->size(), QImage::Format_ARGB32_Premultiplied);
  int32_t newest = 500;
  for (auto _ : state) {
    s.pane->SetNewestShownIndex(newest);
    s.pane->Refill();
    QPainter painter(&whole);
    s.pane->render(&painter);
    newest = newest == 999 ? 500 : newest + 1;
  }
  benchmark::DoNotOptimize(whole.constBits());
}
BENCHMARK(BM_PaneRefreshWithPanel200)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// The two halves of a refresh on their own.
void BM_PaneRefillOnly200(benchmark::State& state) {
  PaneSetup s;
  int32_t newest = 500;
  for (auto _ : state) {
    s.pane->SetNewestShownIndex(newest);
    s.pane->Refill();
    newest = newest == 999 ? 500 : newest + 1;
  }
}
BENCHMARK(BM_PaneRefillOnly200)->Unit(benchmark::kMicrosecond);

void BM_ChartRepaintOnly200(benchmark::State& state) {
  PaneSetup s;
  for (auto _ : state) {
    s.pane->chart()->RequestRedraw();
    s.Paint();
  }
}
BENCHMARK(BM_ChartRepaintOnly200)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// One step of a scrolling pane: the window moves by one record (one new point read, the rest
// moved) and the chart is painted.
void BM_ChartScrollStep200(benchmark::State& state) {
  PaneSetup s;
  int32_t newest = 500;
  s.pane->SetNewestShownIndex(newest);
  s.pane->Refill();
  for (auto _ : state) {
    newest = newest == 999 ? 500 : newest + 1;
    s.pane->SetNewestShownIndex(newest);
    s.pane->Refill();
    s.Paint();
  }
  benchmark::DoNotOptimize(s.target.constBits());
}
BENCHMARK(BM_ChartScrollStep200)->Unit(benchmark::kMicrosecond);

// The floor: the same points mapped to pixels and drawn as one plain polyline on the
// background, nothing else (no axes, grid, labels, markers or cursor).
void BM_PolylineFloor200(benchmark::State& state) {
  PaneSetup s;
  const kvd::Chart& chart = *s.pane->chart();
  const kvd::ChartGeometry& g = chart.Geometry();
  const kvd::ChartSeries& series = chart.Series(0);
  const QColor background = chart.Colors().background;
  QPen pen(chart.Style(0).line_color);
  pen.setWidth(1);
  QPolygon poly(series.Count());
  for (auto _ : state) {
    for (int n = 0; n < series.Count(); ++n)
      poly.setPoint(n, g.XToPixel(series.XValue(n)), g.YToPixel(series.YValue(n)));
    QPainter painter(&s.target);
    painter.fillRect(s.target.rect(), background);
    painter.setPen(pen);
    painter.drawPolyline(poly);
  }
  benchmark::DoNotOptimize(s.target.constBits());
}
BENCHMARK(BM_PolylineFloor200)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return kvd::bench::RunWithRatios(argc, argv,
                                   {{"chart scroll step / plain polyline, 200 points",
                                     "BM_ChartScrollStep200", "BM_PolylineFloor200", 2.0}});
}
