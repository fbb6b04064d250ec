// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a whole recording (kvd-cli plot without the file and the PNG): a full store of
// 762,600 records drawn as the seven panes of set 1 at 1280 x 960, and the reduction of one
// parameter to pixel columns alone.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <cmath>
#include <vector>

#include "data/column_extremes.h"
#include "data/history.h"
#include "data/parameters.h"
#include "link/clock.h"
#include "ui/diag_sets.h"
#include "ui/recording_plot.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "ui_recording_plot";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(argc, argv);
  return app;
}

// A full store with every parameter of set 1 moving.
kvd::HistoryStore& FullStore() {
  static kvd::VirtualClock clock;
  static kvd::HistoryStore store(clock);
  static bool loaded = false;
  if (!loaded) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kvd::kHistoryCapacity) * kvd::kRecordSize, 0);
    for (int32_t i = 0; i < kvd::kHistoryCapacity; ++i) {
      uint8_t* r = bytes.data() + static_cast<size_t>(i) * kvd::kRecordSize;
      kvd::StoreLE32(r, static_cast<uint32_t>(i) * 250u);
      const double t = i / 4000.0;
      for (int p = 16; p < 40; ++p)
        r[p] = static_cast<uint8_t>(128 + 120 * std::sin(t * (1 + p % 5) + p));
    }
    store.Load(bytes.data(), kvd::kHistoryCapacity);
    loaded = true;
  }
  return store;
}

void BM_DrawWholeRecording(benchmark::State& state) {
  App();
  kvd::HistoryStore& store = FullStore();
  const kvd::DataSet set = kvd::DefaultSetTable()[0];
  kvd::RecordingPlotOptions options;
  for (auto _ : state) {
    QImage image = kvd::DrawRecording(store, store.AllRecords(), set, options);
    benchmark::DoNotOptimize(image.bits());
  }
}
BENCHMARK(BM_DrawWholeRecording)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReduceOneParameter(benchmark::State& state) {
  kvd::HistoryStore& store = FullStore();
  const kvd::ParameterDescriptor d = *kvd::LookupParameter(10);  // a 16-bit value
  for (auto _ : state) {
    const kvd::ColumnExtremes e = kvd::ReduceToColumns(store, store.AllRecords(), d, 1100);
    benchmark::DoNotOptimize(e.Points.data());
  }
}
BENCHMARK(BM_ReduceOneParameter)->Unit(benchmark::kMillisecond);

}  // namespace
