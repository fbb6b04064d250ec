// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/virtual_elm.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace kvd {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kMs = 1000;
// K-line timing of the adapter: quiet bus before a fast init (W5), the wake-up pattern, the
// pause before each message (P3min) and the longest gap inside a frame it waits for.
constexpr uint64_t kIdleBeforeInitUs = 300 * kMs;
constexpr uint64_t kInitLowUs = 25 * kMs;
constexpr uint64_t kInitHighUs = 25 * kMs;
constexpr uint64_t kBeforeMessageUs = 55 * kMs;
constexpr uint64_t kInFrameGapUs = 20 * kMs;
// Slow (5 baud) initialisation of protocols 3 and 4: the ECU never answers it.
constexpr uint64_t kSlowInitUs = 2600 * kMs;
// Host text that nobody reads, and a command line, are bounded as in the chip's buffers.
constexpr size_t kOutputLimit = size_t{1} << 20;
constexpr size_t kInputLimit = size_t{1} << 16;
constexpr size_t kLineLimit = 128;
// The key bytes of an ISO 14230-4 (OBD) ECU: key word 2031.
constexpr uint8_t kObdKeyByte1 = 0xEF;
constexpr uint8_t kObdKeyByte2 = 0x8F;

const char* const kProtocolNames[13] = {
    "AUTO",
    "SAE J1850 PWM",
    "SAE J1850 VPW",
    "ISO 9141-2",
    "ISO 14230-4 (KWP 5BAUD)",
    "ISO 14230-4 (KWP FAST)",
    "ISO 15765-4 (CAN 11/500)",
    "ISO 15765-4 (CAN 29/500)",
    "ISO 15765-4 (CAN 11/250)",
    "ISO 15765-4 (CAN 29/250)",
    "SAE J1939 (CAN 29/250)",
    "USER1 (CAN 11/125)",
    "USER2 (CAN 11/50)",
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits to bytes; false for anything else or an odd count.
bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

uint8_t Checksum(const std::vector<uint8_t>& bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return sum;
}

// Header and total length of a K-line frame from its first bytes, in any of the four forms;
// false while the bytes do not tell yet.
bool FrameLayout(const std::vector<uint8_t>& rx, size_t& header, size_t& total) {
  if (rx.empty()) return false;
  const bool addressed = (rx[0] & 0xC0) != 0;
  size_t length = rx[0] & 0x3F;
  header = addressed ? 3 : 1;
  if (length == 0) {
    if (rx.size() <= header) return false;
    length = rx[header];
    header += 1;
  }
  total = header + length + 1;
  return true;
}

}  // namespace

VirtualElm327::VirtualElm327(VirtualEcu& ecu, ElmOptions options)
    : ecu_(ecu), options_(std::move(options)) {
  if (options_.hostBaud == 0) options_.hostBaud = kElmDefaultBaud;
  s_.linefeeds = options_.linefeedsAtReset;
}

uint64_t VirtualElm327::HostByteUs() const {
  return (10 * uint64_t{1'000'000} + options_.hostBaud / 2) / options_.hostBaud;
}

uint32_t VirtualElm327::Version() const {
  // "... vX.Y..." as the chip and its clones print it.
  const std::string& id = options_.faults.identity;
  const auto digit = [&id](size_t i) {
    return i < id.size() && std::isdigit(static_cast<unsigned char>(id[i])) != 0;
  };
  for (size_t i = 0; i < id.size(); ++i) {
    if ((id[i] != 'v' && id[i] != 'V') || !digit(i + 1)) continue;
    const auto major = static_cast<uint32_t>(id[i + 1] - '0');
    const bool hasMinor = i + 2 < id.size() && id[i + 2] == '.' && digit(i + 3);
    return major * 10 + (hasMinor ? static_cast<uint32_t>(id[i + 3] - '0') : 0);
  }
  return 15;  // no version in the text: taken for a current chip
}

void VirtualElm327::PowerOn(uint64_t atUs) {
  ecu_.LineOpened(atUs);
  busQuietSinceUs_ = std::max(busQuietSinceUs_, atUs);
  ecuAdvancedUs_ = std::max(ecuAdvancedUs_, atUs);
  inFreeUs_ = std::max(inFreeUs_, atUs);
  outFreeUs_ = std::max(outFreeUs_, atUs);
  Collect();
}

