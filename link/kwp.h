// KWP2000 (ISO 14230) frame transaction over the K-line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>

#include "link/clock.h"
#include "link/serial_port.h"

namespace kvd {

class FrameTrace;

// A request: Length message bytes, Message[0] being the service identifier.
struct KwpRequest {
  uint8_t Length = 0;
  std::array<uint8_t, 255> Message{};

  KwpRequest() = default;
  KwpRequest(std::initializer_list<uint8_t> message);
  explicit KwpRequest(std::span<const uint8_t> message);
  // From the length-prefixed form: bytes[0] = n, then n message bytes.
  static KwpRequest FromPrefixed(const uint8_t* bytes);
  uint8_t ServiceId() const { return Message[0]; }
};

// Result codes of KwpTransaction.
enum : int32_t {
  kKwpPositive = 0,        // first message byte = service id XOR 40
  kKwpNegative = 1,        // 7F with a code other than 21, 77, 78
  kKwpUnexpected = 2,      // neither negative nor the positive answer to this service
  kKwpBadChecksum = 3,     // checksum of the received frame wrong
  kKwpTooManyBusy = 4,     // sixth negative answer after five busy/pending ones
  kKwpNoResponse = -1,     // first byte did not arrive in time
  kKwpBadHeaderMode = -2,  // header mode outside 0..4
  kKwpEchoMissing = -3,    // a sent byte did not come back
  kKwpHeader80Short = -5,  // target, source or length byte of form 80 missing
  kKwpBodyShort = -6,      // message or checksum byte missing
  kKwpHeader00Short = -7,  // length byte of form 00 missing
  kKwpCancelled = -8,      // the caller's WaitHook asked to stop waiting
};

constexpr uint8_t kTesterAddress = 0xF1;

// The link's one shared instance: the port, the clock, and the buffers of the last
// frame sent and received. The application owns it and hands it to its users; tests
// make their own. Not thread-safe: one user at a time (the session's PollEnabled rule).
class KwpLink {
 public:
  KwpLink(SerialPort& port, Clock& clock) : port_(port), clock_(clock) {}

  // One request, one answer. headerMode 0 chooses the form (2 below 64 bytes, 4 from
  // 64 on); delayMs is slept after the purge before each sending.
  int32_t KwpTransaction(const KwpRequest& request, int32_t headerMode = 0, int32_t delayMs = 0);
  // Up to five transactions, 0 ms before attempts 1..4 and 150 ms before attempt 5;
  // stops at the first 0; the last result counts.
  int32_t KwpRetry(const KwpRequest& request);

  // InputOutputControlByLocalIdentifier (service 30) with up to five attempts,
  // 50 ms before attempts 1..4 and 150 ms before attempt 5.
  int32_t IoReportCurrentState(uint8_t id);                   // 30 id 01
  int32_t IoReturnControlToEcu(uint8_t id);                   // 30 id 00
  int32_t IoShortTermAdjustment(uint8_t id, uint8_t value);   // 30 id 07 value
  int32_t IoExecuteControlOption(uint8_t id, uint8_t value);  // 30 id 06 value

  // Builds the frame of a request into out (header, message, checksum); returns its
  // length, or 0 for a header mode outside 1..4. Mode 0 chooses automatically.
  static size_t BuildFrame(const KwpRequest& request, int32_t headerMode, uint8_t target,
                           uint8_t* out);

  // Every frame, break, time-out and result from now on also goes to trace (null: none). The
  // trace must outlive the link or be taken away first.
  void SetTrace(FrameTrace* trace) { trace_ = trace; }
  FrameTrace* Trace() const { return trace_; }

  SerialPort& Port() { return port_; }
  Clock& GetClock() { return clock_; }

  // While set, called after each wait of a transaction (the delay before sending, the idle
  // time of the wake-up, every echo and answer byte); returning false abandons the transaction
  // with kKwpCancelled. The break, the idle time after it, the frame and the drain after the
  // wake-up's echo are never interrupted, so the wake-up keeps its timing. Whoever sets it
  // clears it again (ScopedWaitHook).
  std::function<bool()> WaitHook;

  uint8_t TargetAddress = 0;
  std::array<uint8_t, 264> RequestFrame{};
  size_t RequestFrameLength = 0;
  std::array<uint8_t, 264> ResponseFrame{};
  std::array<uint8_t, 256> ResponseBuffer{};
  int32_t ResponseDataLength = 0;

 private:
  // The hook's verdict after a wait: true to go on.
  bool KeepWaiting() const { return !WaitHook || WaitHook(); }
  int32_t IoControl(std::initializer_list<uint8_t> message);
  int32_t Transact(const KwpRequest& request, int32_t headerMode, int32_t delayMs);
  // A timing read of the wake-up: whatever arrives is thrown away (and traced).
  void DiscardRead(uint8_t* scratch);

  SerialPort& port_;
  Clock& clock_;
  FrameTrace* trace_ = nullptr;
};

// Sets the link's WaitHook for the life of a scope and clears it again.
class ScopedWaitHook {
 public:
  ScopedWaitHook(KwpLink& link, std::function<bool()> hook) : link_(link) {
    link_.WaitHook = std::move(hook);
  }
  ~ScopedWaitHook() { link_.WaitHook = nullptr; }
  ScopedWaitHook(const ScopedWaitHook&) = delete;
  ScopedWaitHook& operator=(const ScopedWaitHook&) = delete;

 private:
  KwpLink& link_;
};

}  // namespace kvd
