// SPDX-License-Identifier: GPL-3.0-or-later
// A long session on the virtual ECU and the virtual clock: faults come and go at random
// (seeded), the plug is pulled and put back, the user runs the commands of the menu and the
// control bar, and the recording fills up to its capacity. Nothing may crash, leak or grow,
// every return of the line must bring the session back, and the records stay as recorded.
// One virtual hour by default; KVD_SOAK_HOURS and KVD_SOAK_SEED choose others
// (tools/soak.sh runs the long one).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ctrl_rig.h"
#include "data/history.h"
#include "ecu/dtc.h"
#include "ecu/ecu_status.h"
#include "ecu/identification.h"
#include "ecu/learn_memory.h"
#include "session/response_codes.h"
#include "worst_case.h"

#if defined(__SANITIZE_ADDRESS__)
#define KVD_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVD_SOAK_ASAN 1
#endif
#endif

#if defined(KVD_SOAK_ASAN)
// The sanitizer runtime's count of the bytes its allocator holds for the program.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kvd::test {
namespace {

// Bytes the program holds on its heap (the history block is a mapping, not part of it).
// Zero where the platform cannot tell.
size_t HeapInUse() {
#if defined(KVD_SOAK_ASAN)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

// Resident memory in bytes (Linux), 0 elsewhere.
size_t ResidentBytes() {
#if defined(__linux__)
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const int n = std::fscanf(f, "%llu %llu", &size, &resident);
  std::fclose(f);
  return n == 2 ? static_cast<size_t>(resident) * 4096 : 0;
#else
  return 0;
#endif
}

uint64_t Fnv1a(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

double EnvNumber(const char* name, double fallback) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  char* end = nullptr;
  const double d = std::strtod(v, &end);
  return (end != v && d > 0) ? d : fallback;
}

bool KnownMessage(const std::string& m) {
  static const std::vector<std::string> prefixes = {
      LinkLostMessage(""),     KwpErrorMessage(""),      "KWPResponceCode: ", kConnectFailedText,
      kLearnReadFailedText,    kResetDoneText,           kImmoHeading,        "* ",
      kReturnControlAbortText, kReturnControlFailedText,
  };
  if (m.empty()) return true;  // "Комплектация" with no flag set
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](const std::string& p) { return m.compare(0, p.size(), p) == 0; });
}

struct Counters {
  uint64_t ticks = 0;
  uint64_t messages = 0;
  uint64_t unknownMessages = 0;
  uint64_t faults = 0;
  uint64_t plugPulls = 0;
  uint64_t disconnects = 0;
  uint64_t reconnects = 0;
  uint64_t reconnectFailures = 0;
  uint64_t commands = 0;
  uint64_t overBound = 0;
  uint64_t fullCalls = 0;
  uint64_t dtcLists = 0;
  uint64_t slowestTickMs = 0;
  uint64_t slowestCommandMs = 0;
  std::string lastMessage;
  std::string firstUnknown;
};

// The window as the session sees it, counting instead of keeping, so that nothing grows.
class SoakUi final : public SessionUi, public EcuUi {
 public:
  SoakUi(Counters& c, FakeBar& bar) : c_(c), bar_(bar) {}
  ActuatorControl* control = nullptr;

