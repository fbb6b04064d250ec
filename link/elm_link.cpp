// SPDX-License-Identifier: GPL-3.0-or-later
// The ELM327 link: the adapter's initialisation, requests as hex text, and the adapter's
// answers judged with the result codes of the KKL link.
#include "link/elm_link.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "link/frame_trace.h"

namespace kvd {

namespace {

constexpr uint8_t kStartCommunication = 0x81;
constexpr uint8_t kStopCommunication = 0x82;
constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kBusyRepeatRequest = 0x21;
constexpr uint8_t kBusy77 = 0x77;
constexpr uint8_t kResponsePending = 0x78;
constexpr int kMaxAbsorbed = 5;

// The adapter's text comes in chunks: a read ends when nothing follows for a few milliseconds or
// after a slice, so that the caller's hook runs and the time limit is watched.
constexpr uint32_t kChunkGapMs = 5;
constexpr uint32_t kChunkMs = 50;
// Longest line and most lines kept of one answer; anything beyond is adapter garbage.
constexpr size_t kMaxLineLength = 512;
constexpr size_t kMaxLines = 64;

// Results of a setting besides the link's codes.
constexpr int32_t kSettingTaken = 0;
constexpr int32_t kSettingNotTaken = 1;

// Why an adapter cannot serve this ECU (the identity goes into %s).
constexpr char kNoProtocol5[] =
    "Адаптер «%s» не поддерживает протокол ISO 14230 с быстрой инициализацией (ATSP5).";
constexpr char kNoFastInit[] = "Адаптер «%s» не выполняет быструю инициализацию шины (ATFI).";
constexpr char kNoLongMessages[] =
    "Адаптер «%s» не принимает длинные сообщения (ATAL): ответы ЭБУ длиннее 7 байт до "
    "программы не дойдут.";
constexpr char kNoWakeupControl[] =
    "Адаптер «%s» не позволяет заменить или отключить своё периодическое сообщение шины "
    "(ATWM, ATSW): оно предназначено для OBD и этому ЭБУ мешает.";
constexpr char kNoHeaders[] = "Адаптер «%s» не показывает заголовки ответов (ATH1).";
constexpr char kRefusalAdvice[] = "\nНужен адаптер ELM327 версии 1.4b или новее либо KKL-адаптер.";

uint8_t ByteSum(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

// Without spaces, upper case: "AT SH 80" and "atsh80" are the same command.
std::string Squeezed(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexDigits(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string HexByte(uint8_t b) {
  return HexDigits(&b, 1);
}

// "1:6B 2:8F" (spaces optional) into the two key bytes.
bool ParseKeyBytes(std::string_view line, uint8_t& kb1, uint8_t& kb2) {
  const std::string s = Squeezed(line);
  const size_t a = s.find("1:");
  const size_t b = s.find("2:");
  if (a == std::string::npos || b == std::string::npos || a + 4 > s.size() || b + 4 > s.size())
    return false;
  const int h1 = HexValue(s[a + 2]), l1 = HexValue(s[a + 3]);
  const int h2 = HexValue(s[b + 2]), l2 = HexValue(s[b + 3]);
  if (h1 < 0 || l1 < 0 || h2 < 0 || l2 < 0) return false;
  kb1 = static_cast<uint8_t>(h1 * 16 + l1);
  kb2 = static_cast<uint8_t>(h2 * 16 + l2);
  return true;
}

// "12.4V": digits and at most one point, then V.
bool IsVoltage(std::string_view line) {
  if (line.size() < 2 || line.size() > 8 || (line.back() != 'V' && line.back() != 'v'))
    return false;
  int points = 0;
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == '.') {
      ++points;
    } else if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
      return false;
    }
  }
  return points <= 1 && std::isdigit(static_cast<unsigned char>(line[0]));
}

// The version of an identity such as "ELM327 v1.5" times ten (15), 0 when it names none.
int VersionOf(std::string_view identity) {
  const size_t v = identity.rfind('v');
  if (v == std::string_view::npos || v + 3 >= identity.size() || identity[v + 2] != '.') return 0;
  const int major = HexValue(identity[v + 1]);
  const int minor = HexValue(identity[v + 3]);
  if (major < 0 || major > 9 || minor < 0 || minor > 9) return 0;
  return major * 10 + minor;
}

std::string Format(const char* pattern, const std::string& identity) {
  const std::string who = identity.empty() ? std::string("ELM327") : identity;
  std::string out(pattern);
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, who);
  return out;
}

}  // namespace

