// The read time-outs of a port, with the meaning the Windows serial driver gives them, as
// deadlines on the microsecond clock of a simulated line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "link/serial_port.h"

namespace kvd {

class ReadDeadline {
 public:
  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
  static constexpr uint32_t kNoWait = 0xFFFFFFFF;  // MAXDWORD as read interval: return at once

  // A read of count bytes that starts at startUs.
  ReadDeadline(const SerialTimeouts& t, uint32_t count, uint64_t startUs) {
    const uint32_t interval = t.ReadIntervalTimeout;
    const uint32_t mult = t.ReadTotalTimeoutMultiplier;
    const uint32_t constant = t.ReadTotalTimeoutConstant;
    if (interval == kNoWait && mult == 0 && constant == 0) {
      total_ = startUs;  // only what has arrived already
    } else if (mult != 0 || constant != 0) {
      total_ = startUs + (uint64_t{mult} * count + constant) * 1000;
    }
    if (interval != 0 && interval != kNoWait) intervalUs_ = uint64_t{interval} * 1000;
  }

  // When the read ends if nothing more arrives, once got bytes have come, the last at lastUs.
  uint64_t At(uint32_t got, uint64_t lastUs) const {
    if (intervalUs_ == 0 || got == 0) return total_;
    return std::min(total_, lastUs + intervalUs_);
  }

 private:
  uint64_t total_ = kNever;
  uint64_t intervalUs_ = 0;  // 0: no interval limit
};

}  // namespace kvd
