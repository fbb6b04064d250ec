// The virtual J5E2 engine control unit: a KWP2000 peer on the far end of a K-line.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/engine_model.h"

namespace kvd {

// Address of the ECU on the K-line and the functional address it also listens to.
constexpr uint8_t kEcuAddress = 0x10;
constexpr uint8_t kEcuFunctionalAddress = 0x33;

constexpr uint32_t kKLineBaud = 10400;
// The line stays quiet at least this long after an answer before anything else is sent: a
// tester keeps listening for further frames up to P2max (50 ms) after a frame has ended, and
// noise in that gap would be taken for (or spoil) an answer.
constexpr uint32_t kQuietAfterAnswerMs = 80;
constexpr uint32_t kKLineBitsPerByte = 10;  // start bit, 8 data bits, stop bit

// End time of byte `index` (0-based) of a run of bytes sent back to back from startUs.
uint64_t ByteEndMicros(uint64_t startUs, size_t index, uint32_t baud = kKLineBaud,
                       uint32_t bitsPerByte = kKLineBitsPerByte);

// How the ECU recognises that a tester wants to talk to it.
enum class WakeupMode : uint8_t {
  kBreak,  // fast init: >= 300 ms idle, line held low about 25 ms, then StartCommunication
  kIdle,   // lines that carry no break (a pseudo-terminal): StartCommunication after an idle line
};

// Switchable faults, all off by default. They may be changed at any time between requests.
struct EcuFaults {
  bool unplugged = false;       // nothing at all comes back: no echo, no answer
  int32_t answerLimit = -1;     // silent once this many frames were sent in all (-1: never)
  bool badChecksum = false;     // every answer carries a checksum off by one
  bool truncated = false;       // every answer loses its checksum byte
  uint32_t busyAnswers = 0;     // this many 7F sid 21 answers before each real one
  uint32_t pendingAnswers = 0;  // this many 7F sid 78 answers before each real one
  bool pendingOnly = false;     // ... and then the real one never comes
  bool wrongKeyBytes = false;   // StartCommunication answered C1 EF 8F
  bool shortLiveData = false;   // 21 01 answered with 35 message bytes instead of 36
  bool shortMemRead = false;    // 23 answered with only half of the bytes asked for
  bool wrongService = false;    // positive answers carry the service byte of another service
  int32_t refuseService = -1;   // this service id is refused (-1: none)
  int32_t refuseId = -1;        // ... only when its first parameter byte is this (-1: any)
  uint8_t refuseCode = 0x22;    // response code of the refusal; 0 refuses by not answering
  // A burst of this many noise bytes (never zero) when a tester opens the line and after each
  // session (closed by StopCommunication or ECUReset, or timed out), before the next wake-up.
  // It starts no sooner than kQuietAfterAnswerMs after the ECU's last answer.
  uint32_t noiseBytes = 0;
  // ReadDTCByStatus reports these codes (in this order, 0000 included, status E0) instead of
  // the stored ones when not empty.
  std::vector<uint16_t> dtcAnswerCodes;
  // ReadDTCByStatus carries this count byte whatever number of codes follows (-1: the number).
  int32_t dtcCountByte = -1;
  // The adapter loses the echo of the last this-many bytes of every write; the ECU still
  // hears the whole request.
  uint32_t lostEchoBytes = 0;
  // The plug comes out while the next answer is on the wire: only this many of its bytes
  // arrive, then the line is dead (unplugged is set; -1: never).
  int32_t pullPlugAfterBytes = -1;
  // A spike on the wire: one byte of every answer after its first one arrives garbled.
  bool noisyAnswers = false;
};

// The header form of the ECU's answers (the target is the tester that asked, the source the
// ECU).
enum class AnswerHeader : uint8_t {
  kAddress,  // 80+L, target, source; from 64 message bytes on 80, target, source, L
  k80,       // 80, target, source, L
  k00,       // 00, L
  kShort,    // L alone; from 64 message bytes on, which it cannot tell, 00, L
  kRotate,   // the four forms above in turn, one answer each
};

struct EcuSettings {
  uint32_t p2Ms = 25;       // delay between the end of a request and the start of its answer
  uint32_t p3MaxMs = 5000;  // the session ends after this long without a request
  WakeupMode wakeup = WakeupMode::kBreak;
  uint32_t minIdleMs = 300;       // idle line required before the wake-up
  uint32_t minLowMs = 20;         // accepted length of the wake-up low pulse
  uint32_t maxLowMs = 45;         // (room for a late sleep on the real clock)
  uint32_t wakeupWindowMs = 300;  // StartCommunication must begin this soon after the pulse
  // Configuration flags (live-data bytes 2 and 3): by default oxygen sensor, canister, knock
  // sensor, phase sensor, idle set point adaptation; throttle zero adaptation, asynchronous
  // fuel at start, permanent error storage, speed sensor, asynchronous injection on
  // acceleration. Immobilizer status (byte 3 of 21 A0): by default start allowed, immobilizer
  // functions active.
  std::array<uint8_t, 2> configFlags{0xAB, 0x5E};
  uint8_t immoStatus = 0xA0;
  AnswerHeader answerHeader = AnswerHeader::kAddress;
  // Requests to the functional address are answered like physical ones. When false they are
  // heard (FunctionalHeard counts them) and ignored.
  bool answerFunctional = true;
};

// One frame the ECU puts on the line; byte k ends at ByteEndMicros(startUs, k).
struct EcuTransmission {
  uint64_t startUs = 0;
  std::vector<uint8_t> bytes;
};

// A frame as seen on the line, for the verbose log of the tools and for tests.
struct EcuFrameEvent {
  uint64_t atUs = 0;
  bool fromTester = false;  // true: a request heard by the ECU; false: an answer sent
  std::vector<uint8_t> frame;
  std::string note;  // why a request was ignored, or what an answer is ("busy", "noise", ...)
};

// A trouble code held in the ECU's memory.
struct StoredTroubleCode {
  uint16_t code = 0;
  uint8_t status = 0;
};

// The ECU. Passive: the line hands it time-stamped events (bytes and breaks from the tester)
// and takes the frames it wants to send. Times are microseconds of the line's clock and must
// not go backwards. The engine behind it runs on the same time.
class VirtualEcu {
 public:
  explicit VirtualEcu(EcuSettings settings = {}, uint32_t seed = 1);

