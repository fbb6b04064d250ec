// SPDX-License-Identifier: GPL-3.0-or-later
// The ELM327 link against a scripted adapter on the virtual clock: what the adapter answers,
// and what the link makes of it.
#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/elm_link.h"
#include "link/serial_port.h"

namespace kvd::test {
namespace {

// An adapter that answers each command line from a script: AT commands "OK" unless told
// otherwise, requests from a queue of answer texts. Every answer ends with the prompt, unless
// it is scripted without one.
class ScriptedElm final : public SerialPort {
 public:
  explicit ScriptedElm(VirtualClock& clock) : clock_(clock) {}

  std::map<std::string, std::string> at = {{"ATZ", "ELM327 v1.5"},
                                           {"ATWS", "ELM327 v1.5"},
                                           {"ATFI", "BUS INIT: OK"},
                                           {"ATKW", "1:6B 2:8F"},
                                           {"ATRV", "12.4V"}};
  std::deque<std::string> answers;  // to requests, in order; "" and no prompt: see silent
  bool silent = false;              // the next answer never ends with a prompt
  std::vector<std::string> commands;
  // Lines written while the adapter still owed its prompt.
  int32_t writesBeforePrompt = 0;

  int32_t OpenPort(uint16_t) override { return Open(); }
  int32_t OpenDevice(const std::string&) override { return Open(); }
  bool IsOpen() const override { return open_; }
  std::string DeviceName() const override { return "scripted"; }
  int32_t SetLineParameters(uint32_t, uint8_t, uint8_t, uint8_t) override { return kPortOk; }
  bool SetReadTimeouts(uint32_t, uint32_t, uint32_t constant) override {
    constantMs_ = constant;
    return true;
  }
  bool GetTimeouts(SerialTimeouts&) override { return true; }
  bool SetBreak(bool) override { return true; }
  bool SetModemLines(bool, bool) override { return true; }
  bool PurgePort() override { return true; }
  int32_t WriteBytes(uint32_t count, const uint8_t* bytes) override {
    for (uint32_t i = 0; i < count; ++i) {
      if (bytes[i] != '\r') {
        line_ += static_cast<char>(bytes[i]);
        continue;
      }
      if (owing_) ++writesBeforePrompt;
      commands.push_back(line_);
      Answer(line_);
      line_.clear();
    }
    return 0;
  }
  int32_t ReadByte() override {
    uint8_t b = 0;
    return ReadBytes(1, &b) == 1 ? b : -1;
  }
  int32_t ReadBytes(uint32_t count, uint8_t* buffer) override {
    if (out_.empty()) {
      clock_.AdvanceMs(constantMs_);
      return -1;
    }
    uint32_t n = 0;
    while (n < count && !out_.empty()) {
      buffer[n++] = static_cast<uint8_t>(out_.front());
      if (out_.front() == '>') owing_ = false;
      out_.pop_front();
    }
    clock_.AdvanceMs(1);
    return static_cast<int32_t>(n);
  }
  void ClosePort() override { open_ = false; }

  // The requests (not AT commands) sent so far.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const std::string& c : commands)
      if (c.rfind("AT", 0) != 0) out.push_back(c);
    return out;
  }

 private:
  int32_t Open() {
    open_ = true;
    return kPortOk;
  }
  void Answer(const std::string& command) {
    std::string text;
    if (command.rfind("AT", 0) == 0) {
      const auto it = at.find(command);
      text = it != at.end() ? it->second : "OK";
    } else if (!answers.empty()) {
      text = answers.front();
      answers.pop_front();
    } else {
      text = "NO DATA";
    }
    owing_ = true;
    for (char c : text) out_.push_back(c == '|' ? '\r' : c);  // '|' separates lines
    out_.push_back('\r');
    if (silent) {
      silent = false;
      return;
    }
    out_.push_back('\r');
    out_.push_back('>');
  }

