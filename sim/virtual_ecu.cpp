// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_ecu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "link/kwp.h"

namespace kvd {

namespace {

constexpr uint64_t kMaxByteGapUs = 50'000;  // a longer pause abandons a half-received frame
constexpr size_t kMaxRecordLength = 64;     // room of a writable identification record

constexpr uint8_t kTesterPresentAnswer = 0x7E;

// The services that open, keep and close the link answer at once even under the busy and
// pending faults, which concern the data services: testers expect C1 to StartCommunication.
bool IsLinkService(uint8_t sid) {
  return sid == 0x81 || sid == 0x82 || sid == 0x3E;
}

std::vector<uint8_t> Text(std::string_view s) {
  return {s.begin(), s.end()};
}

uint8_t ClampByte(double v) {
  return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

void PutWord(std::array<uint8_t, 36>& b, size_t at, double v) {
  const auto w = static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
  b[at] = static_cast<uint8_t>(w & 0xFF);
  b[at + 1] = static_cast<uint8_t>(w >> 8);
}

// The local identifiers of the outputs a tester may drive: two set values, the rest on/off.
bool IsSetValueId(uint8_t id) {
  return id == 0x41 || id == 0x42;
}
bool IsSwitchId(uint8_t id) {
  return (id >= 0x01 && id <= 0x06) || (id >= 0x09 && id <= 0x0D);
}

}  // namespace

uint64_t ByteEndMicros(uint64_t startUs, size_t index, uint32_t baud, uint32_t bitsPerByte) {
  if (baud == 0) baud = kKLineBaud;
  const uint64_t bits = static_cast<uint64_t>(index + 1) * bitsPerByte;
  return startUs + (bits * 1'000'000 + baud / 2) / baud;
}

VirtualEcu::VirtualEcu(EcuSettings settings, uint32_t seed)
    : settings_(settings), engine_(seed), seed_(seed ? seed : 1) {
  stored_ = {{0x0130, 0xA0}, {0x0325, 0xE0}, {0x0505, 0xA0}, {0x1602, 0xA0}, {0x3999, 0xE0}};
  records_ = {
      {0x21, 0xA1, true, Text("0123456")},          {0x21, 0xA2, true, Text("7654321")},
      {0x21, 0xA3, true, Text("12.03.2004")},       {0x1A, 0x90, true, Text("KVD5E2S1M00000001")},
      {0x1A, 0x91, false, Text("J5E2-1411020-01")}, {0x1A, 0x92, false, Text("0001234567")},
      {0x1A, 0x94, false, Text("J5V13L05")},        {0x1A, 0x97, false, Text("J5E2 1.5L 8V")},
      {0x1A, 0x98, true, Text("1411020-01")},       {0x1A, 0x99, false, Text("15.02.2004")},
      {0x1A, 0x9A, false, Text("KVDSIM 1.0")},
  };
  // Learn memory: two banks of correction factors close to 1.0 (byte 0x80), smooth over the
  // load/speed grid, the second bank a little leaner.
  for (size_t i = 0; i < learn_.size(); ++i) {
    const size_t bank = i / 256;
    const double row = static_cast<double>((i % 256) / 16);
    const double col = static_cast<double>(i % 16);
    const double v = 128 + 9 * std::sin(0.37 * col + 0.5 * seed_) * std::cos(0.23 * row) +
                     3 * std::sin(1.7 * col * row + seed_) - (bank == 1 ? 4 : 0);
    learn_[i] = ClampByte(v);
  }
}

VirtualEcu::IdRecord* VirtualEcu::FindRecord(uint8_t service, uint8_t id) {
  for (IdRecord& r : records_) {
    if (r.service == service && r.id == id) return &r;
  }
  return nullptr;
}

std::vector<uint8_t>* VirtualEcu::IdentValue(uint8_t service, uint8_t id) {
  IdRecord* r = FindRecord(service, id);
  return r ? &r->value : nullptr;
}

uint8_t VirtualEcu::LearnByte(uint16_t address) const {
  if (address < 0xFD00 || address > 0xFEFF) return 0;
  return learn_[address - 0xFD00];
}

void VirtualEcu::Log(uint64_t atUs, bool fromTester, const std::vector<uint8_t>& frame,
                     std::string note) {
  if (OnFrame) OnFrame(EcuFrameEvent{atUs, fromTester, frame, std::move(note)});
}

// ---------------------------------------------------------------------------------------------
// The line side.

void VirtualEcu::LineOpened(uint64_t atUs) {
  engine_.At(atUs);
  rx_.clear();
  lineQuietSinceUs_ = std::max(lineQuietSinceUs_, atUs);
  // A moment for the tester to set the line up first.
  if (faults_.noiseBytes > 0 && !faults_.unplugged) SendNoise(atUs + 50'000);
}

uint32_t VirtualEcu::NoiseWord() {
  uint32_t x = seed_ * 2654435761u + ++noiseCounter_ * 40503u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

void VirtualEcu::SendNoise(uint64_t atUs) {
  EcuTransmission t;
  t.startUs = std::max(atUs, txBusyUntilUs_);
  uint32_t x = seed_ * 2654435761u + ++noiseCounter_ * 40503u;
  for (uint32_t i = 0; i < faults_.noiseBytes; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    t.bytes.push_back(static_cast<uint8_t>(x % 255 + 1));  // never a zero byte
  }
  const uint64_t end = ByteEndMicros(t.startUs, t.bytes.size() - 1);
  txBusyUntilUs_ = end;
  lineQuietSinceUs_ = std::max(lineQuietSinceUs_, end);
  Log(t.startUs, false, t.bytes, "noise");
  out_.push_back(std::move(t));
}

void VirtualEcu::TesterBreak(uint64_t startUs, uint64_t endUs) {
  if (faults_.unplugged) return;
  if (endUs < startUs) endUs = startUs;
  rx_.clear();
  const uint64_t lowUs = endUs - startUs;
  const uint64_t idleUs = startUs > lineQuietSinceUs_ ? startUs - lineQuietSinceUs_ : 0;
  const bool lowOk =
      lowUs >= uint64_t{settings_.minLowMs} * 1000 && lowUs <= uint64_t{settings_.maxLowMs} * 1000;
  const bool idleOk = idleUs >= uint64_t{settings_.minIdleMs} * 1000;
  woken_ = lowOk && idleOk;
  wakeEndUs_ = endUs;
  lineQuietSinceUs_ = std::max(lineQuietSinceUs_, endUs);
  char note[96];
  std::snprintf(note, sizeof note, "wake-up %s: low %.1f ms after %.1f ms idle",
                woken_ ? "accepted" : "rejected", lowUs / 1000.0, idleUs / 1000.0);
  Log(startUs, true, {}, note);
}

void VirtualEcu::TesterByte(uint8_t value, uint64_t endUs) {
  if (faults_.unplugged) return;
  const uint64_t byteUs = ByteEndMicros(0, 0);
  const uint64_t startUs = endUs > byteUs ? endUs - byteUs : 0;
  if (startUs + byteUs / 2 < txBusyUntilUs_) {
    // The tester talks into our own answer: both are garbled on a single wire.
    if (!rx_.empty()) Log(rxStartUs_, true, rx_, "collision, frame dropped");
    rx_.clear();
    lineQuietSinceUs_ = std::max(lineQuietSinceUs_, endUs);
    return;
  }
  if (!rx_.empty() && startUs > rxLastUs_ + kMaxByteGapUs) {
    Log(rxStartUs_, true, rx_, "incomplete frame dropped");
    rx_.clear();
  }
  if (rx_.empty()) {
    rxStartUs_ = startUs;
    rxIdleBeforeUs_ = startUs > lineQuietSinceUs_ ? startUs - lineQuietSinceUs_ : 0;
  }
  rx_.push_back(value);
  rxLastUs_ = endUs;
  lineQuietSinceUs_ = std::max(lineQuietSinceUs_, endUs);

  // Work out the frame length from its header (all four header forms).
  const uint8_t fmt = rx_[0];
  const bool addressed = (fmt & 0xC0) != 0;
  const size_t lenInFmt = fmt & 0x3F;
  size_t header = addressed ? 3 : 1;
  size_t msgLen = lenInFmt;
  if (lenInFmt == 0) {
    const size_t lenAt = addressed ? 3 : 1;
    if (rx_.size() <= lenAt) return;
    msgLen = rx_[lenAt];
    header = lenAt + 1;
  }
  const size_t total = header + msgLen + 1;
  if (rx_.size() < total) return;
  std::vector<uint8_t> frame;
  frame.swap(rx_);
  HandleFrame(frame, header, msgLen, rxStartUs_, endUs);
}

void VirtualEcu::HandleFrame(const std::vector<uint8_t>& frame, size_t msgStart, size_t msgLen,
                             uint64_t startUs, uint64_t endUs) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
  if (sum != frame.back()) {
    Log(startUs, true, frame, "checksum wrong, ignored");
    return;
  }
  if ((frame[0] & 0xC0) != 0) {
    const uint8_t target = frame[1];
    const bool functional = (frame[0] & 0xC0) == 0xC0;
    if (target != kEcuAddress && !(functional && target == kEcuFunctionalAddress)) {
      Log(startUs, true, frame, "not addressed to this ECU");
      return;
    }
    if (target != kEcuAddress) {
      ++functionalHeard_;
      if (!settings_.answerFunctional) {
        Log(startUs, true, frame, "functional address, ignored");
        return;
      }
    }
    testerAddress_ = frame[2];  // the answer goes back to whoever asked
  }
  if (msgLen == 0) {
    Log(startUs, true, frame, "empty message, ignored");
    return;
  }
  const std::span<const uint8_t> msg(frame.data() + msgStart, msgLen);

  if (session_ && startUs > lastExchangeUs_ + uint64_t{settings_.p3MaxMs} * 1000) {
    Log(lastExchangeUs_ + uint64_t{settings_.p3MaxMs} * 1000, false, {},
        "session timed out (no request)");
    EndSession(startUs, false);
  }
  const bool startComm = msgLen == 1 && msg[0] == 0x81;
  const bool wokenByBreak =
      woken_ && startUs <= wakeEndUs_ + uint64_t{settings_.wakeupWindowMs} * 1000;
  const bool wokenByIdle = settings_.wakeup == WakeupMode::kIdle &&
                           rxIdleBeforeUs_ >= uint64_t{settings_.minIdleMs} * 1000;
  woken_ = false;
  if (!session_) {
    if (!startComm) {
      Log(startUs, true, frame, "no session, ignored");
      return;
    }
    if (!wokenByBreak && !wokenByIdle) {
      Log(startUs, true, frame, "StartCommunication without wake-up, ignored");
      return;
    }
  }
  Log(startUs, true, frame, "");
  lastExchangeUs_ = endUs;  // every accepted request keeps the session alive

  const uint8_t sid = msg[0];
  const uint64_t answerAt = endUs + uint64_t{settings_.p2Ms} * 1000;
  if (faults_.refuseService == sid &&
      (faults_.refuseId < 0 || (msgLen > 1 && msg[1] == faults_.refuseId))) {
    if (faults_.refuseCode == 0) {
      Log(endUs, false, {}, "refused without answer");
    } else {
      Transmit(Negative(sid, faults_.refuseCode), answerAt, "refused");
    }
    return;
  }
  const bool dataService = !IsLinkService(sid);
  if (dataService && busyGiven_ < faults_.busyAnswers) {
    ++busyGiven_;
    Transmit(Negative(sid, 0x21), answerAt, "busy");
    return;
  }
  busyGiven_ = 0;

  std::optional<std::vector<uint8_t>> answer = Answer(msg, answerAt);
  if (!answer) {
    if (endAfterAnswer_) EndSession(endUs, noiseAfterEnd_);
    return;
  }
  uint64_t at = answerAt;
  for (uint32_t i = 0; dataService && i < faults_.pendingAnswers; ++i) {
    Transmit(Negative(sid, 0x78), at, "pending");
    at = txBusyUntilUs_ + uint64_t{settings_.p2Ms} * 1000;
  }
  if (faults_.pendingOnly && faults_.pendingAnswers > 0) {
    Log(at, false, *answer, "kept back after the pending answers");
    return;
  }
  if (faults_.wrongService && !answer->empty() && (*answer)[0] != 0x7F) (*answer)[0] ^= 0x01;
  Transmit(std::move(*answer), at, "");
  if (endAfterAnswer_) EndSession(txBusyUntilUs_, noiseAfterEnd_);
}

void VirtualEcu::Transmit(std::vector<uint8_t> message, uint64_t startUs, const char* note) {
  if (faults_.answerLimit >= 0 && answersSent_ >= static_cast<uint32_t>(faults_.answerLimit)) {
    Log(startUs, false, message, "silent (answer limit reached)");
    return;
  }
  EcuTransmission t;
  t.startUs = std::max(startUs, txBusyUntilUs_);
  const size_t len = message.size();
  AnswerHeader form = settings_.answerHeader;
  if (form == AnswerHeader::kRotate) form = static_cast<AnswerHeader>(headerTurn_++ % 4);
  const auto length = static_cast<uint8_t>(len);
  switch (form) {
    case AnswerHeader::k80:
      t.bytes = {0x80, testerAddress_, kEcuAddress, length};
      break;
    case AnswerHeader::k00:
      t.bytes = {0x00, length};
      break;
    case AnswerHeader::kShort:
      if (len < 64) {
        t.bytes = {length};
      } else {
        t.bytes = {0x00, length};
      }
      break;
    default:
      if (len < 64) {
        t.bytes = {static_cast<uint8_t>(0x80 + len), testerAddress_, kEcuAddress};
      } else {
        t.bytes = {0x80, testerAddress_, kEcuAddress, length};
      }
      break;
  }
  t.bytes.insert(t.bytes.end(), message.begin(), message.end());
  uint8_t sum = 0;
  for (uint8_t b : t.bytes) sum = static_cast<uint8_t>(sum + b);
  if (faults_.badChecksum) ++sum;
  t.bytes.push_back(sum);
  if (faults_.truncated) t.bytes.pop_back();
  if (faults_.noisyAnswers && t.bytes.size() > 1) {
    const uint32_t x = NoiseWord();
    t.bytes[1 + x % (t.bytes.size() - 1)] ^= static_cast<uint8_t>((x >> 8) % 255 + 1);
  }
  if (faults_.pullPlugAfterBytes >= 0) {
    // The plug comes out with this frame on the wire: the rest of it never arrives and
    // nothing is heard or echoed any more until it is put back.
    t.bytes.resize(std::min(t.bytes.size(), static_cast<size_t>(faults_.pullPlugAfterBytes)));
    faults_.pullPlugAfterBytes = -1;
    faults_.unplugged = true;
    ++answersSent_;
    Log(t.startUs, false, t.bytes, "plug pulled");
    if (t.bytes.empty()) return;
    txBusyUntilUs_ = ByteEndMicros(t.startUs, t.bytes.size() - 1);
    out_.push_back(std::move(t));
    return;
  }
  const uint64_t end = ByteEndMicros(t.startUs, t.bytes.size() - 1);
  txBusyUntilUs_ = end;
  lineQuietSinceUs_ = std::max(lineQuietSinceUs_, end);
  lastExchangeUs_ = end;
  ++answersSent_;
  Log(t.startUs, false, t.bytes, note);
  out_.push_back(std::move(t));
}

std::vector<EcuTransmission> VirtualEcu::TakeTransmissions() {
  std::vector<EcuTransmission> out;
  out.swap(out_);
  return out;
}

void VirtualEcu::EndSession(uint64_t atUs, bool noise) {
  session_ = false;
  endAfterAnswer_ = false;
  noiseAfterEnd_ = false;
  busyGiven_ = 0;
  for (Control& c : controls_) c = Control{};
  ApplyControls();
  if (noise && faults_.noiseBytes > 0) {
    // Not into the gap after the last answer, where a tester still listens for frames.
    SendNoise(std::max(atUs, txBusyUntilUs_) + uint64_t{kQuietAfterAnswerMs} * 1000);
  }
}

uint64_t VirtualEcu::NextDeadlineUs() const {
  if (!session_ || faults_.unplugged || faults_.noiseBytes == 0)
    return std::numeric_limits<uint64_t>::max();
  return lastExchangeUs_ + uint64_t{settings_.p3MaxMs} * 1000 + 1;
}

void VirtualEcu::Advance(uint64_t nowUs) {
  if (!session_ || faults_.unplugged) return;
  const uint64_t deadline = lastExchangeUs_ + uint64_t{settings_.p3MaxMs} * 1000;
  if (nowUs <= deadline) return;
  if (!rx_.empty() && rxStartUs_ <= deadline) return;  // a request under way came in time
  Log(deadline, false, {}, "session timed out (no request)");
  EndSession(deadline, true);
}

// ---------------------------------------------------------------------------------------------
// The services.

std::optional<std::vector<uint8_t>> VirtualEcu::Answer(std::span<const uint8_t> request,
                                                       uint64_t atUs) {
  if (request.empty()) return std::nullopt;
  engine_.At(atUs);
  return ServiceAnswer(request, atUs);
}

std::optional<std::vector<uint8_t>> VirtualEcu::ServiceAnswer(std::span<const uint8_t> req,
                                                              uint64_t atUs) {
  const uint8_t sid = req[0];
  const size_t n = req.size();
  switch (sid) {
    case 0x81:  // StartCommunication
      if (n != 1) return Negative(sid, 0x12);
      if (!session_) ++sessionsOpened_;
      session_ = true;
      lastExchangeUs_ = atUs;
      return std::vector<uint8_t>{0xC1, static_cast<uint8_t>(faults_.wrongKeyBytes ? 0xEF : 0x6B),
                                  0x8F};
    case 0x82:  // StopCommunication
      if (n != 1) return Negative(sid, 0x12);
      endAfterAnswer_ = true;
      noiseAfterEnd_ = true;
      return std::vector<uint8_t>{0xC2};
    case 0x10:  // StartDiagnosticSession
      if (n < 2 || n > 3) return Negative(sid, 0x12);
      if (req[1] != 0x81) return Negative(sid, 0x12);
      return std::vector<uint8_t>{0x50, 0x81};
    case 0x20:  // StopDiagnosticSession
      if (n != 1) return Negative(sid, 0x12);
      return std::vector<uint8_t>{0x60};
    case 0x3E:  // TesterPresent
      if (n == 1 || (n == 2 && req[1] == 0x01)) return std::vector<uint8_t>{kTesterPresentAnswer};
      if (n == 2 && req[1] == 0x02) return std::nullopt;  // no answer wanted
      return Negative(sid, 0x12);
    case 0x11:  // ECUReset
      if (n != 2 || req[1] != 0x01) return Negative(sid, 0x12);
      endAfterAnswer_ = true;
      noiseAfterEnd_ = true;
      return std::vector<uint8_t>{0x51, 0x01};
    case 0x21: {  // ReadDataByLocalIdentifier
      if (n != 2) return Negative(sid, 0x12);
      const uint8_t id = req[1];
      if (id == 0x01) {
        const std::array<uint8_t, 36> block = LiveDataBlock(atUs);
        std::vector<uint8_t> out(block.begin(), block.end());
        if (faults_.shortLiveData) out.pop_back();
        return out;
      }
      if (id == 0x03) {
        const EngineState& s = engine_.State();
        const double coolantV = std::clamp(4.6 - (s.coolantC + 40) / 160 * 4.2, 0.1, 4.9);
        const double mafV = s.running ? 1.0 + 3.8 * std::sqrt(s.airKgH / 600) : 0.99;
        // The knock sensor's noise grows with engine speed and load.
        const double knockV = s.running ? 0.2 + s.rpm / 6000 + 0.008 * s.throttlePct : 0.0;
        const double tpsV = 0.5 + 0.04 * s.throttlePct;
        return std::vector<uint8_t>{0x61,
                                    0x03,
                                    ClampByte(knockV * 256 / 5),
                                    ClampByte(coolantV * 256 / 5),
                                    ClampByte(mafV * 256 / 5),
                                    ClampByte(s.batteryV / 0.093),
                                    ClampByte(s.lambdaV * 256 / 1.25),
                                    ClampByte(tpsV * 256 / 5)};
      }
      if (id == 0xA0) return std::vector<uint8_t>{0x61, 0xA0, 0x00, settings_.immoStatus};
      if (const IdRecord* r = FindRecord(0x21, id)) {
        std::vector<uint8_t> out{0x61, id};
        out.insert(out.end(), r->value.begin(), r->value.end());
        return out;
      }
      return Negative(sid, 0x31);
    }
    case 0x1A: {  // ReadEcuIdentification
      if (n != 2) return Negative(sid, 0x12);
      if (const IdRecord* r = FindRecord(0x1A, req[1])) {
        std::vector<uint8_t> out{0x5A, req[1]};
        out.insert(out.end(), r->value.begin(), r->value.end());
        return out;
      }
      return Negative(sid, 0x31);
    }
    case 0x3B: {  // WriteDataByLocalIdentifier
      if (n < 3) return Negative(sid, 0x12);
      IdRecord* r = FindRecord(0x21, req[1]);
      if (!r) r = FindRecord(0x1A, req[1]);
      if (!r || !r->writable) return Negative(sid, 0x31);
      if (n - 2 > kMaxRecordLength) return Negative(sid, 0x12);
      r->value.assign(req.begin() + 2, req.end());
      return std::vector<uint8_t>{0x7B, req[1]};
    }
    case 0x18: {  // ReadDiagnosticTroubleCodesByStatus
      if (n != 4) return Negative(sid, 0x12);
      const bool allGroups = (req[2] == 0x00 || req[2] == 0xFF) && req[3] == 0x00;
      if (!allGroups) return Negative(sid, 0x31);
      RefreshStoredCodes(atUs);
      return ReadDtcs();
    }
    case 0x14: {  // ClearDiagnosticInformation
      if (n != 3) return Negative(sid, 0x12);
      const bool allGroups = (req[1] == 0x00 || req[1] == 0xFF) && req[2] == 0x00;
      if (!allGroups) return Negative(sid, 0x31);
      stored_.clear();
      clearedAtUs_ = atUs;
      clearedOnce_ = true;
      return std::vector<uint8_t>{0x54, req[1], req[2]};
    }
    case 0x23: {  // ReadMemoryByAddress
      if (n != 5) return Negative(sid, 0x12);
      const uint32_t address = (uint32_t{req[1]} << 16) | (uint32_t{req[2]} << 8) | req[3];
      const uint32_t size = req[4];
      if (size == 0 || size > 64 || address < 0xFD00 || address + size > 0xFF00) {
        return Negative(sid, 0x31);
      }
      std::vector<uint8_t> out{0x63};
      const uint32_t given = faults_.shortMemRead ? size / 2 : size;
      for (uint32_t i = 0; i < given; ++i) out.push_back(learn_[address - 0xFD00 + i]);
      return out;
    }
    case 0x30:  // InputOutputControlByLocalIdentifier
      return IoControl(req, atUs);
    default:
      return Negative(sid, 0x11);
  }
}

std::array<uint8_t, 36> VirtualEcu::LiveDataBlock(uint64_t atUs) {
  const EngineState& s = engine_.At(atUs);
  std::array<uint8_t, 36> b{};
  b[0] = 0x61;
  b[1] = 0x01;
  b[2] = settings_.configFlags[0];
  b[3] = settings_.configFlags[1];
  b[4] = s.flagsA;
  b[5] = s.flagsB;
  b[6] = static_cast<uint8_t>(s.errorMask >> 24);
  b[7] = static_cast<uint8_t>(s.errorMask >> 16);
  b[8] = static_cast<uint8_t>(s.errorMask >> 8);
  b[9] = static_cast<uint8_t>(s.errorMask);
  b[10] = ClampByte(s.coolantC + 40);
  b[11] = ClampByte(s.afr * 256 / 14.7 - 128);
  b[12] = ClampByte(s.throttlePct);
  b[13] = ClampByte(s.rpm / 40);
  b[14] = ClampByte(s.rpm / 10);
  b[15] = ClampByte(s.iacPos);
  b[16] = ClampByte(s.iacSetPos);
  b[17] = ClampByte(s.injCorrection * 256 - 128);
  b[18] = static_cast<uint8_t>(
      static_cast<int8_t>(std::clamp(std::lround(s.advanceDeg * 2), -128L, 127L)));
  b[19] = ClampByte(s.speedKmh);
  b[20] = 0;
  b[21] = ClampByte(s.idleSetRpm / 10);
  b[22] = ClampByte(s.lambdaV * 256 / 1.25);
  b[23] = s.flagsC;
  PutWord(b, 24, s.injectionMs * 125);
  PutWord(b, 26, s.airKgH * 10);
  PutWord(b, 28, s.cycleAirMg * 6);
  PutWord(b, 30, s.fuelLH * 50);
  PutWord(b, 32, s.fuelL100 * 128);
  return b;
}

// Codes behind the bits of the current-error mask, by bit number.
static constexpr uint16_t kMaskCodes[32] = {
    0x0325, 0x1600, 0x3999, 0x0134, 0x0172, 0x0171, 0x0501, 0x0505, 0x0563, 0x1172, 0x0113,
    0x0118, 0x0132, 0x0123, 0x0103, 0x0328, 0x0562, 0x1171, 0x0112, 0x0117, 0x0131, 0x0122,
    0x1102, 0x0327, 0x0335, 0x1610, 0x1603, 0x0135, 0x0340, 0x1612, 0x0603, 0x0601};

void VirtualEcu::RefreshStoredCodes(uint64_t atUs) {
  // A fault that is present gets stored; after a clearing it takes a few seconds to be seen
  // again. Stored codes show whether they are present now.
  const uint32_t mask = engine_.State().errorMask;
  const bool settled = !clearedOnce_ || atUs >= clearedAtUs_ + 3'000'000;
  for (int bit = 0; bit < 32; ++bit) {
    if (!(mask & (1u << bit))) continue;
    const uint16_t code = kMaskCodes[bit];
    auto it = std::find_if(stored_.begin(), stored_.end(),
                           [code](const StoredTroubleCode& c) { return c.code == code; });
    if (it == stored_.end() && settled && stored_.size() < 255) {
      stored_.push_back({code, 0xE0});
    }
  }
  for (StoredTroubleCode& c : stored_) {
    bool present = false;
    for (int bit = 0; bit < 32; ++bit) {
      if ((mask & (1u << bit)) && kMaskCodes[bit] == c.code) present = true;
    }
    c.status = present ? 0xE0 : 0xA0;
  }
}

std::vector<uint8_t> VirtualEcu::ReadDtcs() {
  std::vector<StoredTroubleCode> fixed;
  for (uint16_t code : faults_.dtcAnswerCodes) fixed.push_back({code, 0xE0});
  const std::vector<StoredTroubleCode>& codes = fixed.empty() ? stored_ : fixed;
  const size_t count = std::min<size_t>(codes.size(), 255);
  std::vector<uint8_t> out{
      0x58, static_cast<uint8_t>(faults_.dtcCountByte >= 0 ? faults_.dtcCountByte & 0xFF
                                                           : static_cast<int32_t>(count))};
  for (const StoredTroubleCode& c : std::span(codes).first(count)) {
    out.push_back(static_cast<uint8_t>(c.code >> 8));
    out.push_back(static_cast<uint8_t>(c.code & 0xFF));
    out.push_back(c.status);
  }
  return out;
}

void VirtualEcu::ApplyControls() {
  EngineOverrides& o = engine_.Overrides();
  auto onOff = [this](uint8_t id) {
    return controls_[id].active ? int32_t{controls_[id].value} : -1;
  };
  o.iacSetPos = controls_[0x41].active ? controls_[0x41].value : -1;
  o.idleSetRpm = controls_[0x42].active ? controls_[0x42].value * 10 : -1;
  for (uint8_t i = 0; i < 4; ++i) {
    o.injectorOff[i] = controls_[0x01 + i].active && controls_[0x01 + i].value == 0;
  }
  o.ignitionOff[0] = controls_[0x05].active && controls_[0x05].value == 0;
  o.ignitionOff[1] = controls_[0x06].active && controls_[0x06].value == 0;
  o.fuelPump = onOff(0x09);
  o.fan = onOff(0x0A);
  o.airCon = onOff(0x0B);
  o.checkLamp = onOff(0x0C);
  o.purgeValve = onOff(0x0D);
}

std::vector<uint8_t> VirtualEcu::IoControl(std::span<const uint8_t> req, uint64_t atUs) {
  const uint8_t sid = req[0];
  if (req.size() < 3) return Negative(sid, 0x12);
  const uint8_t id = req[1];
  const uint8_t param = req[2];
  if (!IsSetValueId(id) && !IsSwitchId(id)) return Negative(sid, 0x31);
  Control& c = controls_[id];
  switch (param) {
    case 0x00:  // return control to the ECU
    case 0x01:  // report current state
      if (req.size() != 3) return Negative(sid, 0x12);
      if (param == 0x00) c = Control{};
      break;
    case 0x07:  // short-term adjustment of a set value
      if (req.size() != 4 || !IsSetValueId(id)) return Negative(sid, 0x12);
      c.active = true;
      c.value = req[3];
      break;
    case 0x06:  // switch an output on or off
      if (req.size() != 4 || !IsSwitchId(id)) return Negative(sid, 0x12);
      if (req[3] > 1) return Negative(sid, 0x31);
      c.active = true;
      c.value = req[3];
      break;
    default:
      return Negative(sid, 0x12);
  }
  ApplyControls();
  const EngineState& s = engine_.At(atUs);
  const uint8_t idleSet10 =
      controls_[0x42].active ? controls_[0x42].value : ClampByte(s.idleSetRpm / 10);
  uint8_t state = 0;
  switch (id) {
    case 0x41:
      state = c.active ? c.value : ClampByte(s.iacPos);
      break;
    case 0x42:
      state = idleSet10;
      break;
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
      state = c.active ? c.value : engine_.InjectorsOn();
      break;
    case 0x05:
    case 0x06:
      state = c.active ? c.value : engine_.IgnitionOn();
      break;
    case 0x09:
      state = engine_.FuelPumpOn();
      break;
    case 0x0A:
      state = engine_.FanOn();
      break;
    case 0x0B:
      state = engine_.AirConOn();
      break;
    case 0x0C:
      state = engine_.CheckLampOn();
      break;
    case 0x0D:
      state = engine_.PurgeOn();
      break;
    default:
      break;
  }
  const uint8_t iacSet = controls_[0x41].active ? controls_[0x41].value : ClampByte(s.iacSetPos);
  return {0x70, id, param, state, static_cast<uint8_t>(c.active ? 1 : 0), iacSet, idleSet10};
}

}  // namespace kvd
