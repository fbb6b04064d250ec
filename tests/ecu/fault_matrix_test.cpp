// SPDX-License-Identifier: GPL-3.0-or-later
// Every fault of the virtual ECU against every operation of the program, on the virtual
// clock, through the KKL link and behind a virtual ELM327 through its link: the user sees the
// operation's own message (or its result), the session ends only where a broken link must end it,
// the time stays within what the retries and time-outs of the exchanges add up to, and the
// recording made before is left byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ctrl_rig.h"
#include "data/parameters.h"
#include "ecu/ecu_status.h"
#include "ecu/identification.h"
#include "ecu/learn_memory.h"
#include "session/response_codes.h"
#include "worst_case.h"

namespace kvd::test {
namespace {

enum class Op {
  Connect,
  LiveData,
  Adc,
  TroubleCodes,
  ClearCodes,
  IdentRead,
  IdentWrite,
  Flags,
  Reset,
  Immo,
  Learn,
  Actuator,
  ReturnControl,
};

constexpr std::array kOps = {Op::Connect,      Op::LiveData,  Op::Adc,        Op::TroubleCodes,
                             Op::ClearCodes,   Op::IdentRead, Op::IdentWrite, Op::Flags,
                             Op::Reset,        Op::Immo,      Op::Learn,      Op::Actuator,
                             Op::ReturnControl};

const char* OpName(Op op) {
  switch (op) {
    case Op::Connect:
      return "connect";
    case Op::LiveData:
      return "live data";
    case Op::Adc:
      return "ADC";
    case Op::TroubleCodes:
      return "trouble codes";
    case Op::ClearCodes:
      return "clear codes";
    case Op::IdentRead:
      return "ident read";
    case Op::IdentWrite:
      return "ident write";
    case Op::Flags:
      return "flags";
    case Op::Reset:
      return "reset";
    case Op::Immo:
      return "immobilizer";
    case Op::Learn:
      return "learn memory";
    case Op::Actuator:
      return "actuator";
    case Op::ReturnControl:
      return "return control";
  }
  return "?";
}

// Outputs touched before the return of control: four, so that a dead link reaches the
// fourth failure and the short message.
constexpr std::array<int32_t, 4> kTouched = {0, 2, 8, 9};
constexpr int32_t kSwitchedItem = 2;  // "Форсунка 1", local id 01

// The same exchanges through an ELM327.
uint64_t ElmBoundMs(Op op) {
  namespace e = worst::elm;
  switch (op) {
    case Op::Connect:
      return e::Connect();
    case Op::LiveData:
    case Op::TroubleCodes:
    case Op::Flags:
    case Op::Immo:
      return e::Retry() + e::StopSession();
    case Op::Adc:
      return 2 * e::Retry() + e::StopSession();
    case Op::ClearCodes:
      return worst::kClearAttempts * e::Transaction(worst::kClearDelayMs);
    case Op::IdentRead:
      return worst::kIdentReads * e::Retry();
    case Op::IdentWrite:
      return 0;  // refused before anything is sent
    case Op::Reset:
      return e::Retry() + e::StopSession() + e::Connect();
    case Op::Learn:
      return worst::kLearnBlocks * e::Retry();
    case Op::Actuator:
      return 2 * e::Retry(worst::kIoEarlyDelayMs) + e::StopSession();
    case Op::ReturnControl:
      return kTouched.size() * e::Retry(worst::kIoEarlyDelayMs);
  }
  return 0;
}

uint64_t BoundMs(Op op, bool elm) {
  if (elm) return ElmBoundMs(op);
  switch (op) {
    case Op::Connect:
      return worst::Connect();
    case Op::LiveData:
      return worst::LiveDataTick(false);
    case Op::Adc:
      return worst::LiveDataTick(true);
    case Op::TroubleCodes:
      return worst::TroubleCodeTick();
    case Op::ClearCodes:
      return worst::ClearTick();
    case Op::IdentRead:
      return worst::IdentRead();
    case Op::IdentWrite:
      return worst::IdentWrite();
    case Op::Flags:
      return worst::OneRead();
    case Op::Reset:
      return worst::Reset();
    case Op::Immo:
      return worst::OneRead();
    case Op::Learn:
      return worst::LearnBank();
    case Op::Actuator:
      return worst::ActuatorSwitch();
    case Op::ReturnControl:
      return worst::ReturnControl(kTouched.size());
  }
  return 0;
}

// The service (and first parameter) of the request that the "refused" row refuses.
std::pair<int32_t, int32_t> RefusedRequest(Op op) {
  switch (op) {
    case Op::Connect:
      return {0x10, -1};
    case Op::LiveData:
      return {0x21, 0x01};
    case Op::Adc:
      return {0x21, 0x03};
    case Op::TroubleCodes:
      return {0x18, -1};
    case Op::ClearCodes:
      return {0x14, -1};
    case Op::IdentRead:
      return {0x1A, -1};
    case Op::IdentWrite:
      return {0x3B, -1};
    case Op::Flags:
      return {0x21, 0x01};
    case Op::Reset:
      return {0x11, -1};
    case Op::Immo:
      return {0x21, 0xA0};
    case Op::Learn:
      return {0x23, -1};
    case Op::Actuator:
      return {0x30, -1};
    case Op::ReturnControl:
      return {0x30, -1};
  }
  return {-1, -1};
}

// What a fault does to the exchanges it touches, as the operations tell them apart.
enum class Effect {
  None,       // every exchange succeeds
  Link,       // the link fails: a result below 0
  Refusal,    // the ECU refuses: 7F with `code` (also after five busy or pending answers)
  Garbled,    // an answer arrives but is not the positive one: wrong checksum, other service
  WrongKeys,  // only StartCommunication is answered wrongly
  ShortData,  // only the live-data block comes one byte short
};

struct Fault {
  const char* name;
  Effect effect;
  uint8_t code;  // Refusal: the response code the user is shown
  std::function<void(VirtualEcu&, Op)> inject;
};

const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = {
      {"none", Effect::None, 0, [](VirtualEcu&, Op) {}},
      {"no answer", Effect::Link, 0,
       [](VirtualEcu& e, Op) { e.Faults().answerLimit = static_cast<int32_t>(e.AnswersSent()); }},
      {"lost echo", Effect::Link, 0, [](VirtualEcu& e, Op) { e.Faults().lostEchoBytes = 1; }},
      {"wrong checksum", Effect::Garbled, 0,
       [](VirtualEcu& e, Op) { e.Faults().badChecksum = true; }},
      {"truncated frames", Effect::Link, 0, [](VirtualEcu& e, Op) { e.Faults().truncated = true; }},
      {"busy storm", Effect::Refusal, 0x21,
       [](VirtualEcu& e, Op) { e.Faults().busyAnswers = 1'000'000; }},
      {"pending storm", Effect::Refusal, 0x78,
       [](VirtualEcu& e, Op) {
         e.Faults().pendingAnswers = 6;
         e.Faults().pendingOnly = true;
       }},
      {"wrong key bytes", Effect::WrongKeys, 0,
       [](VirtualEcu& e, Op) { e.Faults().wrongKeyBytes = true; }},
      {"short live data", Effect::ShortData, 0,
       [](VirtualEcu& e, Op) { e.Faults().shortLiveData = true; }},
      {"refused service", Effect::Refusal, 0x22,
       [](VirtualEcu& e, Op op) {
         const auto [service, id] = RefusedRequest(op);
         e.Faults().refuseService = service;
         e.Faults().refuseId = id;
         e.Faults().refuseCode = 0x22;
       }},
      {"other service answers", Effect::Garbled, 0,
       [](VirtualEcu& e, Op) { e.Faults().wrongService = true; }},
      {"plug pulled mid-frame", Effect::Link, 0,
       [](VirtualEcu& e, Op) { e.Faults().pullPlugAfterBytes = 5; }},
      // Bursts when the line opens and after each session: the quiet-line wait outlasts them.
      {"noise bursts", Effect::None, 0, [](VirtualEcu& e, Op) { e.Faults().noiseBytes = 200; }},
      {"stray bytes in answers", Effect::Garbled, 0,
       [](VirtualEcu& e, Op) { e.Faults().noisyAnswers = true; }},
  };
  return faults;
}

// Passes the commands' messages into the same log as the session's, in order, and answers
// the reset question with Yes.
class LoggingEcuUi final : public EcuUi {
 public:
  explicit LoggingEcuUi(std::vector<std::string>& log) : log_(log) {}
  void ShowMessage(const std::string& text) override { log_.push_back(text); }
  bool Confirm(const std::string&) override { return true; }
  void SetBusyCursor(bool) override {}
  void ShowBusyNotice(const std::string&) override {}
  void HideBusyNotice() override {}