void VirtualElm327::Log(uint64_t atUs, ElmEvent::Kind kind, std::string text,
                        std::vector<uint8_t> frame) {
  if (OnEvent) OnEvent(ElmEvent{atUs, kind, std::move(text), std::move(frame)});
}

// ---------------------------------------------------------------------------------------------
// The host side.

uint64_t VirtualElm327::HostWrite(const uint8_t* bytes, size_t count, uint64_t atUs) {
  uint64_t t = std::max(atUs, inFreeUs_);
  for (size_t i = 0; i < count && bytes != nullptr; ++i) {
    t += HostByteUs();
    if (in_.size() < kInputLimit) in_.push_back(HostByte{t, bytes[i]});  // else an overrun
  }
  inFreeUs_ = t;
  return t;
}

void VirtualElm327::Emit(const std::string& text, uint64_t readyUs) {
  uint64_t t = std::max(readyUs + uint64_t{options_.faults.answerDelayMs} * kMs, outFreeUs_);
  for (char c : text) {
    if (out_.size() >= kOutputLimit) break;  // nobody reads: lost, as in a full buffer
    t += HostByteUs();
    out_.push_back(TimedByte{t, static_cast<uint8_t>(c)});
  }
  outFreeUs_ = t;
}

void VirtualElm327::EmitLine(const std::string& text, uint64_t readyUs) {
  Log(readyUs, ElmEvent::Kind::kAnswer, text);
  Emit(text + Eol(), readyUs);
}

void VirtualElm327::Prompt(uint64_t readyUs) {
  Emit(Eol() + ">", readyUs);
}

std::vector<VirtualElm327::TimedByte> VirtualElm327::TakeOutput(uint64_t nowUs) {
  std::vector<TimedByte> due;
  while (!out_.empty() && out_.front().atUs <= nowUs) {
    due.push_back(out_.front());
    out_.pop_front();
  }
  return due;
}

std::optional<uint64_t> VirtualElm327::NextOutputUs() const {
  if (out_.empty()) return std::nullopt;
  return out_.front().atUs;
}

void VirtualElm327::Reset(bool withLedTest, uint64_t atUs) {
  s_ = Settings{};
  s_.linefeeds = options_.linefeedsAtReset;
  busOpen_ = false;
  job_.reset();
  heldLine_.reset();
  input_.clear();
  inputOverflow_ = false;
  lastLine_.clear();
  const uint64_t ready = withLedTest ? atUs + uint64_t{options_.resetMs} * kMs : atUs;
  resetUntilUs_ = ready;
  Emit(Eol() + Eol(), ready);
  EmitLine(options_.faults.identity, ready);
  Prompt(ready);
}

void VirtualElm327::HostChar(uint8_t c, uint64_t atUs) {
  if (atUs < resetUntilUs_) return;  // still resetting: the character is lost
  if (job_ && job_->kind != Job::Kind::kWakeup) {
    // Any character while the chip works stops it; the character itself is dropped.
    const bool initialising = job_->initStage;
    job_.reset();
    if (initialising) busOpen_ = false;
    ++interruptions_;
    input_.clear();
    Log(atUs, ElmEvent::Kind::kNote, "interrupted by a host character");
    EmitLine("STOPPED", atUs);
    Prompt(atUs);
    return;
  }
  if (c == '\r') {
    if (s_.echo) Emit(Eol(), atUs);
    std::string line;
    line.swap(input_);
    const bool overflow = inputOverflow_;
    inputOverflow_ = false;
    if (overflow) {
      EmitLine("?", atUs);
      Prompt(atUs);
      return;
    }
    Line(std::move(line), atUs);
    return;
  }
  if (c == '\n' || c == 0) return;  // line feeds and NULs are ignored, not echoed
  if (s_.echo) Emit(std::string(1, static_cast<char>(c)), atUs);
  if (c <= ' ' || c >= 0x7F) return;  // spaces and control characters are ignored
  if (input_.size() >= kLineLimit) {
    inputOverflow_ = true;
    return;
  }
  input_.push_back(static_cast<char>(std::toupper(c)));
}

