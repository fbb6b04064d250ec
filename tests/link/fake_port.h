// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted serial port on the virtual clock. It records every operation with the clock time
// at which it happened, echoes what is written (as the K-line does) and then plays the next
// scripted answer. Reads that find nothing wait out their time-out on the virtual clock, with
// the meaning the Windows driver gives the time-outs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"

namespace kvd::test {

class FakePort final : public SerialPort {
 public:
  enum class Kind { Purge, Write, Break, SetTimeouts, GetTimeouts, ReadByte, ReadBytes };

  struct Event {
    Kind kind = Kind::Purge;
    uint64_t atUs = 0;
    std::vector<uint8_t> bytes;  // Write: what was written; reads: what was returned
    bool on = false;             // Break: held (true) or released
    SerialTimeouts timeouts;     // SetTimeouts: the new values
    int32_t result = 0;          // reads: the result returned
  };

  static constexpr size_t kFullEcho = std::numeric_limits<size_t>::max();

  // What the far end does after one write: echo the first echoCount bytes, then send answer
  // answerDelayMs after the write.
  struct Reply {
    std::vector<uint8_t> answer;
    size_t echoCount = kFullEcho;
    uint32_t answerDelayMs = 5;
  };

  explicit FakePort(VirtualClock& clock) : clock_(clock) {}

  // Scripts the answer to the next write that has no answer yet.
  void QueueReply(std::vector<uint8_t> answer, size_t echoCount = kFullEcho,
                  uint32_t answerDelayMs = 5) {
    replies_.push_back(Reply{std::move(answer), echoCount, answerDelayMs});
  }
  // Bytes that arrive at the port now, written by nobody (line noise, a late answer).
  void Inject(const std::vector<uint8_t>& bytes, uint32_t afterMs = 0) {
    for (uint8_t b : bytes) input_.push_back({clock_.MicrosNow() + afterMs * uint64_t{1000}, b});
  }

  // Time one byte takes on the wire, for the echo and the answer (0 = all at once).
  uint64_t byteTimeUs = 0;
  bool getTimeoutsFails = false;
  bool echoWithoutReply = true;  // a write with no scripted reply still gets its echo

  const std::vector<Event>& Events() const { return events_; }
  std::vector<Event> EventsOf(Kind kind) const {
    std::vector<Event> out;
    for (const Event& e : events_)
      if (e.kind == kind) out.push_back(e);
    return out;
  }
  std::vector<std::vector<uint8_t>> Writes() const {
    std::vector<std::vector<uint8_t>> out;
    for (const Event& e : EventsOf(Kind::Write)) out.push_back(e.bytes);
    return out;
  }
  size_t PendingInput() const { return input_.size(); }
  size_t UnusedReplies() const { return replies_.size(); }
  const SerialTimeouts& CurrentTimeouts() const { return timeouts_; }
  bool BreakHeld() const { return breakOn_; }
  void ClearEvents() { events_.clear(); }