 private:
  std::vector<std::string>& log_;
};

template <class Rig>
struct MatrixRig : Rig {
  LoggingEcuUi ecuUi{this->ui.messages};
  FakeBar bar;
  ActuatorControl control{this->session, ecuUi, bar};
};

// Eight records recorded earlier, with both selection marks, as a file would bring them.
std::vector<uint8_t> EarlierRecords() {
  std::vector<uint8_t> bytes(8 * kRecordSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  for (int32_t r = 0; r < 8; ++r) StoreLE32(&bytes[r * kRecordSize + 4], 0);
  StoreLE32(&bytes[1 * kRecordSize + 4], kMarkStartBit);
  StoreLE32(&bytes[5 * kRecordSize + 4], kMarkEndBit);
  return bytes;
}

std::vector<uint8_t> HistoryBytes(const HistoryStore& h) {
  return {h.RecordBytes(), h.RecordBytes() + static_cast<size_t>(h.RecordCount()) * kRecordSize};
}

struct Expectation {
  std::vector<std::string> messages;
  bool connected = true;
  bool failed = true;  // the operation did not get what it asked for
};

// The outcome the user must see, from the kind of failure and the operation's own rules.
Expectation Expected(Op op, const Fault& fault, const VirtualEcu& ecu, bool elm) {
  // An ELM327 sends at most 8 message bytes: no identification record can be written.
  if (elm && op == Op::IdentWrite) return {{IdentTooLongMessage(kElmMaxRequestLength)}, true};
  Effect effect = fault.effect;
  if (effect == Effect::WrongKeys && op != Op::Connect && op != Op::Reset) effect = Effect::None;
  if (effect == Effect::ShortData && op != Op::LiveData && op != Op::Adc) effect = Effect::None;
  if (effect == Effect::ShortData) return {{}, true, false};  // only the status bar warns
  const std::array<uint8_t, 4> flagsAnswer = {0x61, 0x01, ecu.Settings().configFlags[0],
                                              ecu.Settings().configFlags[1]};
  const std::array<uint8_t, 4> immoAnswer = {0x61, 0xA0, 0x00, ecu.Settings().immoStatus};

  if (effect == Effect::None) {
    switch (op) {
      case Op::Flags:
        return {{ConfigFlagsText(flagsAnswer)}, true, false};
      case Op::Immo:
        return {{ImmoStatusText(immoAnswer)}, true, false};
      case Op::Reset:
        return {{kResetDoneText}, true, false};
      default:
        return {{}, true, false};
    }
  }
  if (effect == Effect::WrongKeys) {
    if (op == Op::Connect) return {{kConnectFailedText}, false};
    return {{kResetDoneText, kConnectFailedText}, false};  // the reset is done, the reconnect fails
  }
  // A failure after the retries.
  const std::string refusal = ResponseCodeText(fault.code);
  switch (op) {
    case Op::Connect:
      return {{kConnectFailedText}, false};
    case Op::LiveData:
    case Op::Adc:
      return {{LinkLostMessage(kSvcReadDataByLocalIdentifier)}, false};
    case Op::TroubleCodes:
      return {{LinkLostMessage(kSvcReadDtcByStatus)}, false};
    case Op::ClearCodes:
      return {
          {effect == Effect::Refusal ? refusal : KwpErrorMessage(kSvcClearDiagnosticInformation)},
          true};
    case Op::IdentRead:
      return {{LinkLostMessage(kSvcReadDataByLocalIdentifier)}, true};
    case Op::IdentWrite:
      return {{IdentWriteFailedMessage()}, true};
    case Op::Flags:
      return {{KwpErrorMessage(kSvcReadDataByLocalIdentifier)}, true};
    case Op::Reset:
      return {{KwpErrorMessage(kSvcEcuReset)}, true};
    case Op::Immo:
      return {{LinkLostMessage(kSvcReadDataByLocalIdentifier)}, true};
    case Op::Learn:
      return {{kLearnReadFailedText}, true};
    case Op::Actuator:
      if (effect == Effect::Link) return {{LinkLostMessage(kSvcInputOutputControl)}, false};
      if (effect == Effect::Refusal) return {{refusal}, true};
      return {{KwpErrorMessage(kSvcInputOutputControl)}, true};
    case Op::ReturnControl:
      // Refusals and garbled answers count as done; the fourth dead output stops the loop.
      if (effect == Effect::Link) return {{kReturnControlAbortText}, true};
      return {{}, true};
  }
  return {};
}

// Runs the operation; checks of its own results go to the caller through `success`.
template <class Rig>
void RunOp(Op op, MatrixRig<Rig>& rig, const IdentValues& identAsRead) {
  DiagSession& s = rig.session;
  switch (op) {
    case Op::Connect:
      rig.session.PollStep();
      break;
    case Op::LiveData:
      s.PollStep();
      break;
    case Op::Adc:
      rig.ui.adcShown = true;
      s.PollStep();
      break;
    case Op::TroubleCodes:
      s.Tag |= kErrListShown;
      s.PollSlot = 0;  // the next tick reads the trouble codes
      s.PollStep();
      break;
    case Op::ClearCodes:
      s.Tag |= kClearRequested;
      s.PollStep();
      break;
    case Op::IdentRead: {
      IdentValues values;
      ReadIdentification(s, rig.ecuUi, values);
      break;
    }
    case Op::IdentWrite:
      WriteIdentification(s, rig.ecuUi, PadIdentValues(identAsRead, identAsRead));
      break;
    case Op::Flags:
      ShowConfigFlags(s, rig.ecuUi);
      break;
    case Op::Reset:
      ResetEcu(s, rig.ecuUi);
      break;
    case Op::Immo:
      ShowImmoStatus(s, rig.ecuUi);
      break;
    case Op::Learn: {
      LearnTable table{};
      ReadLearnMemory(s, rig.ecuUi, 1, table);
      break;
    }
    case Op::Actuator:
      rig.bar.checked = true;  // "Управление" is on
      rig.bar.selected = kSwitchedItem;
      rig.control.comboCtrlChange(CtrlSender::User);
      rig.control.tbCtrlChange(CtrlSender::On);
      break;
    case Op::ReturnControl:
      rig.control.TouchedItems.fill(false);
      for (int32_t i : kTouched) rig.control.TouchedItems[static_cast<size_t>(i)] = true;
      rig.control.ReturnControl();
      break;
  }
}

template <class Rig>
void RunMatrix(bool elm) {
  std::map<Op, uint64_t> worstMeasuredMs;
  std::map<Op, std::string> worstFault;
  for (const Fault& fault : Faults()) {
    for (Op op : kOps) {
      SCOPED_TRACE(std::string(fault.name) + " / " + OpName(op));
      MatrixRig<Rig> rig;
      const std::vector<uint8_t> earlier = EarlierRecords();
      rig.history.Load(earlier.data(), 8);
      IdentValues identAsRead;
      if (op != Op::Connect) {
        ASSERT_TRUE(rig.ConnectByTick());
        rig.Ticks(2);  // two live records after the earlier ones
        if (op == Op::IdentWrite) {
          ASSERT_EQ(ReadIdentification(rig.session, rig.ecuUi, identAsRead), 0);
        }
        ASSERT_TRUE(rig.ui.messages.empty());
      }
      const std::vector<uint8_t> before = HistoryBytes(rig.history);
      const int32_t countBefore = rig.history.RecordCount();
      const uint32_t ticksBefore = rig.session.TickCount;
      fault.inject(rig.ecu, op);

      const uint64_t start = rig.clock.MicrosNow();
      RunOp(op, rig, identAsRead);
      const uint64_t tookMs = (rig.clock.MicrosNow() - start + 999) / 1000;

      const Expectation want = Expected(op, fault, rig.ecu, elm);
      EXPECT_EQ(rig.ui.messages, want.messages);
      EXPECT_EQ(rig.session.Connected, want.connected);
      EXPECT_LE(tookMs, BoundMs(op, elm));
      if (tookMs > worstMeasuredMs[op]) {
        worstMeasuredMs[op] = tookMs;
        worstFault[op] = fault.name;
      }

      // The records made before are untouched, whatever the operation met.
      const std::vector<uint8_t> after = HistoryBytes(rig.history);
      ASSERT_GE(after.size(), before.size());
      EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));

      // A few results of their own.
      const bool failed = want.failed;
      const Effect effect = fault.effect;
      if (op == Op::LiveData || op == Op::Adc) {
        // A live-data answer, even a short one, is recorded; a failed read records nothing.
        const bool refusedAdcOnly = std::string(fault.name) == "refused service" && op == Op::Adc;
        const bool liveRead = effect == Effect::None || effect == Effect::WrongKeys ||
                              effect == Effect::ShortData || refusedAdcOnly;
        EXPECT_EQ(rig.history.RecordCount(), countBefore + (liveRead ? 1 : 0));
        if (effect == Effect::ShortData) {
          ASSERT_FALSE(rig.ui.warnings.empty());
          EXPECT_EQ(rig.ui.warnings.back(), ((ticksBefore + 1) & 1)
                                                ? std::string(kWrongLengthText)
                                                : std::string(kWrongLengthBlankCount, ' '));
          EXPECT_EQ(rig.history.RecordAt(countBefore)->Bytes[kRecordSize - 3], 0)
              << "the missing last byte is recorded as 0";
        }
      }
      if (op == Op::ClearCodes) {
        EXPECT_EQ((rig.session.Tag & kClearRequested) != 0, failed);
      }
      if (op == Op::TroubleCodes) {
        EXPECT_EQ(rig.ui.troubleCodes.size(), failed ? 0u : 1u);
      }
      if (op == Op::Actuator) {
        // The value shown comes from a positive answer about the output, never from another.
        if (failed) {
          EXPECT_EQ(rig.bar.valueText, "");
        } else {
          EXPECT_TRUE(rig.bar.valueText == "вкл." || rig.bar.valueText == "выкл.");
        }
      }
    }
  }
  std::printf("%-16s %14s %14s  %s\n", "operation", "worst ms", "bound ms", "slowest fault");
  for (Op op : kOps) {
    std::printf("%-16s %14llu %14llu  %s\n", OpName(op),
                static_cast<unsigned long long>(worstMeasuredMs[op]),
                static_cast<unsigned long long>(BoundMs(op, elm)), worstFault[op].c_str());
  }
}

TEST(FaultMatrix, EveryFaultAgainstEveryOperation) {
  RunMatrix<SessionRig>(false);
}

// The same faults of the ECU behind a virtual ELM327, through the ELM327 link.
TEST(FaultMatrix, EveryFaultBehindAnElm327) {
  RunMatrix<ElmSessionRig>(true);
}

}  // namespace
}  // namespace kvd::test