  void ShowMessage(const std::string& text) override {
    ++c_.messages;
    c_.lastMessage = text;
    if (!KnownMessage(text)) {
      if (c_.unknownMessages++ == 0) c_.firstUnknown = text;
    }
  }
  void ShowConnectBox(const std::string&) override {}
  bool ConnectBoxCancelled() override { return false; }
  void CloseConnectBox() override {}
  void ProcessMessages() override {}
  void ShowLinkState(LinkState, const std::string&) override {}
  void ApplyMenus(const SessionMenus&) override {}
  void SetStatusWarning(const std::string&) override {}
  void SetActuatorPanel(bool enabled) override {
    if (enabled) bar_.SetChecked(false);
    bar_.SetTrackHandlerAttached(enabled);
  }
  bool ActuatorControlChecked() override { return bar_.Checked(); }
  void ReleaseActuatorControl() override {
    bar_.SetChecked(false);
    if (control) control->cbCtrlClick();
  }
  void RefreshActuator() override {
    if (control) control->comboCtrlChange(CtrlSender::PollTimer);
  }
  bool AdcShown() override { return adc; }
  void ShowAdcValues(const AdcTexts&) override {}
  void TroubleCodesRead(std::span<const uint8_t> answer, uint32_t errorMask) override {
    // What the list window does with an answer.
    const DtcList list = BuildDtcList(answer, errorMask);
    if (!DtcGridRows(list, DtcLanguage::Russian).empty()) ++c_.dtcLists;
  }
  void CloseTroubleCodeList() override {}
  void CloseLearnMemory() override {}
  // EcuUi
  bool Confirm(const std::string&) override { return true; }
  void SetBusyCursor(bool) override {}
  void ShowBusyNotice(const std::string&) override {}
  void HideBusyNotice() override {}

  bool adc = false;

 private:
  Counters& c_;
  FakeBar& bar_;
};

constexpr uint64_t kTickMs = 250;
constexpr uint64_t kTicksPerHour = 3600 * 1000 / kTickMs;

struct SoakRig {
  explicit SoakRig(uint32_t seed) : ecu(EcuSettings{}, seed) {
    ui.control = &control;
    session.ComPort = 1;
    session.PollEnabled = true;
    session.FormShow();
    history.SetFullCallback([this] { ++c.fullCalls; });
  }
  Counters c;
  VirtualClock clock{1'000'000};
  VirtualEcu ecu;
  VirtualLine line{ecu, clock};
  KwpLink link{line, clock};
  HistoryStore history{clock};
  FakeBar bar;
  SoakUi ui{c, bar};
  DiagSession session{link, history, clock, ui};
  ActuatorControl control{session, ui, bar};
};

// The faults the soak switches on, each for a while.
void InjectRandomFault(VirtualEcu& ecu, std::mt19937& rng, Counters& c) {
  EcuFaults& f = ecu.Faults();
  static constexpr int32_t kServices[] = {0x21, 0x18, 0x14, 0x1A, 0x3B, 0x23, 0x30, 0x3E, 0x10};
  ++c.faults;
  switch (rng() % 19) {
    case 0:
      f.badChecksum = true;
      break;
    case 1:
      f.truncated = true;
      break;
    case 2:
      f.busyAnswers = 1 + rng() % 4;
      break;  // absorbed by the transaction
    case 3:
      f.busyAnswers = 1'000'000;
      break;
    case 4:
      f.pendingAnswers = 1 + rng() % 4;
      break;
    case 5:
      f.pendingAnswers = 6;
      f.pendingOnly = true;
      break;
    case 6:
      f.pendingAnswers = 6 + rng() % 4;
      break;  // the late answer meets the next request
    case 7:
      f.answerLimit = static_cast<int32_t>(ecu.AnswersSent());
      break;
    case 8:
      f.lostEchoBytes = 1 + rng() % 2;
      break;
    case 9:
      f.wrongKeyBytes = true;
      break;
    case 10:
      f.shortLiveData = true;
      break;
    case 11:
      f.refuseService = kServices[rng() % std::size(kServices)];
      f.refuseCode = static_cast<uint8_t>(rng() % 4 == 0 ? 0 : 0x10 + rng() % 0x70);
      break;
    case 12:
      f.wrongService = true;
      break;
    case 13:
      f.noiseBytes = 1 + rng() % 300;
      break;
    case 14:
      f.noisyAnswers = true;
      break;
    case 15:
      f.shortMemRead = true;
      break;
    case 16:
      f.dtcCountByte = static_cast<int32_t>(rng() % 256);
      break;
    case 17:  // the plug pulled between frames
      f.unplugged = true;
      ++c.plugPulls;
      break;
    default:  // the plug pulled in the middle of an answer
      f.pullPlugAfterBytes = static_cast<int32_t>(rng() % 40);
      ++c.plugPulls;
      break;
  }
}

