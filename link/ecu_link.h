// The one transaction interface to the ECU, whatever adapter carries it: a KKL cable (the PC
// makes the wake-up, frames and echo itself) or an ELM327 (the adapter does that work).
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>

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
  kKwpTooLong = -9,        // the adapter cannot send a request this long: nothing was sent
  kKwpAdapterUnfit = -10,  // the adapter lacks what this ECU needs (Refusal() says what)
};

constexpr uint8_t kTesterAddress = 0xF1;

// The link's one shared instance: the port, the clock, and the answer of the last transaction.
// The application owns it and hands it to its users; tests make their own. Not thread-safe:
// one user at a time (the session's PollEnabled rule).
class EcuLink {
 public:
  EcuLink(SerialPort& port, Clock& clock) : port_(port), clock_(clock) {}
  virtual ~EcuLink() = default;
  EcuLink(const EcuLink&) = delete;
  EcuLink& operator=(const EcuLink&) = delete;

  // One request, one answer. A lone StartCommunication (81) wakes the ECU first. headerMode 0
  // chooses the header form; delayMs is slept before each sending.
  virtual int32_t KwpTransaction(const KwpRequest& request, int32_t headerMode = 0,
                                 int32_t delayMs = 0) = 0;
  // Up to five transactions, 0 ms before attempts 1..4 and 150 ms before attempt 5;
  // stops at the first 0; the last result counts.
  int32_t KwpRetry(const KwpRequest& request);

  // InputOutputControlByLocalIdentifier (service 30) with up to five attempts,
  // 50 ms before attempts 1..4 and 150 ms before attempt 5.
  int32_t IoReportCurrentState(uint8_t id);                   // 30 id 01
  int32_t IoReturnControlToEcu(uint8_t id);                   // 30 id 00
  int32_t IoShortTermAdjustment(uint8_t id, uint8_t value);   // 30 id 07 value
  int32_t IoExecuteControlOption(uint8_t id, uint8_t value);  // 30 id 06 value

  // The line settings and read time-outs of a session, set when it opens and before it closes.
  virtual void SetSessionLine() = 0;
  // The longest request (message bytes) this link can send; longer ones end with kKwpTooLong
  // before anything is sent.
  virtual size_t MaxRequestLength() const { return 255; }
  // Why the adapter cannot serve this ECU, after a transaction ended with kKwpAdapterUnfit
  // (a message for the user); empty otherwise.
  virtual std::string Refusal() const { return {}; }
  // The adapter's identity and the battery voltage it measures, for a line of kvd-cli; empty
  // for an adapter that has nothing to tell.
  virtual std::string AdapterInfo() const { return {}; }

  // Every exchange from now on also goes to trace (null: none). The trace must outlive the link
  // or be taken away first.
  void SetTrace(FrameTrace* trace) { trace_ = trace; }
  FrameTrace* Trace() const { return trace_; }

  SerialPort& Port() { return port_; }
  Clock& GetClock() { return clock_; }

  // While set, called after each wait of a transaction; returning false abandons the
  // transaction with kKwpCancelled. Whoever sets it clears it again (ScopedWaitHook).
  std::function<bool()> WaitHook;

  uint8_t TargetAddress = 0;
  std::array<uint8_t, 256> ResponseBuffer{};
  int32_t ResponseDataLength = 0;

 protected:
  // The hook's verdict after a wait: true to go on.
  bool KeepWaiting() const { return !WaitHook || WaitHook(); }

  SerialPort& port_;
  Clock& clock_;
  FrameTrace* trace_ = nullptr;

 private:
  int32_t IoControl(std::initializer_list<uint8_t> message);
};

// Sets the link's WaitHook for the life of a scope and clears it again.
class ScopedWaitHook {
 public:
  ScopedWaitHook(EcuLink& link, std::function<bool()> hook) : link_(link) {
    link_.WaitHook = std::move(hook);
  }
  ~ScopedWaitHook() { link_.WaitHook = nullptr; }
  ScopedWaitHook(const ScopedWaitHook&) = delete;
  ScopedWaitHook& operator=(const ScopedWaitHook&) = delete;

 private:
  EcuLink& link_;
};

}  // namespace kvd
