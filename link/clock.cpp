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
  SleepMicros(uint64_t{ms} * 1000);
}

// Never shorter than asked: the waits of the line stand for bytes that have crossed it by the
// time the sleep ends. Windows wakes a sleeper early (a wait below its timer's millisecond is
// no wait at all), so what is left is slept again, in whole milliseconds there.
void RealClock::SleepMicros(uint64_t us) {
  if (us == 0) return;
  const int64_t until = SteadyNs() + static_cast<int64_t>(us) * 1000;
  for (int64_t now = SteadyNs(); now < until; now = SteadyNs()) {
    const std::chrono::nanoseconds left(until - now);
#ifdef _WIN32
    std::this_thread::sleep_for(std::chrono::ceil<std::chrono::milliseconds>(left));
#else
    std::this_thread::sleep_for(left);
#endif
  }
}

}  // namespace kvd
