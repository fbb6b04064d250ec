// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostic window's work per live-data record: ShowNewestRecord refills and redraws all
// seven panes; and the layout of the panes on a resize. Offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <array>
#include <memory>

#include "data/history.h"
#include "data/parameters.h"
#include "link/clock.h"
#include "link/kwp.h"
#include "ratio_report.h"
#include "settings/settings_store.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"
#include "ui/chart.h"
#include "ui/diag_window.h"
#include "ui/frm_graph.h"

namespace {

struct Fixture {
  QTemporaryDir dir;
  kvd::VirtualClock clock{1'000'000};
  kvd::VirtualEcu ecu;
  kvd::VirtualLine line{ecu, clock};
  kvd::KwpLink link{line, clock};
  std::unique_ptr<kvd::UserSettings> settings = kvd::UserSettings::OpenFile(dir.filePath("u.conf"));
  std::unique_ptr<kvd::TFormDiagJ5E2> window;

  // incremental = false: every tick reads all points again and draws each pane from nothing,
  // as the panes did before they moved by what changed.
  explicit Fixture(int points, bool incremental = true) {
    kvd::DiagWindowConfig c;
    c.link = &link;
    c.settings = settings.get();
    c.poll.IntervalMs = 0;
    c.visiblePointCount = points;
    c.messageSink = [](const QString&) {};
    window = std::make_unique<kvd::TFormDiagJ5E2>(c);
    window->resize(1024, 900);
    window->show();
    QApplication::processEvents();
    for (int i = 0; i < kvd::kPaneCount; ++i) {
      window->Pane(i)->SetShiftingRefill(incremental);
      window->Pane(i)->chart()->SetKeepPictures(incremental);
    }
    // A recording of 400 records of the virtual engine.
    for (int i = 0; i < 400; ++i) {
      clock.AdvanceMs(250);
      const auto block = ecu.LiveDataBlock(clock.MicrosNow());
      window->History().Append(block.data());
    }
  }
};

void BM_ShowNewestRecord(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  int32_t index = 200;
  for (auto _ : state) {
    f.window->ShowNewestRecord(index);
    // Draw what the refills asked for, as the event loop would before the next tick.
    for (int i = 0; i < kvd::kPaneCount; ++i) f.window->Pane(i)->repaint();
    index = index >= 399 ? 200 : index + 1;
  }
}
BENCHMARK(BM_ShowNewestRecord)->Arg(40)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_LayOutPanes(benchmark::State& state) {
  Fixture f(40);
  for (auto _ : state) f.window->LayOutPanes();
}
BENCHMARK(BM_LayOutPanes)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// The whole window per live-data tick, paint included: the panes follow the new record and the
// event loop paints what that changed (charts, statistics, indicators), as on the screen. The
// panes move their points and keep their pictures (as the program does), or read every point
// again and draw everything from nothing on each tick (as they did before), both in the same
// run. "repaints" counts the charts' pictures rebuilt per tick, to show that the painting
// really happened.
void WindowTick(benchmark::State& state, bool incremental) {
  Fixture f(static_cast<int>(state.range(0)), incremental);
  int32_t index = 200;
  const auto rebuilds = [&f] {
    int n = 0;
    for (int i = 0; i < kvd::kPaneCount; ++i) n += f.window->Pane(i)->chart()->CacheRebuilds();
    return n;
  };
  const int before = rebuilds();
  for (auto _ : state) {
    f.window->ShowNewestRecord(index);
    QApplication::processEvents();
    index = index >= 399 ? 200 : index + 1;
  }
  state.counters["repaints"] =
      static_cast<double>(rebuilds() - before) / static_cast<double>(state.iterations());
}
void BM_WindowTick(benchmark::State& state) {
  WindowTick(state, true);
}
void BM_WindowTickFullRedraw(benchmark::State& state) {
  WindowTick(state, false);
}
BENCHMARK(BM_WindowTick)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowTickFullRedraw)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The application is main's own: as a function's static it was destroyed at exit after
  // Qt's own globals, and the input devices it owns crashed the program on their way out.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return kvd::bench::RunWithRatios(argc, argv,
                                   {{"window tick, 40 points: moved / drawn afresh",
                                     "BM_WindowTick/40", "BM_WindowTickFullRedraw/40", 1.0 / 3},
                                    {"window tick, 200 points: moved / drawn afresh",
                                     "BM_WindowTick/200", "BM_WindowTickFullRedraw/200", 1.0 / 3}});
}