ElmLineKind ClassifyElmLine(std::string_view line) {
  const std::string s = Squeezed(line);
  if (s.empty() || s == "OK" || s.rfind("SEARCHING", 0) == 0) return ElmLineKind::Blank;
  if (s.rfind("BUSINIT:", 0) == 0) {
    if (s.find("ERROR") != std::string::npos) return ElmLineKind::InitFailed;
    if (s.size() >= 2 && s.compare(s.size() - 2, 2, "OK") == 0) return ElmLineKind::BusInitOk;
    return ElmLineKind::Error;
  }
  if (s.find("DATAERROR") != std::string::npos) return ElmLineKind::DataError;
  if (s == "NODATA") return ElmLineKind::NoData;
  if (s == "UNABLETOCONNECT") return ElmLineKind::InitFailed;
  if (s == "BUFFERFULL") return ElmLineKind::BufferFull;
  if (s == "STOPPED") return ElmLineKind::Stopped;
  if (s == "?") return ElmLineKind::Unknown;
  std::vector<uint8_t> bytes;
  if (ParseElmHexLine(line, bytes)) return ElmLineKind::Bytes;
  // The identity after a reset, and other chatter that answers nothing.
  if (s.rfind("ELM", 0) == 0) return ElmLineKind::Blank;
  return ElmLineKind::Error;
}

bool ParseElmHexLine(std::string_view line, std::vector<uint8_t>& out) {
  out.clear();
  int high = -1;
  for (char c : line) {
    if (c == ' ') continue;
    const int v = HexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return high < 0 && !out.empty();
}

ElmLink::ElmLink(SerialPort& port, Clock& clock, uint32_t baudRate)
    : EcuLink(port, clock), baudRate_(baudRate) {}

void ElmLink::SetSessionLine() {
  port_.SetLineParameters(baudRate_, 8, 0, 1);
  port_.SetReadTimeouts(kChunkGapMs, 0, kChunkMs);
}

std::string ElmLink::AdapterInfo() const {
  std::string info = identity_.empty() ? std::string("ELM327") : identity_;
  if (!voltage_.empty()) info += ", " + voltage_;
  return info;
}

int32_t ElmLink::KwpTransaction(const KwpRequest& request, int32_t headerMode, int32_t delayMs) {
  const int32_t result =
      headerMode < 0 || headerMode > 4 ? kKwpBadHeaderMode : Transact(request, delayMs);
  if (trace_) trace_->Result(request.ServiceId(), result);
  return result;
}

void ElmLink::Refuse(const char* reason) {
  refusal_ = Format(reason, identity_) + kRefusalAdvice;
}

bool ElmLink::ReadToPrompt(uint32_t timeoutMs, std::vector<std::string>* lines, bool& cancelled,
                           std::string_view echo) {
  port_.SetReadTimeouts(kChunkGapMs, 0, kChunkMs);
  const std::string echoed = Squeezed(echo);
  std::string current;
  const auto finish = [&] {
    const size_t first = current.find_first_not_of(' ');
    if (first == std::string::npos) {
      current.clear();
      return;
    }
    const std::string line = current.substr(first, current.find_last_not_of(' ') - first + 1);
    current.clear();
    if (trace_) trace_->AdapterReceived(line);
    if (!lines || lines->size() >= kMaxLines) return;
    if (!echoed.empty() && Squeezed(line) == echoed) return;  // the echo of the command
    lines->push_back(line);
  };
  const uint32_t start = clock_.TickCount();
  uint8_t chunk[256];
  for (;;) {
    const uint32_t readStart = clock_.TickCount();
    const int32_t n = port_.ReadBytes(sizeof chunk, chunk);
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t c = chunk[i];
      if (c == '>') {
        finish();
        return true;  // the adapter sends nothing after its prompt
      }
      if (c == '\r' || c == '\n') {
        finish();
      } else if (c >= 0x20 && c < 0x7F && current.size() < kMaxLineLength) {
        current += static_cast<char>(c);
      }
    }
    if (!KeepWaiting()) {
      cancelled = true;
      finish();
      return false;
    }
    const uint32_t now = clock_.TickCount();
    if (now - start >= timeoutMs) break;
    // A port that fails at once (closed, a dropped connection) will not bring the prompt.
    if (n < 0 && now - readStart < kChunkMs / 2) break;
  }
  finish();
  return false;
}