void VirtualElm327::Line(std::string line, uint64_t atUs) {
  if (job_) {  // a wake-up message is under way: the command follows it
    heldLine_ = std::move(line);
    return;
  }
  if (line.empty()) {
    // A bare carriage return repeats the last command.
    if (lastLine_.empty()) {
      Prompt(atUs);
      return;
    }
    line = lastLine_;
  }
  lastLine_ = line;
  Log(atUs, ElmEvent::Kind::kCommand, line);
  if (line.size() >= 2 && line[0] == 'A' && line[1] == 'T') {
    AtCommand(line.substr(2), atUs);
  } else {
    Request(line, atUs);
  }
}

void VirtualElm327::AtCommand(const std::string& cmd, uint64_t atUs) {
  const auto reply = [&](const std::string& text) {
    EmitLine(text, atUs);
    Prompt(atUs);
  };
  const auto ok = [&] { reply("OK"); };
  const auto unknown = [&] { reply("?"); };
  const auto flag = [&](const char* name, bool& target) {
    const std::string n(name);
    if (cmd == n + "0" || cmd == n + "1") {
      target = cmd.back() == '1';
      return true;
    }
    return false;
  };
  // A command with a hexadecimal argument of `digits` digits: its value in out.
  const auto argument = [&](const char* name, size_t digits, std::vector<uint8_t>& out) {
    const std::string n(name);
    if (cmd.size() != n.size() + digits || cmd.compare(0, n.size(), n) != 0) return false;
    std::string arg = cmd.substr(n.size());
    if (arg.size() % 2 != 0) arg.insert(arg.begin(), '0');
    return ParseHex(arg, out);
  };
  const uint32_t version = Version();
  const ElmFaults& f = options_.faults;
  std::vector<uint8_t> arg;
  bool value = false;

  if (cmd == "Z" || cmd == "WS") {
    Reset(cmd == "Z", atUs);
  } else if (cmd == "D") {
    const bool linefeeds = s_.linefeeds;
    s_ = Settings{};
    s_.linefeeds = linefeeds;
    busOpen_ = false;
    ok();
  } else if (cmd == "I") {
    reply(f.identity);
  } else if (cmd == "@1") {
    reply("OBDII to RS232 Interpreter");
  } else if (flag("E", s_.echo) || flag("L", s_.linefeeds) || flag("S", s_.spaces) ||
             flag("H", s_.headers) || flag("M", value)) {
    ok();
  } else if (cmd == "AL") {
    if (f.refuseAllowLong) return unknown();
    s_.allowLong = true;
    ok();
  } else if (cmd == "NL") {
    s_.allowLong = false;
    ok();
  } else if (cmd == "KW0" || cmd == "KW1") {
    if (version < 12) return unknown();
    s_.keywordCheck = cmd == "KW1";
    ok();
  } else if (cmd == "AT0" || cmd == "AT1" || cmd == "AT2") {
    if (version < 12) return unknown();
    s_.adaptive = static_cast<uint8_t>(cmd[2] - '0');
    ok();
  } else if (argument("ST", 2, arg)) {
    s_.timeoutMs = arg[0] == 0 ? 200 : uint32_t{arg[0]} * 4;
    ok();
  } else if (argument("SW", 2, arg)) {
    s_.wakeupMs = uint32_t{arg[0]} * 20;
    ok();
  } else if (cmd.rfind("WM", 0) == 0 && cmd.size() >= 4 && cmd.size() <= 14 &&
             ParseHex(cmd.substr(2), arg)) {
    s_.wakeup = arg;
    ok();
  } else if (argument("SH", 6, arg)) {
    std::copy(arg.begin(), arg.end(), s_.header.begin());
    ok();
  } else if (argument("SH", 3, arg)) {
    ok();  // an 11-bit CAN identifier: kept for CAN, no use on the K-line
  } else if ((cmd.rfind("SP", 0) == 0 || cmd.rfind("TP", 0) == 0) &&
             (cmd.size() == 3 || (cmd.size() == 4 && cmd[2] == 'A'))) {
    const int p = HexValue(cmd.back());
    if (p < 0 || p > 12 || (p == 5 && f.refuseProtocol5)) return unknown();
    s_.protocol = static_cast<uint8_t>(p);
    s_.autoProtocol = p == 0 || cmd[0] == 'T' || cmd.size() == 4;
    s_.found = false;
    busOpen_ = false;  // a change of protocol closes the old one
    ok();
  } else if (cmd == "DP") {
    const uint8_t p = s_.found ? 5 : s_.protocol;
    reply(std::string(s_.autoProtocol && p != 0 ? "AUTO, " : "") + kProtocolNames[p]);
  } else if (cmd == "DPN") {
    const uint8_t p = s_.found ? 5 : s_.protocol;
    char text[4];
    std::snprintf(text, sizeof text, "%s%X", s_.autoProtocol && p != 0 ? "A" : "", p);
    reply(text);
  } else if (cmd == "FI") {
    const bool protocol5 = s_.protocol == 5 || (s_.autoProtocol && s_.found);
    if (version < 14 || f.refuseFastInit || !protocol5) return unknown();
    busOpen_ = false;
    Job job;
    job.kind = Job::Kind::kFastInit;
    StartJob(std::move(job), atUs);
  } else if (cmd == "PC") {
    busOpen_ = false;
    ok();
  } else if (cmd == "RV") {
    char text[16];
    std::snprintf(text, sizeof text, "%.1fV", ecu_.Engine().State().batteryV);
    reply(text);
  } else if (cmd == "KW") {
    if (keyBytes_.size() != 2) return unknown();
    char text[16];
    std::snprintf(text, sizeof text, "1:%02X 2:%02X", keyBytes_[0], keyBytes_[1]);
    reply(text);
  } else {
    unknown();
  }
}

