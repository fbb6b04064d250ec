// Time for everything that waits: the link, the session, the history.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kvd {

// A millisecond tick counter and a sleep. Every wait of the program goes through one.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; wraps at 2^32 like a system tick counter.
  virtual uint32_t TickCount() = 0;
  // Microseconds since the same origin, for timing finer than a millisecond (byte times on the
  // line).
  virtual uint64_t MicrosNow() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  virtual void SleepMicros(uint64_t us) = 0;
};

// The steady clock of the machine.
class RealClock final : public Clock {
 public:
  RealClock();
  uint32_t TickCount() override;
  uint64_t MicrosNow() override;
  void Sleep(uint32_t ms) override;
  void SleepMicros(uint64_t us) override;

 private:
  int64_t originNs_;
};

// A clock that stands still until somebody sleeps or advances it. Tests run whole
// connect sequences on it in microseconds of real time, with exact line timing.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint64_t startMicros = 0) : nowUs_(startMicros) {}
  uint32_t TickCount() override { return static_cast<uint32_t>(nowUs_ / 1000); }
  uint64_t MicrosNow() override { return nowUs_; }
  void Sleep(uint32_t ms) override { nowUs_ += uint64_t{ms} * 1000; }
  void SleepMicros(uint64_t us) override { nowUs_ += us; }
  void AdvanceMicros(uint64_t us) { nowUs_ += us; }
  void AdvanceMs(uint32_t ms) { nowUs_ += uint64_t{ms} * 1000; }

 private:
  uint64_t nowUs_;
};

}  // namespace kvd
