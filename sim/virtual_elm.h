// A virtual ELM327 adapter in front of the virtual ECU: AT commands and hex requests as text on
// the host side, a real K-line (fast-init wake-up, frames, checksum, P2, answers) on the other.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"
#include "sim/virtual_ecu.h"

namespace kvd {

// The host side's default rate and the adapter's reset text.
constexpr uint32_t kElmDefaultBaud = 38400;
constexpr const char* kElmDefaultIdentity = "ELM327 v1.5";
// The adapter's own periodic message on an idle KWP bus (OBD's functional TesterPresent),
// sent with its checksum.
constexpr std::array<uint8_t, 4> kElmDefaultWakeup{0xC1, 0x33, 0xF1, 0x3E};

// How a virtual adapter departs from a genuine, current one. All off by default.
struct ElmFaults {
  // The text ATZ, ATWS and ATI print. Its version decides what the chip knows: before v1.4
  // there is no ATFI ("?"), before v1.2 no ATKW0/1 and no adaptive timing ATAT0/1/2.
  std::string identity = kElmDefaultIdentity;
  bool refuseAllowLong = false;  // a clone that answers "?" to ATAL
  bool refuseFastInit = false;   // a clone that answers "?" to ATFI
  bool refuseProtocol5 = false;  // a clone that answers "?" to ATSP5 / ATTP5
  bool initDots = false;         // a clone that prints "BUS INIT: ...OK" for a fast init too
  uint32_t answerDelayMs = 0;    // every answer leaves this much later (a Bluetooth link)
};

struct ElmOptions {
  uint32_t hostBaud = kElmDefaultBaud;  // paces the text in both directions
  bool linefeedsAtReset = false;        // ATL state after a reset (pin 7 of the chip)
  uint32_t resetMs = 500;               // ATZ's power-on LED test; ATWS is immediate
  ElmFaults faults;
};

// A text or K-line event, for the verbose log of the tools and for tests.
struct ElmEvent {
  enum class Kind : uint8_t { kCommand, kAnswer, kFrameSent, kFrameHeard, kNote };
  uint64_t atUs = 0;
  Kind kind = Kind::kNote;
  std::string text;            // the command line, the answer text or the note
  std::vector<uint8_t> frame;  // K-line frames
};

// The adapter. Passive like the ECU: the owner hands it host bytes with the time they arrive
// and lets time pass with Advance; it puts the ECU's K-line in step with that time and queues
// its text answers, byte by byte at the host rate. Times are microseconds and never go back.
class VirtualElm327 {
 public:
  explicit VirtualElm327(VirtualEcu& ecu, ElmOptions options = {});

  // The adapter gets power (and the K-line with it) at atUs. What it prints then is lost: no
  // host has the port open yet.
  void PowerOn(uint64_t atUs);

  VirtualEcu& Ecu() { return ecu_; }
  ElmFaults& Faults() { return options_.faults; }
  const ElmOptions& Options() const { return options_; }

  // Bytes the host wrote, starting to cross the serial line at atUs (paced at the host rate
  // after anything still under way). Returns the time the last of them has arrived.
  uint64_t HostWrite(const uint8_t* bytes, size_t count, uint64_t atUs);
  // Time has passed up to nowUs: K-line work, wake-up messages and answers up to then.
  void Advance(uint64_t nowUs);
  // When Advance next has something to do (or the largest time there is).
  uint64_t NextEventUs() const;

  struct TimedByte {
    uint64_t atUs;  // completely received by the host at this time
    uint8_t value;
  };
  // Text bytes for the host that are due by nowUs (after Advance(nowUs)), in order.
  std::vector<TimedByte> TakeOutput(uint64_t nowUs);
  // The time the next queued text byte is due, if any.
  std::optional<uint64_t> NextOutputUs() const;

  // For tests and the verbose log.
  uint32_t WakeupsSent() const { return wakeupsSent_; }
  uint32_t DefaultWakeupsSent() const { return defaultWakeupsSent_; }
  uint32_t FastInits() const { return fastInits_; }
  uint32_t Interruptions() const { return interruptions_; }
  bool BusOpen() const { return busOpen_; }
  bool Busy() const { return job_ && job_->kind != Job::Kind::kWakeup; }  // a request, ATFI
  std::function<void(const ElmEvent&)> OnEvent;

 private:
  struct Settings {
    bool echo = true;
    bool linefeeds = false;
    bool spaces = true;
    bool headers = false;
    bool allowLong = false;
    bool keywordCheck = true;
    uint8_t protocol = 0;      // 1..12; 0 automatic
    bool autoProtocol = true;  // ATSP0 / ATSP Ah / ATTP h
    bool found = false;        // the automatic search settled on protocol 5
    uint8_t adaptive = 1;      // ATAT0/1/2
    uint32_t timeoutMs = 200;  // ATST hh: hh x 4 ms
    uint32_t wakeupMs = 2920;  // ATSW hh: hh x 20 ms; 0 stops the wake-up messages
    std::vector<uint8_t> wakeup{kElmDefaultWakeup.begin(), kElmDefaultWakeup.end()};
    std::array<uint8_t, 3> header{0xC1, 0x33, 0xF1};
  };
  // One piece of K-line work: a request (with the bus initialisation first when needed), an
  // ATFI, or a wake-up message. It runs in steps as time passes.
  struct Job {
    enum class Kind : uint8_t { kRequest, kFastInit, kWakeup };
    enum class Phase : uint8_t { kIdle, kLow, kHigh, kSend, kListen };
    Kind kind = Kind::kRequest;
    Phase phase = Phase::kIdle;
    bool initStage = false;        // the StartCommunication exchange is under way
    bool searching = false;        // automatic protocol: "SEARCHING..." and UNABLE TO CONNECT
    std::vector<uint8_t> message;  // the request's message bytes
    uint32_t maxAnswers = 0;       // 0: as many as come
    uint64_t dueUs = 0;            // next step of kIdle, kLow and kHigh
    std::vector<uint8_t> frame;    // being sent
    size_t sent = 0;
    uint64_t sendStartUs = 0;
    uint64_t sentEndUs = 0;
    bool echoMissing = false;  // a byte sent did not come back on the bus
    std::vector<uint8_t> rx;   // being received
    uint64_t deadlineUs = 0;  // the listening ends then unless more arrives
    uint32_t frames = 0;
    uint32_t answers = 0;
  };
  struct HostByte {
    uint64_t atUs;
    uint8_t value;
  };

