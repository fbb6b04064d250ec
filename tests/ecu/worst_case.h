// The longest time each ECU operation may take when every exchange fails as slowly as the
// link's retries and read time-outs allow. The fault matrix and the soak hold the measured
// virtual time of each operation against these figures.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kvd::test::worst {

// --- the link -------------------------------------------------------------------------------
// Session read time-outs: interval 0, multiplier 5 ms, constant 100 ms. Every ReadByte (the
// echo, the first answer byte and each further one) waits at most multiplier x 1 + constant.
inline constexpr uint64_t kReadMultiplierMs = 5;
inline constexpr uint64_t kReadConstantMs = 100;
inline constexpr uint64_t kByteWaitMs = kReadMultiplierMs * 1 + kReadConstantMs;  // 105
// The wake-up of StartCommunication: 350 ms idle, 25 ms low, 25 ms high, then a 1 ms drain.
inline constexpr uint64_t kWakeUpMs = 350 + 25 + 25 + 1;
// The largest frame either side can send: 4 header bytes, 255 message bytes, the checksum.
inline constexpr uint64_t kMaxFrameBytes = 4 + 255 + 1;
// A transaction sends and receives once, and again for each of up to five busy or pending
// answers it absorbs before the sixth negative answer ends it.
inline constexpr uint64_t kAbsorbedAnswers = 5;
inline constexpr uint64_t kTransactionRounds = 1 + kAbsorbedAnswers;
// KwpRetry and the actuator wrappers: five attempts; the fifth waits 150 ms before sending,
// the first four 0 ms (KwpRetry) or 50 ms (actuator control).
inline constexpr uint64_t kRetryAttempts = 5;
inline constexpr uint64_t kRetryEarlyDelayMs = 0;
inline constexpr uint64_t kIoEarlyDelayMs = 50;
inline constexpr uint64_t kRetryLastDelayMs = 150;

// --- the session ----------------------------------------------------------------------------
inline constexpr uint64_t kConnectAttempts = 10;
inline constexpr uint64_t kAttemptPauseMs = 250;  // after each failed attempt
// Quiet-line wait: reads of 256 bytes (5 x 256 + 100 ms each) until one brings nothing but
// zeros or more than 5000 ms have passed; the read running at 5000 ms still ends.
inline constexpr uint64_t kQuietLimitMs = 5000;
inline constexpr uint64_t kQuietReadMs = kReadMultiplierMs * 256 + kReadConstantMs;  // 1380
inline constexpr uint64_t kStepPauseMs = 200;  // before StartDiagnosticSession, TesterPresent
inline constexpr uint64_t kStartCommDelayMs = 1;
inline constexpr uint64_t kSessionStepDelayMs = 50;
inline constexpr uint64_t kStopDelayMs = 250;  // StopDiagnosticSession, StopCommunication
inline constexpr uint64_t kClearAttempts = 5;
inline constexpr uint64_t kClearDelayMs = 150;  // before every clearing attempt

// Request message lengths.
inline constexpr uint64_t kLiveDataRequest = 2;    // 21 01, 21 03, 21 A0, 1A xx, 21 Ax
inline constexpr uint64_t kDtcRequest = 4;         // 18 00 00 00
inline constexpr uint64_t kClearRequest = 3;       // 14 00 00
inline constexpr uint64_t kMemoryRequest = 5;      // 23 00 hh ll 40
inline constexpr uint64_t kIoReportRequest = 3;    // 30 id 01, 30 id 00
inline constexpr uint64_t kIoSwitchRequest = 4;    // 30 id 06 v, 30 id 07 v
inline constexpr uint64_t kMaxWriteRequest = 255;  // 3B id and the text
inline constexpr uint64_t kIdentReads = 11;
inline constexpr uint64_t kIdentWrites = 5;
inline constexpr uint64_t kLearnBlocks = 4;

// The frame of a message of n bytes: header (3 bytes, or 4 from 64 bytes on) and checksum.
constexpr uint64_t FrameBytes(uint64_t n) {
  return n + (n < 64 ? 3 : 4) + 1;
}

// One KwpTransaction of a request of n message bytes: every round sleeps the delay, wakes the
// ECU if it is StartCommunication, reads the echo of each frame byte and at most a full
// answer frame, each read waiting at most its time-out.
constexpr uint64_t Transaction(uint64_t n, uint64_t delayMs, bool wakeUp = false) {
  return kTransactionRounds *
         (delayMs + (wakeUp ? kWakeUpMs : 0) + (FrameBytes(n) + kMaxFrameBytes) * kByteWaitMs);
}

constexpr uint64_t Retry(uint64_t n, uint64_t earlyDelayMs = kRetryEarlyDelayMs) {
  return (kRetryAttempts - 1) * Transaction(n, earlyDelayMs) + Transaction(n, kRetryLastDelayMs);
}
constexpr uint64_t IoRetry(uint64_t n) {
  return Retry(n, kIoEarlyDelayMs);
}