void VirtualElm327::Request(const std::string& digits, uint64_t atUs) {
  const auto reply = [&](const std::string& text, uint64_t readyUs) {
    EmitLine(text, readyUs);
    Prompt(readyUs);
  };
  std::string hex = digits;
  uint32_t maxAnswers = 0;
  // A single digit after the bytes says how many answers to wait for.
  if (hex.size() % 2 != 0 && hex.size() >= 3 && Version() >= 13) {
    const int n = HexValue(hex.back());
    if (n > 0) {
      maxAnswers = static_cast<uint32_t>(n);
      hex.pop_back();
    }
  }
  std::vector<uint8_t> message;
  const size_t most = s_.allowLong ? 8 : 7;
  if (!ParseHex(hex, message) || message.empty() || message.size() > most) {
    return reply("?", atUs);
  }
  const uint8_t p = s_.autoProtocol || s_.found ? 5 : s_.protocol;
  if (p == 5) {  // the automatic search finds protocol 5 if anything
    Job job;
    job.kind = Job::Kind::kRequest;
    job.message = std::move(message);
    job.maxAnswers = maxAnswers;
    job.searching = s_.autoProtocol && !busOpen_;
    if (job.searching && !s_.found) EmitLine("SEARCHING...", atUs);
    StartJob(std::move(job), atUs);
  } else if (p == 3 || p == 4) {
    reply("BUS INIT: ...ERROR", atUs + kSlowInitUs);
  } else if (p <= 2) {
    reply("NO DATA", atUs + uint64_t{s_.timeoutMs} * kMs);
  } else {
    reply("CAN ERROR", atUs);
  }
}

// ---------------------------------------------------------------------------------------------
// The K-line side.

void VirtualElm327::Collect() {
  for (const EcuTransmission& t : ecu_.TakeTransmissions()) {
    for (size_t k = 0; k < t.bytes.size(); ++k) {
      const HostByte b{ByteEndMicros(t.startUs, k), t.bytes[k]};
      auto it = std::upper_bound(rx_.begin(), rx_.end(), b.atUs,
                                 [](uint64_t at, const HostByte& x) { return at < x.atUs; });
      if (rx_.size() < kInputLimit) rx_.insert(it, b);
    }
  }
}