  void Reset(bool withLedTest, uint64_t atUs);
  void HostChar(uint8_t c, uint64_t atUs);
  void Line(std::string line, uint64_t atUs);
  void AtCommand(const std::string& cmd, uint64_t atUs);
  void Request(const std::string& digits, uint64_t atUs);
  void StartJob(Job job, uint64_t atUs);
  uint64_t JobNextUs() const;
  void JobStep(uint64_t atUs);
  void FrameHeard(uint64_t atUs);
  void ListenEnded(uint64_t atUs);
  void InitDone(bool ok, uint64_t atUs);
  void EndJob(uint64_t atUs);
  void DropHeard(uint64_t upToUs);
  void StartSend(std::vector<uint8_t> frame, uint64_t atUs);
  uint64_t WakeupDueUs() const;
  uint64_t AnswerWaitUs() const;
  void Collect();
  void Emit(const std::string& text, uint64_t readyUs);
  void EmitLine(const std::string& text, uint64_t readyUs);
  void Prompt(uint64_t readyUs);
  std::string Eol() const { return s_.linefeeds ? "\r\n" : "\r"; }
  std::string BytesText(const std::vector<uint8_t>& bytes) const;
  void Log(uint64_t atUs, ElmEvent::Kind kind, std::string text, std::vector<uint8_t> frame = {});
  uint32_t Version() const;  // of the identity, times ten (15 for v1.5)
  uint64_t HostByteUs() const;

  VirtualEcu& ecu_;
  ElmOptions options_;
  Settings s_;
  std::string input_;
  bool inputOverflow_ = false;
  std::string lastLine_;
  std::optional<std::string> heldLine_;  // came in during a wake-up message
  std::deque<HostByte> in_;              // host bytes on their way, by arrival
  uint64_t inFreeUs_ = 0;                // the host's line is busy until then
  uint64_t outFreeUs_ = 0;               // the adapter's output is busy until then
  uint64_t resetUntilUs_ = 0;            // ATZ: deaf until then
  std::deque<TimedByte> out_;

  std::optional<Job> job_;
  std::deque<HostByte> rx_;        // the ECU's bytes on the wire, by the time they end
  uint64_t busQuietSinceUs_ = 0;   // end of the last activity on the K-line
  uint64_t lastSentUs_ = 0;        // end of the adapter's last message
  bool busOpen_ = false;           // the protocol is initialised
  uint64_t p2Us_ = 25'000;         // last measured answer delay, for adaptive timing
  uint64_t ecuAdvancedUs_ = 0;     // the ECU has been told of the time up to here
  std::vector<uint8_t> keyBytes_;  // of the last bus initiation
  uint32_t wakeupsSent_ = 0;
  uint32_t defaultWakeupsSent_ = 0;
  uint32_t fastInits_ = 0;
  uint32_t interruptions_ = 0;
};

// A SerialPort whose far end is the virtual adapter (and the ECU behind it), in virtual time
// (tests, fuzzing) or real time (the demo), like VirtualLine for the K-line. The host rate set
// with SetLineParameters must match the adapter's (ElmOptions::hostBaud within 2 %), or what is
// written is lost and nothing readable comes back. Breaks and modem lines have no effect.
class VirtualElmPort final : public SerialPort {
 public:
  VirtualElmPort(VirtualEcu& ecu, Clock& clock, ElmOptions options = {});

  int32_t OpenPort(uint16_t port) override;
  int32_t OpenDevice(const std::string& path) override;
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return deviceName_; }
  int32_t SetLineParameters(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                            uint8_t stopBits) override;
  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) override;
  bool GetTimeouts(SerialTimeouts& out) override;
  bool SetBreak(bool on) override;
  bool SetModemLines(bool dtr, bool rts) override;
  bool PurgePort() override;
  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override;
  int32_t ReadByte() override;
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override;
  void ClosePort() override;

  VirtualElm327& Adapter() { return elm_; }
  VirtualEcu& Ecu() { return elm_.Ecu(); }

 private:
  bool RateMatches() const;
  void CatchUp();

  VirtualElm327 elm_;
  Clock& clock_;
  bool open_ = false;
  bool powered_ = false;
  std::string deviceName_;
  uint32_t baud_ = kElmDefaultBaud;
  uint8_t dataBits_ = 8;
  uint8_t parity_ = 0;
  SerialTimeouts timeouts_{};
  std::deque<VirtualElm327::TimedByte> rx_;
};

}  // namespace kvd
