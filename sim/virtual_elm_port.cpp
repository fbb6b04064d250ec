// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual adapter behind a SerialPort, in the time of a Clock.
#include <algorithm>
#include <limits>

#include "sim/read_deadline.h"
#include "sim/virtual_elm.h"

namespace kvd {

namespace {
constexpr size_t kInputQueueLimit = size_t{1} << 20;
}  // namespace

VirtualElmPort::VirtualElmPort(VirtualEcu& ecu, Clock& clock, ElmOptions options)
    : elm_(ecu, std::move(options)), clock_(clock) {
  // The adapter's own wake-up message is OBD's functional TesterPresent; this ECU family does
  // not listen to the functional address, so the message cannot keep its session alive.
  ecu.Settings().answerFunctional = false;
  ecu.Settings().wakeup = WakeupMode::kBreak;  // the adapter makes a real fast init
}

int32_t VirtualElmPort::OpenPort(uint16_t port) {
  if (open_) return kPortAlreadyOpen;
  if (IsRefusedPortNumber(port)) return kPortNumberRefused;
  return OpenDevice("COM" + std::to_string(port));
}

int32_t VirtualElmPort::OpenDevice(const std::string& path) {
  if (open_) return kPortAlreadyOpen;
  if (path.empty()) return kPortOsRefused;
  if (!powered_) {
    elm_.PowerOn(clock_.MicrosNow());
    powered_ = true;
  }
  open_ = true;
  deviceName_ = path;
  rx_.clear();
  CatchUp();
  rx_.clear();  // what the adapter said before the port was open is gone
  return kPortOk;
}

int32_t VirtualElmPort::SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                          uint8_t /*stopBits*/) {
  if (!open_) return kLineStateUnreadable;
  if (baudRate == 0 || dataBits < 5 || dataBits > 8) return kLineStateRefused;
  baud_ = baudRate;
  dataBits_ = dataBits;
  parity_ = parity;
  return kPortOk;
}

bool VirtualElmPort::RateMatches() const {
  const uint32_t want = elm_.Options().hostBaud;
  return baud_ >= want - want / 50 && baud_ <= want + want / 50 && dataBits_ == 8 && parity_ == 0;
}

bool VirtualElmPort::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
  if (!open_) return false;
  timeouts_.ReadIntervalTimeout = interval;
  timeouts_.ReadTotalTimeoutMultiplier = multiplier;
  timeouts_.ReadTotalTimeoutConstant = constant;
  timeouts_.WriteTotalTimeoutMultiplier = 100;
  timeouts_.WriteTotalTimeoutConstant = 100;
  return true;
}

bool VirtualElmPort::GetTimeouts(SerialTimeouts& out) {
  if (!open_) return false;
  out = timeouts_;
  return true;
}

bool VirtualElmPort::SetBreak(bool /*on*/) {
  return open_;  // the adapter's serial side has no use for a break
}

bool VirtualElmPort::SetModemLines(bool /*dtr*/, bool /*rts*/) {
  return open_;
}

void VirtualElmPort::CatchUp() {
  const uint64_t now = clock_.MicrosNow();
  elm_.Advance(now);
  const bool readable = RateMatches();
  for (const VirtualElm327::TimedByte& b : elm_.TakeOutput(now)) {
    if (open_ && readable && rx_.size() < kInputQueueLimit) rx_.push_back(b);
  }
}

bool VirtualElmPort::PurgePort() {
  if (!open_) return false;
  CatchUp();
  rx_.clear();
  return true;
}

int32_t VirtualElmPort::WriteBytes(uint32_t count, const uint8_t* bytes) {
  if (!open_ || count == 0 || bytes == nullptr) return -1;
  CatchUp();
  if (RateMatches()) elm_.HostWrite(bytes, count, clock_.MicrosNow());
  return 0;
}

int32_t VirtualElmPort::ReadByte() {
  uint8_t b = 0;
  return ReadBytes(1, &b) == 1 ? b : -1;
}

int32_t VirtualElmPort::ReadBytes(uint32_t count, uint8_t* buffer) {
  if (!open_ || count == 0 || buffer == nullptr) return -1;
  const uint64_t start = clock_.MicrosNow();
  const ReadDeadline limit(timeouts_, count, start);
  constexpr uint64_t kNever = ReadDeadline::kNever;

  CatchUp();
  uint32_t got = 0;
  uint64_t lastArrival = start;
  while (got < count) {
    const uint64_t deadline = limit.At(got, lastArrival);
    if (!rx_.empty()) {
      const VirtualElm327::TimedByte b = rx_.front();
      rx_.pop_front();
      buffer[got++] = b.value;
      lastArrival = std::max(b.atUs, start);
      continue;
    }
    // The next thing to happen: a text byte arriving, or the adapter (or the ECU behind it)
    // doing something that may lead to one.
    const uint64_t now = clock_.MicrosNow();
    uint64_t next = elm_.NextEventUs();
    if (const auto out = elm_.NextOutputUs()) next = std::min(next, *out);
    if (next != kNever && next <= deadline) {
      if (next > now) clock_.SleepMicros(next - now);
      CatchUp();
      continue;
    }
    // Nothing more within the time-outs. Without any time-out and with nothing underway the
    // read would block for ever on a real port; here it returns what it has.
    if (deadline != kNever && deadline > now) clock_.SleepMicros(deadline - now);
    CatchUp();
    if (!rx_.empty()) continue;
    break;
  }
  return got > 0 ? static_cast<int32_t>(got) : -1;
}

void VirtualElmPort::ClosePort() {
  if (!open_) return;
  open_ = false;
  rx_.clear();
}

}  // namespace kvd