void VirtualElm327::StartJob(Job job, uint64_t atUs) {
  const bool init =
      job.kind == Job::Kind::kFastInit || (job.kind == Job::Kind::kRequest && !busOpen_);
  job.initStage = init;
  job.phase = Job::Phase::kIdle;
  job.dueUs = std::max(atUs, busQuietSinceUs_ + (init ? kIdleBeforeInitUs : kBeforeMessageUs));
  job_ = std::move(job);
}

void VirtualElm327::StartSend(std::vector<uint8_t> frame, uint64_t atUs) {
  frame.push_back(Checksum(frame));
  job_->frame = std::move(frame);
  job_->sent = 0;
  job_->sendStartUs = atUs;
  job_->phase = Job::Phase::kSend;
}

uint64_t VirtualElm327::AnswerWaitUs() const {
  const uint64_t st = uint64_t{s_.timeoutMs} * kMs;
  switch (s_.adaptive) {
    case 0:
      return st;
    case 2:
      return std::clamp<uint64_t>(p2Us_ + 5 * kMs, 10 * kMs, st);
    default:
      return std::clamp<uint64_t>(2 * p2Us_ + 10 * kMs, 20 * kMs, st);
  }
}

uint64_t VirtualElm327::JobNextUs() const {
  if (!job_) return kNever;
  const Job& j = *job_;
  switch (j.phase) {
    case Job::Phase::kSend:
      return ByteEndMicros(j.sendStartUs, j.sent);
    case Job::Phase::kListen:
      if (!rx_.empty() && rx_.front().atUs <= j.deadlineUs) return rx_.front().atUs;
      return j.deadlineUs;
    default:
      return j.dueUs;
  }
}

void VirtualElm327::JobStep(uint64_t atUs) {
  Job& j = *job_;
  switch (j.phase) {
    case Job::Phase::kIdle:
      if (j.initStage) {
        ++fastInits_;
        Log(atUs, ElmEvent::Kind::kNote, "fast init");
        j.phase = Job::Phase::kLow;
        j.dueUs = atUs + kInitLowUs;
      } else if (j.kind == Job::Kind::kWakeup) {
        ++wakeupsSent_;
        if (std::equal(s_.wakeup.begin(), s_.wakeup.end(), kElmDefaultWakeup.begin(),
                       kElmDefaultWakeup.end())) {
          ++defaultWakeupsSent_;
        }
        StartSend(s_.wakeup, atUs);
      } else {
        const auto n = static_cast<uint8_t>(j.message.size());
        std::vector<uint8_t> frame{static_cast<uint8_t>((s_.header[0] & 0xC0) | n), s_.header[1],
                                   s_.header[2]};
        frame.insert(frame.end(), j.message.begin(), j.message.end());
        StartSend(std::move(frame), atUs);
      }
      return;
    case Job::Phase::kLow:
      ecu_.TesterBreak(atUs - kInitLowUs, atUs);
      busQuietSinceUs_ = atUs;
      Collect();
      j.phase = Job::Phase::kHigh;
      j.dueUs = atUs + kInitHighUs;
      return;
    case Job::Phase::kHigh: {
      std::vector<uint8_t> frame{static_cast<uint8_t>((s_.header[0] & 0xC0) | 1), s_.header[1],
                                 s_.header[2], 0x81};
      StartSend(std::move(frame), atUs);
      return;
    }
    case Job::Phase::kSend: {
      // The adapter reads back every byte it sends; the ECU's line faults decide whether the
      // echo arrives (none when unplugged, the last bytes lost with lostEchoBytes).
      const size_t lost = std::min<size_t>(j.frame.size(), ecu_.Faults().lostEchoBytes);
      if (!ecu_.Echoes() || j.sent >= j.frame.size() - lost) j.echoMissing = true;
      ecu_.TesterByte(j.frame[j.sent], atUs);
      ++j.sent;
      busQuietSinceUs_ = atUs;
      Collect();
      if (j.sent < j.frame.size()) return;
      Log(j.sendStartUs, ElmEvent::Kind::kFrameSent, j.echoMissing ? "echo missing" : "", j.frame);
      lastSentUs_ = atUs;
      if (j.kind == Job::Kind::kWakeup) {
        // The chip does not listen for answers to its wake-up messages.
        job_.reset();
        if (heldLine_) {
          std::string line = std::move(*heldLine_);
          heldLine_.reset();
          Line(std::move(line), atUs);
        }
        return;
      }
      j.sentEndUs = atUs;
      if (j.echoMissing && !j.initStage) {  // the bus does not carry what the chip sends
        EmitLine("FB ERROR", atUs);
        EndJob(atUs);
        return;
      }
      j.phase = Job::Phase::kListen;
      j.deadlineUs = atUs + uint64_t{s_.timeoutMs} * kMs;
      j.rx.clear();
      DropHeard(atUs);  // whatever the ECU sent into our own frame is lost in the collision
      return;
    }
    case Job::Phase::kListen:
      if (!rx_.empty() && rx_.front().atUs <= j.deadlineUs) {
        const HostByte b = rx_.front();
        rx_.pop_front();
        busQuietSinceUs_ = std::max(busQuietSinceUs_, b.atUs);
        if (j.rx.empty() && j.frames == 0 && !j.initStage) {
          const uint64_t startUs = b.atUs - std::min(b.atUs, ByteEndMicros(0, 0));
          p2Us_ = startUs > j.sentEndUs ? startUs - j.sentEndUs : 0;
        }
        j.rx.push_back(b.value);
        j.deadlineUs = b.atUs + kInFrameGapUs;
        size_t header = 0, total = 0;
        if (FrameLayout(j.rx, header, total) && j.rx.size() >= total) FrameHeard(b.atUs);
        return;
      }
      ListenEnded(j.deadlineUs);
      return;
  }
}

