// SPDX-License-Identifier: GPL-3.0-or-later
// The real clock's sleeps: never shorter than asked, on every system.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "link/clock.h"

namespace kvd {
namespace {

TEST(RealClockTest, SleepsAreNeverShorterThanAsked) {
  RealClock clock;
  // Below, at and above a millisecond: short waits are where a system's timer rounds down.
  for (const uint64_t us : {1u, 150u, 600u, 999u, 1000u, 1001u, 1700u, 4300u}) {
    SCOPED_TRACE(us);
    for (int round = 0; round < 5; ++round) {
      const auto t0 = std::chrono::steady_clock::now();
      const uint64_t c0 = clock.MicrosNow();
      clock.SleepMicros(us);
      const auto slept = std::chrono::steady_clock::now() - t0;
      EXPECT_GE(slept, std::chrono::microseconds(us));
      EXPECT_GE(clock.MicrosNow() - c0, us);
    }
  }
  const uint32_t t0 = clock.TickCount();
  clock.Sleep(3);
  EXPECT_GE(clock.TickCount() - t0, 3u);
}

}  // namespace
}  // namespace kvd
