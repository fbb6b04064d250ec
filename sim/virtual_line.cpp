// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_line.h"

#include <algorithm>
#include <limits>

#include "sim/read_deadline.h"

namespace kvd {

namespace {
// Bytes on their way or waiting for a tester that neither reads nor purges; beyond this they
// are lost, as on an overrun. Far above anything a tester or the noise fault produces.
constexpr size_t kInputQueueLimit = size_t{1} << 20;
}  // namespace

VirtualLine::VirtualLine(VirtualEcu& ecu, Clock& clock) : VirtualLine(ecu, clock, Options{}) {}

VirtualLine::VirtualLine(VirtualEcu& ecu, Clock& clock, Options options)
    : ecu_(ecu), clock_(clock), options_(options) {
  if (!options_.carriesBreak) ecu_.Settings().wakeup = WakeupMode::kIdle;
}

int32_t VirtualLine::OpenPort(uint16_t port) {
  if (open_) return kPortAlreadyOpen;
  if (IsRefusedPortNumber(port)) return kPortNumberRefused;
  return OpenDevice("COM" + std::to_string(port));
}

int32_t VirtualLine::OpenDevice(const std::string& path) {
  if (open_) return kPortAlreadyOpen;
  if (path.empty()) return kPortOsRefused;
  open_ = true;
  deviceName_ = path;
  rx_.clear();
  breakOn_ = false;
  const uint64_t now = clock_.MicrosNow();
  txFreeAtUs_ = std::max(txFreeAtUs_, now);
  ecu_.LineOpened(now);
  CollectTransmissions();
  return kPortOk;
}

int32_t VirtualLine::SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                       uint8_t stopBits) {
  if (!open_) return kLineStateUnreadable;
  if (baudRate == 0 || dataBits < 5 || dataBits > 8) return kLineStateRefused;
  baud_ = baudRate;
  dataBits_ = dataBits;
  parity_ = parity;
  stopBits_ = stopBits;
  rts_ = true;
  dtr_ = false;
  return kPortOk;
}

bool VirtualLine::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  if (!open_) return false;
  timeouts_.ReadIntervalTimeout = interval;
  timeouts_.ReadTotalTimeoutMultiplier = multiplier;
  timeouts_.ReadTotalTimeoutConstant = constant;
  timeouts_.WriteTotalTimeoutMultiplier = 100;
  timeouts_.WriteTotalTimeoutConstant = 100;
  return true;
}

bool VirtualLine::GetTimeouts(SerialTimeouts& out) {
  if (!open_) return false;
  out = timeouts_;
  return true;
}

bool VirtualLine::SetModemLines(bool dtr, bool rts) {
  if (!open_) return false;
  rts_ = rts;
  dtr_ = dtr;
  return true;
}

bool VirtualLine::LineUsable() const {
  // The ECU understands 10400 baud (within 2 %), 8 data bits, no parity.
  const uint32_t lo = kKLineBaud - kKLineBaud / 50;
  const uint32_t hi = kKLineBaud + kKLineBaud / 50;
  return baud_ >= lo && baud_ <= hi && dataBits_ == 8 && parity_ == 0;
}

void VirtualLine::Queue(uint64_t atUs, uint8_t value) {
  if (rx_.size() >= kInputQueueLimit) return;
  auto it = std::upper_bound(rx_.begin(), rx_.end(), atUs,
                             [](uint64_t t, const TimedByte& b) { return t < b.atUs; });
  rx_.insert(it, TimedByte{atUs, value});
}

void VirtualLine::CollectTransmissions() {
  for (const EcuTransmission& t : ecu_.TakeTransmissions()) {
    for (size_t k = 0; k < t.bytes.size(); ++k) Queue(ByteEndMicros(t.startUs, k), t.bytes[k]);
  }
}

void VirtualLine::CatchUp() {
  ecu_.Advance(clock_.MicrosNow());
  CollectTransmissions();
}