ElmLink::Reply ElmLink::Command(std::string_view text, uint32_t timeoutMs) {
  Reply reply;
  if (promptOwed_) {
    // The adapter is still at an earlier command: a new line now would make it stop that one,
    // so its prompt is waited for first (and when it never comes, the adapter has lost it).
    std::vector<std::string> late;
    if (!ReadToPrompt(CommandTimeoutMs, &late, reply.cancelled, {}) && reply.cancelled)
      return reply;
    promptOwed_ = false;
  }
  port_.PurgePort();
  std::string line(text);
  line += '\r';
  if (trace_) trace_->AdapterSent(text);
  promptOwed_ = true;
  if (port_.WriteBytes(static_cast<uint32_t>(line.size()),
                       reinterpret_cast<const uint8_t*>(line.data())) != 0) {
    promptOwed_ = false;  // nothing went out: nothing to wait for
    if (trace_) trace_->Timeout("adapter (the port took nothing)");
    return reply;
  }
  reply.prompt = ReadToPrompt(timeoutMs, &reply.lines, reply.cancelled, text);
  if (reply.prompt) promptOwed_ = false;
  if (!reply.prompt && !reply.cancelled && trace_) trace_->Timeout("adapter prompt");
  return reply;
}

// kSettingTaken, kSettingNotTaken ("?" or another answer), or a link code (no prompt, cancel,
// kKwpAdapterUnfit when a needed setting was refused).
static int32_t SettingResult(bool prompt, bool cancelled, const std::vector<std::string>& lines) {
  if (cancelled) return kKwpCancelled;
  if (!prompt) return kKwpNoResponse;
  for (const std::string& l : lines)
    if (Squeezed(l) == "OK") return kSettingTaken;
  return kSettingNotTaken;
}