  VirtualClock& clock_;
  bool open_ = false;
  bool owing_ = false;
  uint32_t constantMs_ = 50;
  std::string line_;
  std::deque<char> out_;
};

// The text of a frame as the adapter shows it with headers on: 80+n F1 10, message, checksum.
std::string FrameText(const std::vector<uint8_t>& message, int checksumError = 0) {
  std::vector<uint8_t> f = {static_cast<uint8_t>(0x80 | message.size()), 0xF1, 0x10};
  f.insert(f.end(), message.begin(), message.end());
  uint32_t sum = 0;
  for (uint8_t b : f) sum += b;
  f.push_back(static_cast<uint8_t>(sum + checksumError));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : f) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

struct ElmRig {
  VirtualClock clock{1'000'000};
  ScriptedElm adapter{clock};
  ElmLink link{adapter, clock};

  ElmRig() {
    adapter.OpenDevice("x");
    link.SetSessionLine();
    link.TargetAddress = 0x10;
  }
  int32_t Connect() { return link.KwpTransaction(KwpRequest{0x81}); }
};

const std::vector<uint8_t> kLive = {0x61, 0x01, 0x10, 0x20, 0x30};

TEST(ElmLinkTest, AdapterAnswersAgainstLinkResults) {
  struct Row {
    const char* what;
    std::vector<std::string> answers;  // to 21 01, in order (busy answers make it go again)
    int32_t result;
    int32_t dataLength;  // ResponseDataLength afterwards (-1: as before)
    uint8_t first;       // ResponseBuffer[0] afterwards (0: not checked)
    size_t requestsSent;
  };
  const std::string live = FrameText(kLive);
  const std::string pending = FrameText({0x7F, 0x21, 0x78});
  const std::string busy = FrameText({0x7F, 0x21, 0x21});
  std::string spaced;
  for (size_t i = 0; i < live.size(); i += 2)
    spaced += std::string(i ? " " : "") + static_cast<char>(std::tolower(live[i])) +
              static_cast<char>(std::tolower(live[i + 1]));
  const std::vector<Row> rows = {
      {"positive", {live}, kKwpPositive, 5, 0x61, 1},
      {"with spaces, lower case", {spaced}, kKwpPositive, 5, 0x61, 1},
      {"without the checksum byte", {live.substr(0, live.size() - 2)}, kKwpPositive, 5, 0x61, 1},
      {"pending, then positive", {pending + "|" + pending + "|" + live}, kKwpPositive, 5, 0x61, 1},
      {"pending, then nothing more", {pending}, kKwpNoResponse, 3, 0x7F, 1},
      {"six pending answers",
       {pending + "|" + pending + "|" + pending + "|" + pending + "|" + pending + "|" + pending +
        "|" + live},
       kKwpTooManyBusy,
       3,
       0x7F,
       1},
      {"busy, then positive", {busy, busy, live}, kKwpPositive, 5, 0x61, 3},
      {"busy six times", {busy, busy, busy, busy, busy, busy}, kKwpTooManyBusy, 3, 0x7F, 6},
      {"refused", {FrameText({0x7F, 0x21, 0x22})}, kKwpNegative, 3, 0x7F, 1},
      {"another service", {FrameText({0x62, 0x01})}, kKwpUnexpected, 2, 0x62, 1},
      {"empty message", {"80F1100081"}, kKwpUnexpected, 0, 0, 1},
      {"wrong checksum", {FrameText(kLive, 1)}, kKwpBadChecksum, 5, 0, 1},
      {"<DATA ERROR after the frame",
       {FrameText(kLive, 1) + " <DATA ERROR"},
       kKwpBadChecksum,
       5,
       0,
       1},
      {"<DATA ERROR after a broken frame",
       {live.substr(0, 10) + "<DATA ERROR"},
       kKwpBodyShort,
       5,
       0,
       1},
      {"<DATA ERROR, only the checksum missing",
       {live.substr(0, live.size() - 2) + "<DATA ERROR"},
       kKwpBodyShort,
       5,
       0,
       1},
      {"header of form 80 cut", {"80F110"}, kKwpHeader80Short, 0, 0, 1},
      {"NO DATA", {"NO DATA"}, kKwpNoResponse, -1, 0, 1},
      {"BUS INIT: ERROR", {"BUS INIT: ...ERROR"}, kKwpNoResponse, -1, 0, 1},
      {"UNABLE TO CONNECT", {"UNABLE TO CONNECT"}, kKwpNoResponse, -1, 0, 1},
      {"BUFFER FULL", {"BUFFER FULL"}, kKwpBodyShort, -1, 0, 1},
      {"STOPPED", {"STOPPED"}, kKwpNoResponse, -1, 0, 1},
      {"?", {"?"}, kKwpNoResponse, -1, 0, 1},
      {"BUS ERROR", {"BUS ERROR"}, kKwpNoResponse, -1, 0, 1},
      {"garbage", {"\x01\x7F\xFFzz!"}, kKwpNoResponse, -1, 0, 1},
      {"BUS INIT line before the answer", {"BUS INIT: OK|" + live}, kKwpPositive, 5, 0x61, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ElmRig rig;
    ASSERT_EQ(rig.Connect(), kKwpPositive);
    rig.link.ResponseDataLength = 77;
    for (const std::string& a : row.answers) rig.adapter.answers.push_back(a);
    EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x21, 0x01}), row.result);
    EXPECT_EQ(rig.link.ResponseDataLength, row.dataLength < 0 ? 77 : row.dataLength);
    if (row.first != 0) {
      EXPECT_EQ(rig.link.ResponseBuffer[0], row.first);
    }
    EXPECT_EQ(rig.adapter.Requests().size(), row.requestsSent);
    EXPECT_EQ(rig.adapter.writesBeforePrompt, 0);
  }
}

