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
#include "settings/settings_store.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"
#include "ui/diag_window.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_diag_window";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

struct Fixture {
  QTemporaryDir dir;
  kvd::VirtualClock clock{1'000'000};
  kvd::VirtualEcu ecu;
  kvd::VirtualLine line{ecu, clock};
  kvd::KwpLink link{line, clock};
  std::unique_ptr<kvd::UserSettings> settings = kvd::UserSettings::OpenFile(dir.filePath("u.conf"));
  std::unique_ptr<kvd::TFormDiagJ5E2> window;

  explicit Fixture(int points) {
    App();
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