  EcuSettings& Settings() { return settings_; }
  EcuFaults& Faults() { return faults_; }
  const EcuSettings& Settings() const { return settings_; }
  const EcuFaults& Faults() const { return faults_; }

  // The tester's side opened the line (noise fault: a burst follows).
  void LineOpened(uint64_t atUs);
  // A byte from the tester, completely received at endUs.
  void TesterByte(uint8_t value, uint64_t endUs);
  // The tester held the line low from startUs to endUs.
  void TesterBreak(uint64_t startUs, uint64_t endUs);
  // Time has passed on the line up to nowUs with nothing heard: a session whose P3 time ran
  // out ends there (with the noise fault, a burst follows).
  void Advance(uint64_t nowUs);
  // When Advance next has something to do on the line (a session ending with the noise fault),
  // or the largest time there is.
  uint64_t NextDeadlineUs() const;
  // Frames due to be sent, in time order; taking them empties the queue.
  std::vector<EcuTransmission> TakeTransmissions();
  // Whether bytes written by the tester come back (the adapter's echo).
  bool Echoes() const { return !faults_.unplugged; }

  // The answer message to a request message (no header, no checksum) at a time, or nothing
  // when the ECU stays silent. Changes the ECU's state like the real request does. The frame
  // handling uses it; tests may call it directly.
  std::optional<std::vector<uint8_t>> Answer(std::span<const uint8_t> request, uint64_t atUs);

