// SPDX-License-Identifier: GPL-3.0-or-later
// The data room's hot paths: appending, decoding what a tick shows, opening, writing and
// exporting a full recording, with a plain read and write of the same bytes to compare; the
// ratio of opening to the plain read is printed at the end.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "data/data_file.h"
#include "data/history.h"
#include "data/parameters.h"
#include "data/text_export.h"
#include "link/clock.h"
#include "ratio_report.h"

namespace {

namespace fs = std::filesystem;

// A data block that looks like an engine: values move, flags flip.
std::array<uint8_t, kvd::kDataBlockSize> EngineBlock(std::mt19937& rng, int i) {
  std::array<uint8_t, kvd::kDataBlockSize> b{};
  b[0] = 0x61;
  b[1] = 0x01;
  for (size_t k = 2; k < b.size(); ++k) b[k] = static_cast<uint8_t>(rng());
  b[10] = static_cast<uint8_t>(40 + i % 100);  // coolant
  return b;
}

// A store holding a full recording, made once.
struct FullRecording {
  kvd::VirtualClock clock;
  kvd::HistoryStore store{clock};
  fs::path dir;
  fs::path file;
  FullRecording() {
    std::mt19937 rng(7);
    for (int i = 0; i < kvd::kHistoryCapacity; ++i) {
      auto b = EngineBlock(rng, i);
      store.Append(b.data());
      clock.AdvanceMs(250);
    }
    dir = fs::temp_directory_path() / ("kvd-data-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    file = dir / "full.kdd";
    kvd::WriteDataFile(file, store, store.AllRecords());
  }
  ~FullRecording() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

FullRecording& Full() {
  static FullRecording f;
  return f;
}

void BM_AppendOneRecord(benchmark::State& state) {
  kvd::VirtualClock clock;
  kvd::HistoryStore store(clock);
  std::mt19937 rng(1);
  auto block = EngineBlock(rng, 0);
  for (auto _ : state) {
    if (store.IsFull()) store.Reset();
    store.Append(block.data());
    clock.AdvanceMs(250);
  }
  benchmark::DoNotOptimize(store.RecordCount());
}
BENCHMARK(BM_AppendOneRecord);

// One tick of the window: seven panes, 200 points each.
void BM_DecodeSevenPanesOf200(benchmark::State& state) {
  auto& f = Full();
  const int numbers[7] = {2, 7, 8, 10, 13, 14, 19};
  std::array<kvd::ParameterDescriptor, 7> panes;
  for (int p = 0; p < 7; ++p) panes[static_cast<size_t>(p)] = *kvd::LookupParameter(numbers[p]);
  const int32_t newest = f.store.RecordCount() - 1;
  for (auto _ : state) {
    double sum = 0;
    for (const auto& d : panes)
      for (int32_t i = newest - 199; i <= newest; ++i)
        sum += kvd::DecodeValue(d, *f.store.RecordAt(i));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1400);
}
BENCHMARK(BM_DecodeSevenPanesOf200);

void BM_FormatFixed(benchmark::State& state) {
  char buf[kvd::kFormatFixedMaxChars];
  double v = 21.9921875;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kvd::FormatFixedTo(buf, v, 6, 2, '.'));
    v += 0.001;
  }
}
BENCHMARK(BM_FormatFixed);

void BM_OpenFullFile(benchmark::State& state) {
  auto& f = Full();
  kvd::VirtualClock clock;
  kvd::HistoryStore store(clock);
  for (auto _ : state) benchmark::DoNotOptimize(kvd::ReadDataFile(f.file, store).Records);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(f.file)));
}
BENCHMARK(BM_OpenFullFile)->Unit(benchmark::kMillisecond);

// The same bytes read plainly into a buffer of the same kind.
void BM_PlainReadSameBytes(benchmark::State& state) {
  auto& f = Full();
  const auto size = static_cast<size_t>(fs::file_size(f.file));
  kvd::VirtualClock clock;
  kvd::HistoryStore store(clock);  // the same kind of memory as the open writes to
  for (auto _ : state) {
    std::FILE* in = std::fopen(f.file.string().c_str(), "rb");
    uint8_t head[520];
    size_t got = std::fread(head, 1, sizeof head, in);
    got += std::fread(store.WritableRecords(), 1, size - 520, in);
    std::fclose(in);
    benchmark::DoNotOptimize(got);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}
BENCHMARK(BM_PlainReadSameBytes)->Unit(benchmark::kMillisecond);

void BM_WriteFullFile(benchmark::State& state) {
  auto& f = Full();
  const fs::path out = f.dir / "write.kdd";
  for (auto _ : state) kvd::WriteDataFile(out, f.store, f.store.AllRecords());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(out)));
}
BENCHMARK(BM_WriteFullFile)->Unit(benchmark::kMillisecond);

void BM_PlainWriteSameBytes(benchmark::State& state) {
  auto& f = Full();
  const fs::path out = f.dir / "plain.kdd";
  const uint8_t head[520] = {};
  const size_t body = static_cast<size_t>(f.store.RecordCount()) * kvd::kRecordSize;
  for (auto _ : state) {
    std::FILE* o = std::fopen(out.string().c_str(), "wb");
    size_t put = std::fwrite(head, 1, sizeof head, o);
    put += std::fwrite(f.store.RecordBytes(), 1, body, o);
    std::fclose(o);
    benchmark::DoNotOptimize(put);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(520 + body));
}
BENCHMARK(BM_PlainWriteSameBytes)->Unit(benchmark::kMillisecond);

void BM_ExportFullRecording(benchmark::State& state) {
  auto& f = Full();
  const fs::path out = f.dir / "export.txt";
  for (auto _ : state) kvd::WriteTextExport(out, f.store, f.store.AllRecords());
  state.SetItemsProcessed(state.iterations() * f.store.RecordCount());
  state.counters["bytes"] = static_cast<double>(fs::file_size(out));
}
BENCHMARK(BM_ExportFullRecording)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return kvd::bench::RunWithRatios(argc, argv,
                                   {{"open a full file / plain read of its bytes",
                                     "BM_OpenFullFile", "BM_PlainReadSameBytes", 1.2}});
}
