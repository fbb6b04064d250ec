// SPDX-License-Identifier: GPL-3.0-or-later
// Live data as fast as the link carries it, in real time on pseudo-terminals served by
// kvd-ecu-sim: through the KKL link to the virtual ECU, and through the ELM327 link to the virtual
// ECU behind a virtual ELM327 (38400 baud). Both run in the same process, in turns, and the
// benchmark prints the two rates (records per second, medians of the turns) and their ratio.
#ifndef _WIN32

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data/history.h"
#include "link/clock.h"
#include "link/elm_link.h"
#include "link/kwp.h"
#include "link/serial_posix.h"
#include "tests/sim/sim_child.h"

namespace {

constexpr double kTurnSeconds = 3.0;
constexpr int kTurns = 3;

// A link with an open session on a port, ready for live data.
struct Tester {
  kvd::RealClock clock;
  kvd::PosixSerialPort port;
  std::unique_ptr<kvd::EcuLink> link;
  kvd::HistoryStore history{clock};

  bool Open(const std::string& path, bool elm) {
    if (elm)
      link = std::make_unique<kvd::ElmLink>(port, clock);
    else
      link = std::make_unique<kvd::KwpLink>(port, clock);
    if (port.OpenDevice(path) != kvd::kPortOk) return false;
    link->SetSessionLine();
    link->TargetAddress = 0x10;
    return link->KwpTransaction(kvd::KwpRequest{0x81}, 0, 1) == kvd::kKwpPositive &&
           link->KwpTransaction(kvd::KwpRequest{0x10, 0x81, 0x0A}, 0, 50) == kvd::kKwpPositive;
  }
  // Live-data records per second over one turn, back to back as the link allows.
  double Turn() {
    const auto start = std::chrono::steady_clock::now();
    int records = 0;
    std::chrono::duration<double> took{};
    while ((took = std::chrono::steady_clock::now() - start).count() < kTurnSeconds) {
      if (link->KwpRetry(kvd::KwpRequest{0x21, 0x01}) != kvd::kKwpPositive) continue;
      history.Append(link->ResponseBuffer.data());
      ++records;
    }
    return records / took.count();
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_LiveDataKklAgainstElm327(benchmark::State& state) {
  kvd::SimProcess kklSim({});
  kvd::SimProcess elmSim({"--adapter", "elm327"});
  Tester kkl, elm;
  if (!kkl.Open(kklSim.Path(), false) || !elm.Open(elmSim.Path(), true)) {
    state.SkipWithError("kvd-ecu-sim could not be reached on a pseudo-terminal");
    return;
  }
  std::vector<double> kklRates, elmRates;
  for (auto _ : state) {
    for (int i = 0; i < kTurns; ++i) {
      kklRates.push_back(kkl.Turn());
      elmRates.push_back(elm.Turn());
    }
  }
  const double k = Median(kklRates), e = Median(elmRates);
  state.counters["kkl_records_per_s"] = k;
  state.counters["elm327_records_per_s"] = e;
  state.counters["elm327_to_kkl"] = k > 0 ? e / k : 0;
  std::printf(
      "live data, records/s (median of %d turns of %.0f s): KKL %.1f, ELM327 %.1f, "
      "ELM327/KKL %.2f\n",
      kTurns, kTurnSeconds, k, e, k > 0 ? e / k : 0.0);
}
BENCHMARK(BM_LiveDataKklAgainstElm327)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

#endif  // _WIN32
