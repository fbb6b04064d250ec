// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of the virtual ECU and line in real time, and the live-data rate they give in line
// time (the figure the real line would reach with the same timing).
#include <benchmark/benchmark.h>

#include "link/clock.h"
#include "link/kwp.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"

namespace {

struct Rig {
  kvd::VirtualClock clock{1'000'000};
  kvd::VirtualEcu ecu;
  kvd::VirtualLine line{ecu, clock};
  kvd::KwpLink link{line, clock};
  Rig() {
    line.OpenPort(1);
    line.SetLineParameters(10400, 8, 0, 1);
    line.SetReadTimeouts(0, 5, 100);
    link.TargetAddress = 0x10;
  }
};

// One 21 01 transaction after another, as fast as the line allows.
void BM_LiveDataTransaction(benchmark::State& state) {
  Rig rig;
  rig.link.KwpTransaction(kvd::KwpRequest{0x81});
  const uint64_t t0 = rig.clock.MicrosNow();
  int64_t records = 0;
  for (auto _ : state) {
    if (rig.link.KwpTransaction(kvd::KwpRequest{0x21, 0x01}) == kvd::kKwpPositive) ++records;
  }
  const double lineSeconds = static_cast<double>(rig.clock.MicrosNow() - t0) / 1e6;
  state.counters["records_per_line_second"] = lineSeconds > 0 ? records / lineSeconds : 0;
  state.SetItemsProcessed(records);
}
BENCHMARK(BM_LiveDataTransaction);

// The whole session sequence: wake-up, StartCommunication, StartDiagnosticSession, TesterPresent.
void BM_ConnectSequence(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    benchmark::DoNotOptimize(rig.link.KwpTransaction(kvd::KwpRequest{0x81}, 0, 1));
    benchmark::DoNotOptimize(rig.link.KwpTransaction(kvd::KwpRequest{0x10, 0x81, 0x0A}, 0, 50));
    benchmark::DoNotOptimize(rig.link.KwpTransaction(kvd::KwpRequest{0x3E, 0x01}, 0, 50));
  }
}
BENCHMARK(BM_ConnectSequence);

// The engine model alone, at the poll rate of 4 blocks a second.
void BM_LiveDataBlock(benchmark::State& state) {
  kvd::VirtualEcu ecu;
  uint64_t t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ecu.LiveDataBlock(t));
    t += 250'000;
  }
}
BENCHMARK(BM_LiveDataBlock);

}  // namespace