int32_t ElmLink::StartCommunication(int32_t delayMs) {
  refusal_.clear();
  busOpen_ = false;
  port_.PurgePort();
  if (delayMs > 0) clock_.Sleep(static_cast<uint32_t>(delayMs));
  if (!KeepWaiting()) return kKwpCancelled;

  // A reset puts every setting back, whatever an earlier session or program left.
  Reply r = Command(everReset_ ? "ATWS" : "ATZ", ResetTimeoutMs);
  if (r.cancelled) return kKwpCancelled;
  if (!r.prompt) return kKwpNoResponse;
  everReset_ = true;
  identity_.clear();
  for (const std::string& l : r.lines)
    if (Squeezed(l).rfind("ELM", 0) == 0 || identity_.empty()) identity_ = l;

  // Each step: the link code of a failure, or 0 to go on.
  const auto step = [&](std::string_view text, const char* refusal, bool needed) -> int32_t {
    const Reply s = Command(text, CommandTimeoutMs);
    const int32_t result = SettingResult(s.prompt, s.cancelled, s.lines);
    if (result < 0) return result;
    if (result == kSettingNotTaken && needed) {
      if (refusal) {
        Refuse(refusal);
        return kKwpAdapterUnfit;
      }
      return kKwpNoResponse;
    }
    return kKwpPositive;
  };
  const std::string target = HexByte(TargetAddress);
  const std::string tester = HexByte(kTesterAddress);
  struct Step {
    std::string text;
    const char* refusal;
    bool needed;
  };
  const Step steps[] = {
      {"ATE0", nullptr, true},
      {"ATL0", nullptr, false},
      {"ATS0", nullptr, false},
      {"ATH1", kNoHeaders, true},
      {"ATAL", kNoLongMessages, true},
      {"ATKW0", nullptr, false},  // this ECU's key bytes are not OBD's
      {"ATSP5", kNoProtocol5, true},
      // The bus initialisation's StartCommunication goes to this ECU, addressed physically.
      {"ATSH81" + target + tester, kNoProtocol5, true},
  };
  for (const Step& s : steps) {
    if (const int32_t result = step(s.text, s.refusal, s.needed); result != kKwpPositive)
      return result;
  }
  // The adapter's own periodic message is OBD's functional TesterPresent: this ECU gets its own
  // TesterPresent instead, or none at all (the poll cycle keeps the session alive by itself).
  if (const int32_t result = step("ATWM82" + target + tester + "3E01", nullptr, true);
      result != kKwpPositive) {
    if (result != kKwpNoResponse) return result;
    if (const int32_t off = step("ATSW00", kNoWakeupControl, true); off != kKwpPositive) return off;
  }
  for (const char* optional : {"ATST19", "ATAT1"}) {
    if (const int32_t result = step(optional, nullptr, false); result != kKwpPositive)
      return result;
  }

  // The bus: ATFI where the adapter has it, else at the first request (StartCommunication
  // itself), where "BUS INIT: OK" comes as a line before the answer.
  int32_t result = kKwpNoResponse;
  bool answered = false;
  const Reply fi = Command("ATFI", InitTimeoutMs);
  if (fi.cancelled) return kKwpCancelled;
  if (!fi.prompt) return kKwpNoResponse;
  bool initOk = false;
  bool initUnknown = false;
  for (const std::string& l : fi.lines) {
    const ElmLineKind kind = ClassifyElmLine(l);
    initOk = initOk || kind == ElmLineKind::BusInitOk;
    initUnknown = initUnknown || kind == ElmLineKind::Unknown;
  }
  if (initOk) {
    // The key bytes of the ECU's answer to the adapter's StartCommunication.
    const Reply kw = Command("ATKW", CommandTimeoutMs);
    if (kw.cancelled) return kKwpCancelled;
    uint8_t kb1 = 0, kb2 = 0;
    for (const std::string& l : kw.lines) {
      if (!ParseKeyBytes(l, kb1, kb2)) continue;
      ResponseBuffer.fill(0);
      ResponseBuffer[0] = kStartCommunication ^ 0x40;
      ResponseBuffer[1] = kb1;
      ResponseBuffer[2] = kb2;
      ResponseDataLength = 3;
      if (trace_) trace_->Comment("key bytes " + HexByte(kb1) + " " + HexByte(kb2) + " (ATKW)");
      result = kKwpPositive;
      answered = true;
      break;
    }
    busOpen_ = true;
  } else if (!initUnknown) {
    return kKwpNoResponse;  // BUS INIT: ERROR and the like: no ECU answered the wake-up
  }
  if (!answered) {
    // No ATFI, or no key bytes to show: StartCommunication as a request of its own.
    result = Request(KwpRequest{kStartCommunication}, !initOk, 0);
    if (result < 0) return result;
    busOpen_ = true;
  }
  // From now on the adapter puts the length of each request into the format byte.
  if (const int32_t h = step("ATSH80" + target + tester, nullptr, true); h != kKwpPositive) {
    busOpen_ = false;
    return h;
  }
  const Reply rv = Command("ATRV", CommandTimeoutMs);
  if (rv.cancelled) return kKwpCancelled;
  voltage_.clear();
  for (const std::string& l : rv.lines)
    if (IsVoltage(l)) voltage_ = l;
  return result;
}

int32_t ElmLink::TakeFrame(const std::vector<uint8_t>& bytes, bool needChecksum) {
  if (bytes.empty()) return kKwpBodyShort;
  const uint8_t format = bytes[0];
  size_t start = 0;
  size_t length = 0;
  if (format == 0x00) {
    ResponseDataLength = 0;
    if (bytes.size() < 2) return kKwpHeader00Short;
    length = bytes[1];
    start = 2;
  } else if (format <= 0x3F) {
    length = format;
    start = 1;
  } else if (format == 0x80) {
    ResponseDataLength = 0;
    if (bytes.size() < 4) return kKwpHeader80Short;
    length = bytes[3];
    start = 4;
  } else {
    length = format & 0x3F;
    start = 3;
  }
  ResponseDataLength = static_cast<int32_t>(length);
  const size_t total = start + length + 1;
  // The adapter has checked the checksum already; a clone may leave it out, unless the adapter
  // said the frame was wrong.
  if (bytes.size() + (needChecksum ? 0 : 1) < total) return kKwpBodyShort;
  if (bytes.size() >= total && ByteSum(bytes.data(), total - 1) != bytes[total - 1])
    return kKwpBadChecksum;
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), length, ResponseBuffer.begin());
  std::fill(ResponseBuffer.begin() + static_cast<std::ptrdiff_t>(length), ResponseBuffer.end(),
            uint8_t{0});
  return kKwpPositive;
}