  // SerialPort
  int32_t OpenPort(uint16_t port) override {
    if (open_) return kPortAlreadyOpen;
    if (IsRefusedPortNumber(port)) return kPortNumberRefused;
    open_ = true;
    name_ = "fake" + std::to_string(port);
    return kPortOk;
  }
  int32_t OpenDevice(const std::string& path) override {
    if (open_) return kPortAlreadyOpen;
    open_ = true;
    name_ = path;
    return kPortOk;
  }
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return name_; }
  int32_t SetLineParameters(uint32_t, uint8_t, uint8_t, uint8_t) override { return kPortOk; }

  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) override {
    timeouts_ = SerialTimeouts{interval, multiplier, constant, 100, 100};
    Event e = Stamp(Kind::SetTimeouts);
    e.timeouts = timeouts_;
    events_.push_back(e);
    return true;
  }
  bool GetTimeouts(SerialTimeouts& out) override {
    events_.push_back(Stamp(Kind::GetTimeouts));
    if (getTimeoutsFails) return false;
    out = timeouts_;
    return true;
  }
  bool SetBreak(bool on) override {
    breakOn_ = on;
    Event e = Stamp(Kind::Break);
    e.on = on;
    events_.push_back(e);
    return true;
  }
  bool SetModemLines(bool, bool) override { return true; }
  bool PurgePort() override {
    events_.push_back(Stamp(Kind::Purge));
    // Only what has already arrived is dropped; the far end keeps talking.
    const uint64_t now = clock_.MicrosNow();
    std::deque<Pending> later;
    for (const Pending& p : input_)
      if (p.atUs > now) later.push_back(p);
    input_ = std::move(later);
    return true;
  }

  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override {
    const uint64_t now = clock_.MicrosNow();
    Event e = Stamp(Kind::Write);
    e.bytes.assign(bytes, bytes + count);
    events_.push_back(e);
    if (count == 0) return -1;
    Reply reply;
    const bool scripted = !replies_.empty();
    if (scripted) {
      reply = std::move(replies_.front());
      replies_.pop_front();
    } else if (!echoWithoutReply) {
      reply.echoCount = 0;
    }
    const size_t echo = std::min<size_t>(reply.echoCount, count);
    uint64_t t = now;
    for (size_t i = 0; i < echo; ++i) {
      t += byteTimeUs;
      input_.push_back({t, bytes[i]});
    }
    t = std::max(t, now + reply.answerDelayMs * uint64_t{1000});
    for (uint8_t b : reply.answer) {
      t += byteTimeUs;
      input_.push_back({t, b});
    }
    return 0;
  }

  int32_t ReadByte() override {
    uint8_t b = 0;
    const int32_t n = Read(1, &b);
    Event e = Stamp(Kind::ReadByte);
    e.result = n == 1 ? b : -1;
    if (n == 1) e.bytes.push_back(b);
    events_.push_back(e);
    return n == 1 ? b : -1;
  }
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override {
    const int32_t n = Read(count, buffer);
    Event e = Stamp(Kind::ReadBytes);
    e.result = n;
    if (n > 0) e.bytes.assign(buffer, buffer + n);
    events_.push_back(e);
    return n;
  }
  void ClosePort() override { open_ = false; }

 private:
  Event Stamp(Kind kind) const {
    Event e;
    e.kind = kind;
    e.atUs = clock_.MicrosNow();
    return e;
  }

  struct Pending {
    uint64_t atUs;
    uint8_t byte;
  };

  // A read ends when count bytes are in, when the total time-out has passed, or when the
  // gap after a byte exceeds the interval. All three zero: take what is there and return.
  int32_t Read(uint32_t count, uint8_t* buffer) {
    const uint64_t start = clock_.MicrosNow();
    const bool immediate = timeouts_.ReadIntervalTimeout == 0 &&
                           timeouts_.ReadTotalTimeoutMultiplier == 0 &&
                           timeouts_.ReadTotalTimeoutConstant == 0;
    const uint64_t totalMs =
        uint64_t{timeouts_.ReadTotalTimeoutMultiplier} * count + timeouts_.ReadTotalTimeoutConstant;
    const bool totalLimited =
        timeouts_.ReadTotalTimeoutMultiplier != 0 || timeouts_.ReadTotalTimeoutConstant != 0;
    const uint64_t totalDeadline = immediate      ? start
                                   : totalLimited ? start + totalMs * 1000
                                                  : std::numeric_limits<uint64_t>::max();
    uint64_t deadline = totalDeadline;
    uint32_t got = 0;
    uint64_t now = start;
    while (got < count) {
      if (got > 0 && timeouts_.ReadIntervalTimeout != 0) {
        deadline = std::min(totalDeadline, now + uint64_t{timeouts_.ReadIntervalTimeout} * 1000);
      }
      if (input_.empty() || input_.front().atUs > deadline) {
        if (deadline == std::numeric_limits<uint64_t>::max()) break;  // would block forever
        now = std::max(now, deadline);
        break;
      }
      now = std::max(now, input_.front().atUs);
      buffer[got++] = input_.front().byte;
      input_.pop_front();
    }
    if (now > clock_.MicrosNow()) clock_.AdvanceMicros(now - clock_.MicrosNow());
    return got == 0 ? -1 : static_cast<int32_t>(got);
  }

  VirtualClock& clock_;
  std::deque<Reply> replies_;
  std::deque<Pending> input_;
  std::vector<Event> events_;
  SerialTimeouts timeouts_;
  bool breakOn_ = false;
  bool open_ = false;
  std::string name_;
};

// Appends the byte-sum checksum to raw frame bytes.
inline std::vector<uint8_t> WithSum(std::vector<uint8_t> f) {
  uint32_t sum = 0;
  for (uint8_t b : f) sum += b;
  f.push_back(static_cast<uint8_t>(sum));
  return f;
}

// A frame as the ECU sends it: header 80+L, F1, 10 (addressed to the tester), message, sum.
inline std::vector<uint8_t> EcuFrame(std::vector<uint8_t> message) {
  std::vector<uint8_t> f;
  f.reserve(message.size() + 4);
  f.push_back(static_cast<uint8_t>(0x80 | message.size()));
  f.push_back(0xF1);
  f.push_back(0x10);
  for (uint8_t b : message) f.push_back(b);
  return WithSum(std::move(f));
}

}  // namespace kvd::test