// The whole of a connect with a genuine adapter, then a request, then the end of the session.
TEST(ElmLinkTest, ConnectSetsTheAdapterUpForThisEcu) {
  ElmRig rig;
  ASSERT_EQ(rig.Connect(), kKwpPositive);
  EXPECT_EQ(rig.link.ResponseDataLength, 3);
  EXPECT_EQ(rig.link.ResponseBuffer[0], 0xC1);
  EXPECT_EQ(rig.link.ResponseBuffer[1], 0x6B);
  EXPECT_EQ(rig.link.ResponseBuffer[2], 0x8F);
  EXPECT_EQ(rig.link.AdapterInfo(), "ELM327 v1.5, 12.4V");
  EXPECT_EQ(rig.adapter.commands,
            (std::vector<std::string>{"ATZ", "ATE0", "ATL0", "ATS0", "ATH1", "ATAL", "ATKW0",
                                      "ATSP5", "ATSH8110F1", "ATWM8210F13E01", "ATST19", "ATAT1",
                                      "ATFI", "ATKW", "ATSH8010F1", "ATRV"}));
  rig.adapter.answers.push_back(FrameText({0xC2}));
  rig.adapter.commands.clear();
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x82}), kKwpPositive);
  EXPECT_EQ(rig.adapter.commands, (std::vector<std::string>{"821", "ATPC"}));
  // A closed bus takes no request until the next connect, which resets the adapter warm.
  rig.adapter.commands.clear();
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpNoResponse);
  EXPECT_TRUE(rig.adapter.commands.empty());
  EXPECT_EQ(rig.Connect(), kKwpPositive);
  EXPECT_EQ(rig.adapter.commands.front(), "ATWS");
}

