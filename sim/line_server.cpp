// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of the line server that do not depend on the system: the pacing of the bytes.
#include <algorithm>

#include "sim/line_server.h"

namespace kvd {

EcuLineServer::EcuLineServer(VirtualEcu& ecu, Clock& clock, bool echo)
    : ecu_(ecu), clock_(clock), echo_(echo) {
  // Neither a pseudo-terminal nor a plain serial device shows the break of a fast init.
  ecu_.Settings().wakeup = WakeupMode::kIdle;
}

void EcuLineServer::Queue(uint64_t atUs, uint8_t value) {
  auto it = std::upper_bound(out_.begin(), out_.end(), atUs,
                             [](uint64_t t, const TimedByte& b) { return t < b.atUs; });
  out_.insert(it, TimedByte{atUs, value});
}

void EcuLineServer::Collect() {
  for (const EcuTransmission& t : ecu_.TakeTransmissions()) {
    for (size_t k = 0; k < t.bytes.size(); ++k) {
      // A real UART paces a frame by itself: hand it over at its start. A pseudo-terminal
      // would deliver it at once, so each byte leaves when it has crossed the line.
      Queue(pty_ ? ByteEndMicros(t.startUs, k) : t.startUs, t.bytes[k]);
    }
  }
}

void EcuLineServer::Receive(const uint8_t* bytes, size_t n) {
  const uint64_t base = std::max(clock_.MicrosNow(), wireFreeUs_);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t end = ByteEndMicros(base, i);
    if (echo_ && ecu_.Echoes()) Queue(end, bytes[i]);
    ecu_.TesterByte(bytes[i], end);
    wireFreeUs_ = end;
  }
  Collect();
}

std::vector<uint8_t> EcuLineServer::TakeDue(uint64_t nowUs) {
  std::vector<uint8_t> due;
  while (!out_.empty() && out_.front().atUs <= nowUs) {
    due.push_back(out_.front().value);
    out_.pop_front();
  }
  return due;
}

uint32_t EcuLineServer::WaitMs(uint64_t nowUs) const {
  if (out_.empty()) return 100;
  const uint64_t wait = out_.front().atUs > nowUs ? out_.front().atUs - nowUs : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(100, (wait + 999) / 1000));
}

}  // namespace kvd