std::string VirtualElm327::BytesText(const std::vector<uint8_t>& bytes) const {
  std::string text;
  char b[4];
  for (uint8_t v : bytes) {
    if (!text.empty() && s_.spaces) text += ' ';
    std::snprintf(b, sizeof b, "%02X", v);
    text += b;
  }
  return text;
}

void VirtualElm327::FrameHeard(uint64_t atUs) {
  Job& j = *job_;
  std::vector<uint8_t> frame;
  frame.swap(j.rx);
  Log(atUs, ElmEvent::Kind::kFrameHeard, "", frame);
  size_t header = 0, total = 0;
  FrameLayout(frame, header, total);
  const bool addressed = (frame[0] & 0xC0) != 0;
  const bool checksumOk =
      Checksum(std::vector<uint8_t>(frame.begin(), frame.end() - 1)) == frame.back();
  // A frame to another tester is not ours; frames without addresses cannot tell.
  if (checksumOk && addressed && frame[1] != s_.header[2]) {
    j.deadlineUs = atUs + AnswerWaitUs();
    return;
  }
  const std::vector<uint8_t> message(frame.begin() + static_cast<std::ptrdiff_t>(header),
                                     frame.end() - 1);
  if (j.initStage) {
    const bool positive = checksumOk && message.size() == 3 && message[0] == 0xC1;
    if (positive) keyBytes_.assign(message.begin() + 1, message.end());
    const bool keyOk =
        !s_.keywordCheck || (positive && message[1] == kObdKeyByte1 && message[2] == kObdKeyByte2);
    InitDone(positive && keyOk, atUs);
    return;
  }
  ++j.frames;
  if (message.size() > 7 && !s_.allowLong) {
    EmitLine("BUFFER FULL", atUs);
    EndJob(atUs);
    return;
  }
  const std::string shown = BytesText(s_.headers ? frame : message);
  if (!checksumOk) {
    EmitLine(shown + (s_.spaces ? " " : "") + "<DATA ERROR", atUs);
    j.deadlineUs = atUs + AnswerWaitUs();
    return;
  }
  EmitLine(shown, atUs);
  const bool pending = message.size() >= 3 && message[0] == 0x7F && message[2] == 0x78;
  if (pending) {
    j.deadlineUs = atUs + uint64_t{s_.timeoutMs} * kMs;
    return;
  }
  ++j.answers;
  if (j.maxAnswers != 0 && j.answers >= j.maxAnswers) {
    EndJob(atUs);
    return;
  }
  j.deadlineUs = atUs + AnswerWaitUs();
}