// Ending the session: StopDiagnosticSession (20) and StopCommunication (82), answers ignored.
constexpr uint64_t StopSession() {
  return 2 * Transaction(1, kStopDelayMs);
}

// One attempt of opening the session: quiet line, StartCommunication with the wake-up,
// StartDiagnosticSession 10 81 0A, TesterPresent 3E 01, each sent once.
constexpr uint64_t OpenSession() {
  return kQuietLimitMs + kQuietReadMs + Transaction(1, kStartCommDelayMs, true) + kStepPauseMs +
         Transaction(3, kSessionStepDelayMs) + kStepPauseMs + Transaction(2, kSessionStepDelayMs);
}

constexpr uint64_t Connect() {
  return kConnectAttempts * (OpenSession() + kAttemptPauseMs);
}

// A poll tick that reads live data (and the ADC channels) and, when that fails, ends the
// session.
constexpr uint64_t LiveDataTick(bool adc) {
  return Retry(kLiveDataRequest) + (adc ? Retry(kLiveDataRequest) : 0) + StopSession();
}
constexpr uint64_t TroubleCodeTick() {
  return Retry(kDtcRequest) + StopSession();
}
// The clear request: five transactions, 150 ms before each; the session stays.
constexpr uint64_t ClearTick() {
  return kClearAttempts * Transaction(kClearRequest, kClearDelayMs);
}
constexpr uint64_t IdentRead() {
  return kIdentReads * Retry(kLiveDataRequest);
}
constexpr uint64_t IdentWrite() {
  return kIdentWrites * Retry(kMaxWriteRequest);
}
constexpr uint64_t OneRead() {  // flags, immobilizer status
  return Retry(kLiveDataRequest);
}
// ECU reset: 11 01; when it succeeds the session ends and is opened anew.
constexpr uint64_t Reset() {
  return Retry(2) + StopSession() + Connect();
}
constexpr uint64_t LearnBank() {
  return kLearnBlocks * Retry(kMemoryRequest);
}
// Selecting an output (report its state) and switching it; a broken link ends the session.
constexpr uint64_t ActuatorSwitch() {
  return IoRetry(kIoReportRequest) + IoRetry(kIoSwitchRequest) + StopSession();
}
// Returning control of `touched` outputs.
constexpr uint64_t ReturnControl(uint64_t touched) {
  return touched * IoRetry(kIoReportRequest);
}

// A figure to check the arithmetic against by hand: one TesterPresent exchange that meets
// five busy answers and then a sixth negative one, every byte arriving at the last moment.
static_assert(Transaction(2, 0) == 6 * (6 + 260) * 105);

// --- through an ELM327 -------------------------------------------------------------------
// The adapter does the line's work; the link waits for its prompt, each wait at most the time
// limit of the command plus one read slice, and before each line at most one wait for a prompt
// still owed (a setting's limit).
namespace elm {
inline constexpr uint64_t kSliceMs = 50;
inline constexpr uint64_t kCommandMs = 1000;  // a setting, ATKW, ATRV, ATPC
inline constexpr uint64_t kResetMs = 3000;    // ATZ, ATWS
inline constexpr uint64_t kInitMs = 5000;     // ATFI, or the request that initialises the bus
inline constexpr uint64_t kRequestMs = 3000;
// The settings of a connect besides the reset and the bus initialisation: E0 L0 S0 H1 AL KW0
// SP5 SH, WM (or SW 00), ST AT, then KW, SH and RV.
inline constexpr uint64_t kSettings = 15;

constexpr uint64_t Command(uint64_t limitMs) {
  return kCommandMs + kSliceMs + limitMs + kSliceMs;
}
// A request and its resendings after busy answers, the delay slept before each.
constexpr uint64_t Transaction(uint64_t delayMs) {
  return kTransactionRounds * (delayMs + Command(kRequestMs));
}
constexpr uint64_t StartCommunication() {
  return kStartCommDelayMs + Command(kResetMs) + kSettings * Command(kCommandMs) +
         Command(kInitMs) + kTransactionRounds * Command(kInitMs);
}
constexpr uint64_t Retry(uint64_t earlyDelayMs = kRetryEarlyDelayMs) {
  return (kRetryAttempts - 1) * Transaction(earlyDelayMs) + Transaction(kRetryLastDelayMs);
}
constexpr uint64_t StopSession() {  // and ATPC after StopCommunication
  return 2 * Transaction(kStopDelayMs) + Command(kCommandMs);
}
constexpr uint64_t OpenSession() {
  return kQuietLimitMs + kQuietReadMs + StartCommunication() + kStepPauseMs +
         Transaction(kSessionStepDelayMs) + kStepPauseMs + Transaction(kSessionStepDelayMs);
}
constexpr uint64_t Connect() {
  return kConnectAttempts * (OpenSession() + kAttemptPauseMs);
}
}  // namespace elm

}  // namespace kvd::test::worst
