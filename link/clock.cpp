// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/clock.h"

#include <chrono>
#include <thread>

namespace kvd {

namespace {
int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

RealClock::RealClock() : originNs_(SteadyNs()) {}

uint32_t RealClock::TickCount() {
  return static_cast<uint32_t>(MicrosNow() / 1000);
}

uint64_t RealClock::MicrosNow() {
  return static_cast<uint64_t>((SteadyNs() - originNs_) / 1000);
}

void RealClock::Sleep(uint32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RealClock::SleepMicros(uint64_t us) {
  if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace kvd