bool VirtualLine::SetBreak(bool on) {
  if (!open_) return false;
  if (!options_.carriesBreak) return true;  // like a pseudo-terminal: accepted, no effect
  const uint64_t now = clock_.MicrosNow();
  if (on && !breakOn_) {
    breakOn_ = true;
    breakStartUs_ = std::max(now, txFreeAtUs_);
    // The tester's own receiver sees the low line as a zero byte with a framing error.
    if (ecu_.Echoes()) Queue(ByteEndMicros(breakStartUs_, 0, baud_), 0x00);
  } else if (!on && breakOn_) {
    breakOn_ = false;
    const uint64_t end = std::max(now, breakStartUs_);
    txFreeAtUs_ = std::max(txFreeAtUs_, end);
    ecu_.TesterBreak(breakStartUs_, end);
    CollectTransmissions();
  }
  return true;
}

bool VirtualLine::PurgePort() {
  if (!open_) return false;
  CatchUp();
  const uint64_t now = clock_.MicrosNow();
  while (!rx_.empty() && rx_.front().atUs <= now) rx_.pop_front();
  return true;
}

int32_t VirtualLine::WriteBytes(uint32_t count, const uint8_t* bytes) {
  if (!open_ || count == 0 || bytes == nullptr) return -1;
  if (breakOn_) return 0;  // the line is held low: nothing gets through
  CatchUp();
  // Bits per byte in tenths: start bit, data bits, parity bit, stop bits (1, 2 or 1.5).
  const uint32_t stopTenths = stopBits_ == 1 ? 10 : (stopBits_ == 2 ? 20 : 15);
  const uint64_t tenths = 10 * (1 + uint64_t{dataBits_} + (parity_ != 0 ? 1 : 0)) + stopTenths;
  const uint64_t base = std::max(clock_.MicrosNow(), txFreeAtUs_);
  const bool usable = LineUsable();
  uint64_t end = base;
  // The echo of the last bytes may get lost in the adapter (a fault switch of the ECU's line).
  const uint32_t echoed = count - std::min(count, ecu_.Faults().lostEchoBytes);
  for (uint32_t i = 0; i < count; ++i) {
    end = base + ((i + 1) * tenths * 100'000 + baud_ / 2) / baud_;
    if (ecu_.Echoes() && i < echoed) Queue(end, bytes[i]);
    if (usable) ecu_.TesterByte(bytes[i], end);
  }
  txFreeAtUs_ = end;
  CollectTransmissions();
  return 0;
}

int32_t VirtualLine::ReadByte() {
  uint8_t b = 0;
  return ReadBytes(1, &b) == 1 ? b : -1;
}

int32_t VirtualLine::ReadBytes(uint32_t count, uint8_t* buffer) {
  if (!open_ || count == 0 || buffer == nullptr) return -1;
  const uint64_t start = clock_.MicrosNow();
  const ReadDeadline limit(timeouts_, count, start);
  constexpr uint64_t kNever = ReadDeadline::kNever;

  CatchUp();
  uint32_t got = 0;
  uint64_t lastArrival = start;
  while (got < count) {
    const uint64_t deadline = limit.At(got, lastArrival);
    // The ECU may put something on the line of its own accord before then (a session that
    // times out, with the noise fault): wait until that moment and let it.
    const uint64_t ecuAt = ecu_.NextDeadlineUs();
    const uint64_t nowUs = clock_.MicrosNow();
    if (ecuAt > nowUs && ecuAt < deadline && (rx_.empty() || rx_.front().atUs > ecuAt)) {
      clock_.SleepMicros(ecuAt - nowUs);
      CatchUp();
      continue;
    }
    if (!rx_.empty() && rx_.front().atUs <= deadline) {
      const TimedByte b = rx_.front();
      const uint64_t now = clock_.MicrosNow();
      if (b.atUs > now) clock_.SleepMicros(b.atUs - now);
      rx_.pop_front();
      buffer[got++] = b.value;
      lastArrival = std::max(b.atUs, start);
      continue;
    }
    // Nothing more within the time-outs. Without any time-out and with nothing underway the
    // read would block for ever on a real port; here it returns what it has.
    if (deadline != kNever) {
      const uint64_t now = clock_.MicrosNow();
      if (deadline > now) clock_.SleepMicros(deadline - now);
    }
    break;
  }
  return got > 0 ? static_cast<int32_t>(got) : -1;
}

void VirtualLine::ClosePort() {
  if (!open_) return;
  dtr_ = false;
  rts_ = false;
  breakOn_ = false;
  open_ = false;
  rx_.clear();
}

}  // namespace kvd
