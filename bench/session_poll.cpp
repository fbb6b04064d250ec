// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one poll step on the processor, without waiting for the line: the session on the
// virtual ECU and the virtual clock, so the time the K-line would take is counted apart.
#include <benchmark/benchmark.h>

#include "tests/session/session_fixture.h"

namespace {

using kvd::kErrListShown;
using kvd::test::SessionRig;

void RunTicks(benchmark::State& state, uint32_t tag, bool adc) {
  SessionRig rig;
  if (!rig.ConnectByTick()) {
    state.SkipWithError("the virtual ECU did not answer");
    return;
  }
  rig.session.Tag = tag;
  rig.ui.adcShown = adc;
  const uint64_t lineStart = rig.clock.MicrosNow();
  for (auto _ : state) {
    rig.session.PollStep();
    if (rig.history.IsFull()) rig.history.Reset();
  }
  if (!rig.session.Connected) state.SkipWithError("the session was lost");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["line_ms_per_tick"] =
      double(rig.clock.MicrosNow() - lineStart) / 1000.0 / double(state.iterations());
}

void BM_PollStepLiveData(benchmark::State& state) {
  RunTicks(state, 0, false);
}
BENCHMARK(BM_PollStepLiveData);

void BM_PollStepLiveDataAndAdc(benchmark::State& state) {
  RunTicks(state, 0, true);
}
BENCHMARK(BM_PollStepLiveDataAndAdc);

void BM_PollStepWithTroubleCodeList(benchmark::State& state) {
  RunTicks(state, kErrListShown, false);
}
BENCHMARK(BM_PollStepWithTroubleCodeList);

void BM_Connect(benchmark::State& state) {
  double lineMs = 0;
  for (auto _ : state) {
    SessionRig rig;
    const uint64_t start = rig.clock.MicrosNow();
    if (!rig.ConnectByTick()) state.SkipWithError("the virtual ECU did not answer");
    lineMs = double(rig.clock.MicrosNow() - start) / 1000.0;
  }
  state.counters["line_ms"] = lineMs;
}
BENCHMARK(BM_Connect)->Unit(benchmark::kMicrosecond);

}  // namespace