TEST(ElmLinkTest, AdaptersThatLackAFeature) {
  struct Row {
    const char* what;
    std::map<std::string, std::string> at;  // answers that differ from a genuine adapter's
    std::vector<std::string> answers;
    int32_t result;
    const char* refusalPart;  // in Refusal(), with the identity; null: no refusal
    const char* lastCommand;  // the last command sent
  };
  const std::vector<Row> rows = {
      {"no ATAL", {{"ATAL", "?"}}, {}, kKwpAdapterUnfit, "(ATAL)", "ATAL"},
      {"no protocol 5", {{"ATSP5", "?"}}, {}, kKwpAdapterUnfit, "(ATSP5)", "ATSP5"},
      {"no ATWM, ATSW 00 instead", {{"ATWM8210F13E01", "?"}}, {}, kKwpPositive, nullptr, "ATRV"},
      {"neither ATWM nor ATSW",
       {{"ATWM8210F13E01", "?"}, {"ATSW00", "?"}},
       {},
       kKwpAdapterUnfit,
       "(ATWM, ATSW)",
       "ATSW00"},
      {"no ATFI: initialised at StartCommunication",
       {{"ATFI", "?"}},
       {"BUS INIT: ...OK|" + FrameText({0xC1, 0x6B, 0x8F})},
       kKwpPositive,
       nullptr,
       "ATRV"},
      {"no ATFI and no init at a request",
       {{"ATFI", "?"}},
       {"?"},
       kKwpAdapterUnfit,
       "(ATFI)",
       "811"},
      {"no key bytes shown: StartCommunication asked",
       {{"ATKW", "?"}},
       {FrameText({0xC1, 0x6B, 0x8F})},
       kKwpPositive,
       nullptr,
       "ATRV"},
      {"bus init fails", {{"ATFI", "BUS INIT: ERROR"}}, {}, kKwpNoResponse, nullptr, "ATFI"},
      {"no answer to the reset", {{"ATZ", ""}}, {}, kKwpNoResponse, nullptr, "ATZ"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ElmRig rig;
    for (const auto& [command, text] : row.at) rig.adapter.at[command] = text;
    rig.adapter.at["ATZ"] = row.at.count("ATZ") ? row.at.at("ATZ") : "ELM327 v2.1";
    if (row.at.count("ATZ")) rig.adapter.silent = true;
    for (const std::string& a : row.answers) rig.adapter.answers.push_back(a);
    EXPECT_EQ(rig.Connect(), row.result);
    if (row.refusalPart) {
      EXPECT_NE(rig.link.Refusal().find("«ELM327 v2.1»"), std::string::npos) << rig.link.Refusal();
      EXPECT_NE(rig.link.Refusal().find(row.refusalPart), std::string::npos) << rig.link.Refusal();
    } else {
      EXPECT_EQ(rig.link.Refusal(), "");
    }
    EXPECT_EQ(rig.adapter.commands.back(), row.lastCommand);
    if (row.result == kKwpPositive) {
      EXPECT_EQ(rig.link.ResponseBuffer[1], 0x6B);
    }
    EXPECT_EQ(rig.adapter.writesBeforePrompt, 0);
  }
}

// What the adapter cannot carry is refused before anything goes out; a prompt that never came
// is waited for before the next line.
TEST(ElmLinkTest, LongRequestsAndLostPrompts) {
  ElmRig rig;
  ASSERT_EQ(rig.Connect(), kKwpPositive);
  const size_t before = rig.adapter.commands.size();
  std::vector<uint8_t> write = {0x3B, 0xA1, '0', '1', '2', '3', '4', '5', '6'};
  EXPECT_EQ(rig.link.KwpRetry(KwpRequest(write)), kKwpTooLong);
  EXPECT_EQ(rig.adapter.commands.size(), before);
  write.pop_back();
  rig.adapter.answers.push_back(FrameText({0x7B, 0xA1}));
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest(write)), kKwpPositive);

  rig.adapter.silent = true;
  rig.adapter.answers.push_back(FrameText(kLive));
  const uint64_t start = rig.clock.MicrosNow();
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpNoResponse);
  EXPECT_GE(rig.clock.MicrosNow() - start, uint64_t{rig.link.RequestTimeoutMs} * 1000);
  rig.adapter.answers.push_back(FrameText(kLive));
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{0x21, 0x01}, 5), kKwpBadHeaderMode);
  EXPECT_EQ(rig.link.KwpTransaction(KwpRequest{}), kKwpBadHeaderMode);
}

}  // namespace
}  // namespace kvd::test
