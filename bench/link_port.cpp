// SPDX-License-Identifier: GPL-3.0-or-later
// How closely the Linux serial back-end keeps its read time-outs, and what one frame costs on a
// real tty: a pseudo-terminal whose far side echoes like the K-line adapter.
#ifndef _WIN32

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "link/clock.h"
#include "link/kwp.h"
#include "link/serial_posix.h"

namespace {

using kvd::PosixSerialPort;

// A pseudo-terminal; the master side may run an echoing adapter with a fixed answer.
class BenchPty {
 public:
  BenchPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      return;
    }
    path_ = name;
  }
  ~BenchPty() {
    stop_ = true;
    if (adapter_.joinable()) adapter_.join();
    if (master_ >= 0) close(master_);
  }
  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

  // Echoes every request of requestLength bytes and sends answer after it.
  void RunAdapter(size_t requestLength, std::vector<uint8_t> answer) {
    adapter_ = std::thread([this, requestLength, answer] {
      std::vector<uint8_t> frame;
      uint8_t buf[256];
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return;
        frame.insert(frame.end(), buf, buf + n);
        if (frame.size() < requestLength) continue;
        std::vector<uint8_t> out(frame.begin(), frame.begin() + requestLength);
        out.insert(out.end(), answer.begin(), answer.end());
        frame.erase(frame.begin(), frame.begin() + requestLength);
        if (write(master_, out.data(), out.size()) < 0) return;
      }
    });
  }

 private:
  int master_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread adapter_;
};

bool OpenOn(PosixSerialPort& port, const BenchPty& pty, benchmark::State& state) {
  if (!pty.Ok() || port.OpenDevice(pty.Path()) != kvd::kPortOk ||
      port.SetLineParameters(10400, 8, 0, 1) != kvd::kPortOk) {
    state.SkipWithError("no pseudo-terminal");
    return false;
  }
  return true;
}

// ReadByte with the session's time-outs on a silent line: should take 105 ms.
void BM_ReadByteTimeout105(benchmark::State& state) {
  BenchPty pty;
  PosixSerialPort port;
  if (!OpenOn(port, pty, state)) return;
  port.SetReadTimeouts(0, 5, 100);
  double errorMs = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(port.ReadByte());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    state.SetIterationTime(took.count());
    errorMs += took.count() * 1000.0 - 105.0;
  }
  state.counters["mean_error_ms"] = benchmark::Counter(errorMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ReadByteTimeout105)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

// The 25 ms step of the wake-up: ReadBytes of 256 with a 25 ms constant.
void BM_ReadBytesTimeout25(benchmark::State& state) {
  BenchPty pty;
  PosixSerialPort port;
  if (!OpenOn(port, pty, state)) return;
  port.SetReadTimeouts(0, 0, 25);
  uint8_t buf[256];
  double errorMs = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(port.ReadBytes(256, buf));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    state.SetIterationTime(took.count());
    errorMs += took.count() * 1000.0 - 25.0;
  }
  state.counters["mean_error_ms"] = benchmark::Counter(errorMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ReadBytesTimeout25)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

// One live-data request through the frame layer, the adapter answering at once with 36 bytes.
void BM_LiveDataTransactionOnPty(benchmark::State& state) {
  BenchPty pty;
  PosixSerialPort port;
  if (!OpenOn(port, pty, state)) return;
  port.SetReadTimeouts(0, 5, 100);
  std::vector<uint8_t> answer{0x80, 0xF1, 0x10, 36, 0x61, 0x01};
  answer.resize(4 + 36, 0x22);
  uint32_t sum = 0;
  for (uint8_t b : answer) sum += b;
  answer.push_back(static_cast<uint8_t>(sum));
  pty.RunAdapter(6, answer);
  kvd::RealClock clock;
  kvd::KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  const kvd::KwpRequest request{0x21, 0x01};
  int64_t failures = 0;
  for (auto _ : state) {
    if (link.KwpTransaction(request) != kvd::kKwpPositive) ++failures;
  }
  state.counters["failures"] = benchmark::Counter(static_cast<double>(failures));
}
BENCHMARK(BM_LiveDataTransactionOnPty)->Unit(benchmark::kMicrosecond);

}  // namespace

#endif  // _WIN32