void VirtualElm327::ListenEnded(uint64_t atUs) {
  Job& j = *job_;
  if (j.initStage) {
    InitDone(false, atUs);
    return;
  }
  if (!j.rx.empty()) {  // a frame that broke off
    ++j.frames;
    EmitLine(BytesText(j.rx) + (s_.spaces ? " " : "") + "<DATA ERROR", atUs);
  }
  if (j.frames == 0) EmitLine("NO DATA", atUs);
  EndJob(atUs);
}

void VirtualElm327::InitDone(bool ok, uint64_t atUs) {
  Job& j = *job_;
  const bool dots = options_.faults.initDots;
  const bool quiet = s_.autoProtocol;  // an automatic search reports no bus initiation
  if (!ok) {
    busOpen_ = false;
    Log(atUs, ElmEvent::Kind::kNote, "bus initiation failed");
    if (j.searching) {
      EmitLine("UNABLE TO CONNECT", atUs);
    } else {
      EmitLine(dots ? "BUS INIT: ...ERROR" : "BUS INIT: ERROR", atUs);
    }
    EndJob(atUs);
    return;
  }
  busOpen_ = true;
  lastSentUs_ = atUs;
  if (s_.autoProtocol) s_.found = true;
  if (j.kind == Job::Kind::kFastInit) {
    EmitLine(dots ? "BUS INIT: ...OK" : "BUS INIT: OK", atUs);
    EndJob(atUs);
    return;
  }
  if (!quiet) EmitLine(dots ? "BUS INIT: ...OK" : "BUS INIT: OK", atUs);
  j.initStage = false;
  j.phase = Job::Phase::kIdle;
  j.dueUs = atUs + kBeforeMessageUs;
  j.rx.clear();
}

void VirtualElm327::EndJob(uint64_t atUs) {
  job_.reset();
  Prompt(atUs);
}

void VirtualElm327::DropHeard(uint64_t upToUs) {
  // Nobody listens on the K-line outside a job: what the ECU sends meanwhile is lost, but it
  // keeps the bus busy.
  while (!rx_.empty() && rx_.front().atUs <= upToUs) {
    busQuietSinceUs_ = std::max(busQuietSinceUs_, rx_.front().atUs);
    rx_.pop_front();
  }
}

uint64_t VirtualElm327::WakeupDueUs() const {
  if (!busOpen_ || job_ || s_.wakeupMs == 0 || s_.wakeup.empty()) return kNever;
  return lastSentUs_ + uint64_t{s_.wakeupMs} * kMs;
}

uint64_t VirtualElm327::NextEventUs() const {
  uint64_t t = std::min(JobNextUs(), WakeupDueUs());
  if (!in_.empty()) t = std::min(t, in_.front().atUs);
  const uint64_t ecuAt = ecu_.NextDeadlineUs();
  if (ecuAt > ecuAdvancedUs_) t = std::min(t, ecuAt);
  return t;
}

void VirtualElm327::Advance(uint64_t nowUs) {
  for (;;) {
    const uint64_t jobAt = JobNextUs();
    const uint64_t wakeAt = WakeupDueUs();
    const uint64_t hostAt = in_.empty() ? kNever : in_.front().atUs;
    const uint64_t t = NextEventUs();
    if (t > nowUs) break;
    if (t > ecuAdvancedUs_) {
      ecu_.Advance(t);
      ecuAdvancedUs_ = t;
      Collect();
    }
    if (jobAt <= t) {
      JobStep(jobAt);
    } else if (wakeAt <= t) {
      Job job;
      job.kind = Job::Kind::kWakeup;
      StartJob(std::move(job), wakeAt);
    } else if (hostAt <= t) {
      const HostByte b = in_.front();
      in_.pop_front();
      HostChar(b.value, b.atUs);
    }
    if (!job_ || job_->phase != Job::Phase::kListen) DropHeard(t);
  }
  if (nowUs > ecuAdvancedUs_) {
    ecu_.Advance(nowUs);
    ecuAdvancedUs_ = nowUs;
    Collect();
  }
}

}  // namespace kvd