int32_t ElmLink::JudgeAnswer(const Reply& reply, uint8_t serviceId, int& repeatCount, bool& resend,
                             bool initAtRequest) {
  resend = false;
  std::vector<uint8_t> bytes;
  for (const std::string& line : reply.lines) {
    switch (ClassifyElmLine(line)) {
      case ElmLineKind::Blank:
      case ElmLineKind::BusInitOk:
        continue;
      case ElmLineKind::Unknown:
        if (initAtRequest) {
          Refuse(kNoFastInit);
          return kKwpAdapterUnfit;
        }
        return kKwpNoResponse;
      case ElmLineKind::NoData:
      case ElmLineKind::InitFailed:
      case ElmLineKind::Stopped:
      case ElmLineKind::Error:
        return kKwpNoResponse;
      case ElmLineKind::BufferFull:
        return kKwpBodyShort;
      case ElmLineKind::DataError: {
        // The bytes before the complaint: a whole frame has a wrong checksum, a part of one
        // broke off.
        const std::string_view head(line.data(),
                                    line.find('<') == std::string::npos ? 0 : line.find('<'));
        if (!ParseElmHexLine(head, bytes)) return kKwpBadChecksum;
        const int32_t taken = TakeFrame(bytes, true);
        return taken == kKwpPositive ? kKwpBadChecksum : taken;
      }
      case ElmLineKind::Bytes:
        break;
    }
    ParseElmHexLine(line, bytes);
    if (const int32_t taken = TakeFrame(bytes, false); taken != kKwpPositive) return taken;
    if (trace_) trace_->Received(bytes);
    if (ResponseDataLength == 0) return kKwpUnexpected;
    if (ResponseBuffer[0] == kNegativeResponse) {
      const uint8_t code = ResponseBuffer[1] == serviceId ? ResponseBuffer[2] : ResponseBuffer[1];
      if (repeatCount >= kMaxAbsorbed) return kKwpTooManyBusy;
      if (code == kBusyRepeatRequest || code == kBusy77) {
        ++repeatCount;
        resend = true;
        return kKwpNoResponse;
      }
      if (code == kResponsePending) {
        ++repeatCount;  // the final answer follows as a further line
        continue;
      }
      return kKwpNegative;
    }
    return ResponseBuffer[0] == static_cast<uint8_t>(serviceId ^ 0x40) ? kKwpPositive
                                                                       : kKwpUnexpected;
  }
  // Only chatter, or pending answers whose final answer the adapter stopped waiting for.
  return kKwpNoResponse;
}

int32_t ElmLink::Request(const KwpRequest& request, bool initAtRequest, int32_t delayMs) {
  // Before the bus is up a request would make the adapter initialise it with whatever header
  // was set last: nothing is sent.
  if (!busOpen_ && !initAtRequest) return kKwpNoResponse;
  std::string digits = HexDigits(request.Message.data(), request.Length);
  // From version 1.3 on a digit after the request tells the adapter that one answer is all
  // this ECU sends: it hands it over at once instead of listening on for further ones.
  if (VersionOf(identity_) >= 13) digits += '1';
  int repeatCount = 0;
  for (;;) {
    const Reply reply = Command(digits, initAtRequest ? InitTimeoutMs : RequestTimeoutMs);
    if (reply.cancelled) return kKwpCancelled;
    if (!reply.prompt) return kKwpNoResponse;
    bool resend = false;
    const int32_t result =
        JudgeAnswer(reply, request.ServiceId(), repeatCount, resend, initAtRequest);
    if (!resend) return result;
    // Busy: the request goes again after the caller's delay, as on a KKL cable.
    if (delayMs > 0) clock_.Sleep(static_cast<uint32_t>(delayMs));
    if (!KeepWaiting()) return kKwpCancelled;
  }
}

int32_t ElmLink::Transact(const KwpRequest& request, int32_t delayMs) {
  if (request.Length == 0) return kKwpBadHeaderMode;  // nothing to send
  if (request.Length == 1 && request.ServiceId() == kStartCommunication)
    return StartCommunication(delayMs);
  if (request.Length > kElmMaxRequestLength) return kKwpTooLong;
  if (delayMs > 0) clock_.Sleep(static_cast<uint32_t>(delayMs));
  if (!KeepWaiting()) return kKwpCancelled;
  const int32_t result = Request(request, false, delayMs);
  if (request.Length == 1 && request.ServiceId() == kStopCommunication && busOpen_) {
    // The ECU has ended the communication (or is gone): the adapter closes its side too and
    // stops its periodic message.
    const Reply pc = Command("ATPC", CommandTimeoutMs);
    (void)pc;
    busOpen_ = false;
  }
  return result;
}

}  // namespace kvd
