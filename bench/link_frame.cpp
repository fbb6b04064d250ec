// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the frame layer itself, without line time: building frames, and whole transactions
// against a scripted port on the virtual clock.
#include <benchmark/benchmark.h>

#include <vector>

#include "link/kwp.h"
#include "tests/link/fake_port.h"

namespace {

using kvd::KwpLink;
using kvd::KwpRequest;
using kvd::VirtualClock;
using kvd::test::EcuFrame;
using kvd::test::FakePort;

void BM_BuildFrameLiveData(benchmark::State& state) {
  const KwpRequest request{0x21, 0x01};
  uint8_t out[264];
  for (auto _ : state) {
    benchmark::DoNotOptimize(KwpLink::BuildFrame(request, 0, 0x10, out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildFrameLiveData);

void BM_BuildFrameLongest(benchmark::State& state) {
  std::vector<uint8_t> message(255, 0x5A);
  const KwpRequest request{std::span<const uint8_t>(message)};
  uint8_t out[264];
  for (auto _ : state) {
    benchmark::DoNotOptimize(KwpLink::BuildFrame(request, 0, 0x10, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 260);
}
BENCHMARK(BM_BuildFrameLongest);

// One live-data poll: 21 01 out, echo back, a 36-byte answer in.
void BM_TransactionLiveData(benchmark::State& state) {
  VirtualClock clock;
  FakePort port(clock);
  port.SetReadTimeouts(0, 5, 100);
  KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  std::vector<uint8_t> message(36, 0x11);
  message[0] = 0x61;
  message[1] = 0x01;
  const std::vector<uint8_t> answer = EcuFrame(message);
  const KwpRequest request{0x21, 0x01};
  for (auto _ : state) {
    state.PauseTiming();
    port.ClearEvents();
    port.QueueReply(answer);
    state.ResumeTiming();
    benchmark::DoNotOptimize(link.KwpTransaction(request));
  }
}
BENCHMARK(BM_TransactionLiveData);

}  // namespace