  // The 36-byte live-data block (61 01 ...) at a time.
  std::array<uint8_t, 36> LiveDataBlock(uint64_t atUs);

  bool SessionOpen() const { return session_; }
  uint32_t SessionsOpened() const { return sessionsOpened_; }
  uint32_t AnswersSent() const { return answersSent_; }
  // Frames with a correct checksum sent to the functional address, answered or not.
  uint32_t FunctionalHeard() const { return functionalHeard_; }
  EngineModel& Engine() { return engine_; }
  // The value of an identification record read with service 21 or 1A and its identifier
  // (nothing for an unknown one); tests and the tool's options may change it.
  std::vector<uint8_t>* IdentValue(uint8_t service, uint8_t id);
  // One byte of the learn memory, address 0xFD00..0xFEFF.
  uint8_t LearnByte(uint16_t address) const;

  // Called for every frame heard and sent, when set.
  std::function<void(const EcuFrameEvent&)> OnFrame;

 private:
  struct IdRecord {
    uint8_t service;
    uint8_t id;
    bool writable;
    std::vector<uint8_t> value;
  };
  struct Control {
    bool active = false;
    uint8_t value = 0;
  };

  void HandleFrame(const std::vector<uint8_t>& frame, size_t msgStart, size_t msgLen,
                   uint64_t startUs, uint64_t endUs);
  void Transmit(std::vector<uint8_t> message, uint64_t startUs, const char* note);
  void EndSession(uint64_t atUs, bool noise);
  void SendNoise(uint64_t atUs);
  uint32_t NoiseWord();
  void Log(uint64_t atUs, bool fromTester, const std::vector<uint8_t>& frame, std::string note);
  std::vector<uint8_t> Negative(uint8_t sid, uint8_t code) const { return {0x7F, sid, code}; }
  std::optional<std::vector<uint8_t>> ServiceAnswer(std::span<const uint8_t> req, uint64_t atUs);
  std::vector<uint8_t> IoControl(std::span<const uint8_t> req, uint64_t atUs);
  std::vector<uint8_t> ReadDtcs();
  void RefreshStoredCodes(uint64_t atUs);
  void ApplyControls();
  IdRecord* FindRecord(uint8_t service, uint8_t id);

  EcuSettings settings_;
  EcuFaults faults_;
  EngineModel engine_;
  uint32_t seed_;

  // Line state.
  std::vector<uint8_t> rx_;        // frame being received
  uint64_t rxStartUs_ = 0;         // start of its first byte
  uint64_t rxLastUs_ = 0;          // end of its last byte
  uint64_t rxIdleBeforeUs_ = 0;    // quiet line before its first byte
  uint64_t lineQuietSinceUs_ = 0;  // end of the last activity on the line
  uint64_t txBusyUntilUs_ = 0;     // end of the last frame the ECU sent
  bool woken_ = false;             // a valid wake-up pulse was seen
  uint64_t wakeEndUs_ = 0;
  std::vector<EcuTransmission> out_;

  // Session state.
  bool session_ = false;
  bool endAfterAnswer_ = false;  // the request ends the session once answered
  bool noiseAfterEnd_ = false;
  uint64_t lastExchangeUs_ = 0;
  uint32_t sessionsOpened_ = 0;
  uint32_t answersSent_ = 0;
  uint32_t functionalHeard_ = 0;
  uint32_t busyGiven_ = 0;
  uint32_t noiseCounter_ = 0;
  uint8_t testerAddress_ = 0xF1;  // source address of the last addressed request
  uint32_t headerTurn_ = 0;       // the next form of AnswerHeader::kRotate

  // ECU memory.
  std::vector<StoredTroubleCode> stored_;
  uint64_t clearedAtUs_ = 0;
  bool clearedOnce_ = false;
  std::vector<IdRecord> records_;
  std::array<uint8_t, 512> learn_{};
  std::array<Control, 256> controls_{};
};

}  // namespace kvd