constexpr uint32_t kCommandKinds = 12;

// Command `which` of the menu or the control bar, as a user would choose it while connected;
// the ECU reset only when `reset` is true. Returns the worst-case time of what it ran.
uint64_t RunCommand(SoakRig& r, uint32_t which, bool reset, std::mt19937& rng) {
  DiagSession& s = r.session;
  switch (which) {
    case 0: {
      IdentValues values;
      const bool read = ReadIdentification(s, r.ui, values) == kKwpPositive;
      if (read && rng() % 3 == 0) {
        WriteIdentification(s, r.ui, PadIdentValues(values, values));
        return worst::IdentRead() + worst::IdentWrite();
      }
      return worst::IdentRead();
    }
    case 1:
      ShowConfigFlags(s, r.ui);
      return worst::OneRead();
    case 2:
      ShowImmoStatus(s, r.ui);
      return worst::OneRead();
    case 3: {
      LearnTable table{};
      ReadLearnMemory(s, r.ui, 1 + static_cast<int32_t>(rng() % 2), table);
      return worst::LearnBank();
    }
    case 4:
      s.Tag ^= kErrListShown;
      return 0;
    case 5:
      s.Tag |= kClearRequested;
      return 0;
    case 6:
      r.ui.adc = !r.ui.adc;
      return 0;
    case 7:
      if (!s.Paused) {
        s.miPauseClick(rng() % 2 ? PauseSender::Stop : PauseSender::Pause);
      } else {
        s.miPauseClick(s.PauseMode == 1 ? PauseSender::Stop : PauseSender::Pause);
      }
      return 0;
    case 8:
      if (reset) {
        ResetEcu(s, r.ui);
        return worst::Reset();
      }
      return 0;
    default: {  // the control bar
      if (!r.bar.Checked()) {
        r.bar.selected = static_cast<int32_t>(rng() % kActuatorCount);
        r.bar.SetChecked(true);
        r.control.cbCtrlClick();
        return worst::ActuatorSwitch();
      }
      if (rng() % 3 == 0) {
        r.bar.SetChecked(false);
        r.control.cbCtrlClick();
        return worst::ReturnControl(kActuatorCount);
      }
      r.bar.selected = static_cast<int32_t>(rng() % kActuatorCount);
      r.control.comboCtrlChange(CtrlSender::User);
      r.bar.position = static_cast<int32_t>(rng() % 256) - 128;
      const CtrlSender how =
          rng() % 3 == 0 ? CtrlSender::TrackBar : (rng() % 2 ? CtrlSender::On : CtrlSender::Off);
      r.control.tbCtrlChange(how);
      return worst::ActuatorSwitch();
    }
  }
}

