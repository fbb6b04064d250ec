// SPDX-License-Identifier: GPL-3.0-or-later
// What the recording's file costs the poll tick: one record appended (handed to the system, the
// sync left to the helper thread), against a record with its own sync, and the start of a file.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/durable_file.h"
#include "data/history.h"
#include "data/recording_file.h"

namespace {

namespace fs = std::filesystem;

fs::path ScratchFile(const char* name) {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kvd-rec-bench-" + std::to_string(rd()));
  fs::create_directories(dir);
  return dir / name;
}

// The poll tick's share: append one record; the helper thread syncs at most once a second.
void BM_RecordingAppend(benchmark::State& state) {
  const fs::path file = ScratchFile("append.kdd");
  std::vector<uint8_t> record(kvd::kRecordSize, 0x5A);
  {
    kvd::RecordingFile rec;
    if (!rec.Create(file)) state.SkipWithError("cannot create the file");
    for (auto _ : state) benchmark::DoNotOptimize(rec.Append(record.data()));
    state.counters["syncs"] = static_cast<double>(rec.SyncCount());
  }
  fs::remove_all(file.parent_path());
}
BENCHMARK(BM_RecordingAppend)->Unit(benchmark::kMicrosecond);

// For comparison: a record written and synced on the caller's thread, as a naive writer would.
void BM_AppendAndSyncEachRecord(benchmark::State& state) {
  const fs::path file = ScratchFile("sync.kdd");
  std::vector<uint8_t> record(kvd::kRecordSize, 0x5A);
  {
    kvd::DurableFile f;
    if (!f.Open(file, kvd::DurableFile::Mode::Replace)) state.SkipWithError("cannot create");
    for (auto _ : state)
      benchmark::DoNotOptimize(f.Write(record.data(), record.size()) && f.Sync());
  }
  fs::remove_all(file.parent_path());
}
BENCHMARK(BM_AppendAndSyncEachRecord)->Unit(benchmark::kMicrosecond);

// A recording's file started again with a history of n records (after a reset or a load).
void BM_RecordingCreate(benchmark::State& state) {
  const fs::path file = ScratchFile("create.kdd");
  const int32_t n = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> records(static_cast<size_t>(n) * kvd::kRecordSize, 0x33);
  for (auto _ : state) {
    kvd::RecordingFile rec;
    benchmark::DoNotOptimize(rec.Create(file, records.data(), n));
  }
  fs::remove_all(file.parent_path());
}
BENCHMARK(BM_RecordingCreate)->Arg(0)->Arg(14400)->Unit(benchmark::kMillisecond);

}  // namespace