TEST(Soak, FaultsPlugsAndAFullRecordingInVirtualTime) {
  const double hours = EnvNumber("KVD_SOAK_HOURS", 1.0);
  const auto seed = static_cast<uint32_t>(EnvNumber("KVD_SOAK_SEED", 1.0));
  const uint64_t totalTicks = static_cast<uint64_t>(hours * kTicksPerHour);
  std::mt19937 rng(seed);
  auto rig = std::make_unique<SoakRig>(seed);
  SoakRig& r = *rig;
  Counters& c = r.c;

  // A recording that fills up after about 40 % of the ticks: the records before it come as a
  // file would bring them, with both marks.
  const auto fillAfter = static_cast<int32_t>(
      std::max<uint64_t>(200, std::min<uint64_t>(totalTicks * 2 / 5, kHistoryCapacity / 2)));
  const int32_t preloaded = kHistoryCapacity - fillAfter;
  {
    std::mt19937 fill(seed ^ 0x5A5A5A5Au);
    uint8_t* p = r.history.WritableRecords();
    for (size_t i = 0; i < static_cast<size_t>(preloaded) * kRecordSize; ++i)
      p[i] = static_cast<uint8_t>(fill());
    for (int32_t i = 0; i < preloaded; ++i) StoreLE32(p + i * kRecordSize + 4, 0);
    r.history.Load(preloaded);
    ASSERT_TRUE(r.history.SetStartMark(preloaded / 3));
    ASSERT_TRUE(r.history.SetEndMark(preloaded / 2));
  }
  const uint64_t preloadedHash =
      Fnv1a(r.history.RecordBytes(), static_cast<size_t>(preloaded) * kRecordSize);
  uint64_t fullHash = 0;

  // Every command and every kind of tick once on a healthy line, so that what the program
  // sets up on first use (the trouble-code texts, for one) is in place before the heap is
  // watched.
  r.session.PollStep();
  ASSERT_TRUE(r.session.Connected);
  for (uint32_t which = 0; which < kCommandKinds; ++which) {
    RunCommand(r, which, true, rng);
    if (!r.session.Connected) {
      ASSERT_TRUE(r.session.Connect());
    }
    for (int i = 0; i < 6; ++i) {
      r.session.PollStep();
      r.clock.Sleep(kTickMs);
    }
  }

  const uint64_t tickBound =
      worst::LiveDataTick(true) + worst::IoRetry(worst::kIoReportRequest) + worst::StopSession();
  uint64_t faultEndMs = 0;
  bool faultActive = false;
  size_t heapAfterWarmUp = 0;
  size_t rssAfterWarmUp = 0;
  int32_t recordsAfterWarmUp = 0;
  const uint64_t warmUpTick = std::min<uint64_t>(totalTicks / 6, 2400);

  for (uint64_t tick = 0; tick < totalTicks; ++tick) {
    const uint64_t nowMs = r.clock.MicrosNow() / 1000;
    // Faults come and go; a fault lasts up to a minute and a half, a pulled plug up to two.
    if (faultActive && nowMs >= faultEndMs) {
      r.ecu.Faults() = EcuFaults{};
      faultActive = false;
    } else if (!faultActive && tick > 8 && rng() % 240 == 0) {
      InjectRandomFault(r.ecu, rng, c);
      faultActive = true;
      faultEndMs = nowMs + 1000 + rng() % 120'000;
    }
    // The line is back: the user connects again, and that must work.
    if (!r.session.Connected && tick > 0 && !faultActive) {
      const uint64_t t0 = r.clock.MicrosNow();
      if (r.session.Connect()) {
        ++c.reconnects;
      } else {
        ++c.reconnectFailures;
      }
      const uint64_t took = (r.clock.MicrosNow() - t0) / 1000;
      if (took > worst::Connect()) ++c.overBound;
    }
    // Now and then a command of the menu or the control bar.
    if (r.session.Connected && rng() % 120 == 0) {
      const uint64_t t0 = r.clock.MicrosNow();
      const uint32_t which = rng() % kCommandKinds;
      const uint64_t bound = RunCommand(r, which, rng() % 8 == 0, rng);
      ++c.commands;
      const uint64_t took = (r.clock.MicrosNow() - t0) / 1000;
      c.slowestCommandMs = std::max(c.slowestCommandMs, took);
      if (took > bound && bound > 0) ++c.overBound;
    }

    const bool wasConnected = r.session.Connected;
    const uint64_t t0 = r.clock.MicrosNow();
    r.session.PollStep();
    ++c.ticks;
    const uint64_t took = (r.clock.MicrosNow() - t0) / 1000;
    c.slowestTickMs = std::max(c.slowestTickMs, took);
    if (took > (wasConnected ? tickBound : worst::Connect())) ++c.overBound;
    if (wasConnected && !r.session.Connected) ++c.disconnects;

    if (fullHash == 0 && r.history.IsFull()) {
      fullHash = Fnv1a(r.history.RecordBytes(), size_t{kHistoryCapacity} * kRecordSize);
    }
    ASSERT_LE(r.history.RecordCount(), kHistoryCapacity);

    // The poll timer: the next tick falls due at the next multiple of the interval.
    const uint64_t now = r.clock.MicrosNow();
    const uint64_t period = kTickMs * 1000;
    r.clock.AdvanceMicros(period - now % period);

    if (tick == warmUpTick) {
      heapAfterWarmUp = HeapInUse();
      rssAfterWarmUp = ResidentBytes();
      recordsAfterWarmUp = r.history.RecordCount();
    }
  }
  const size_t heapAtEnd = HeapInUse();
  const size_t rssAtEnd = ResidentBytes();

  std::printf(
      "soak: %.2f h seed %u: %llu ticks, %llu faults (%llu plugs pulled), %llu commands, "
      "%llu disconnects, %llu reconnects, %llu messages, %llu trouble-code lists, slowest tick "
      "%llu ms, slowest command %llu ms, heap %zu -> %zu bytes, rss %zu -> %zu bytes, "
      "records %d\n",
      hours, seed, static_cast<unsigned long long>(c.ticks),
      static_cast<unsigned long long>(c.faults), static_cast<unsigned long long>(c.plugPulls),
      static_cast<unsigned long long>(c.commands), static_cast<unsigned long long>(c.disconnects),
      static_cast<unsigned long long>(c.reconnects), static_cast<unsigned long long>(c.messages),
      static_cast<unsigned long long>(c.dtcLists), static_cast<unsigned long long>(c.slowestTickMs),
      static_cast<unsigned long long>(c.slowestCommandMs), heapAfterWarmUp, heapAtEnd,
      rssAfterWarmUp, rssAtEnd, r.history.RecordCount());

  // Every return of the line brought the session back.
  EXPECT_EQ(c.reconnectFailures, 0u);
  EXPECT_GT(c.plugPulls, 0u);
  EXPECT_GT(c.disconnects, 0u);
  EXPECT_GE(c.reconnects, c.disconnects - (r.session.Connected ? 0 : 1));
  EXPECT_TRUE(r.session.Connected || faultActive);
  // Nothing took longer than its retries and time-outs allow; every message is the program's.
  EXPECT_EQ(c.overBound, 0u);
  EXPECT_EQ(c.unknownMessages, 0u) << c.firstUnknown;
  // The store filled up, said so once, and recording stopped with nothing overwritten.
  EXPECT_TRUE(r.history.IsFull());
  EXPECT_EQ(r.history.RecordCount(), kHistoryCapacity);
  EXPECT_EQ(c.fullCalls, 1u);
  EXPECT_EQ(Fnv1a(r.history.RecordBytes(), static_cast<size_t>(preloaded) * kRecordSize),
            preloadedHash);
  EXPECT_EQ(Fnv1a(r.history.RecordBytes(), size_t{kHistoryCapacity} * kRecordSize), fullHash);
  EXPECT_EQ(r.history.SelectionStart(), preloaded / 3);
  EXPECT_EQ(r.history.SelectionEnd(), preloaded / 2);
  // No growth after the warm-up beyond a little slack for the texts of the last messages.
  constexpr size_t kHeapSlack = 64 * 1024;
  if (heapAfterWarmUp != 0) {
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + kHeapSlack);
  }
#if !defined(KVD_SOAK_ASAN)
  // Resident memory may grow by the pages of the block that the new records reached.
  constexpr size_t kResidentSlack = 256 * 1024;
  const size_t blockReached =
      static_cast<size_t>(r.history.RecordCount() - recordsAfterWarmUp) * kRecordSize + 4096;
  if (rssAfterWarmUp != 0) {
    EXPECT_LE(rssAtEnd, rssAfterWarmUp + blockReached + kResidentSlack);
  }
#endif
}

}  // namespace
}  // namespace kvd::test
