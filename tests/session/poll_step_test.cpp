// SPDX-License-Identifier: GPL-3.0-or-later
// The poll step on the virtual ECU: what each tick sends, records and shows.
#include <gtest/gtest.h>

#include "session/response_codes.h"
#include "session_fixture.h"

namespace kvd::test {
namespace {

class PollStep : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig.ConnectByTick()); }
  SessionRig rig;
  DiagSession& s = rig.session;
};

TEST_F(PollStep, EveryTickReadsLiveDataIntoTheHistory) {
  const auto sent = rig.Ticks(5);
  EXPECT_EQ(sent, std::vector<Bytes>(5, kLiveData));
  EXPECT_EQ(rig.history.RecordCount(), 5);
  EXPECT_EQ(s.TickCount, 6u);
  EXPECT_EQ(s.PollSlot, 0);
  EXPECT_TRUE(rig.ui.warnings.empty());  // a correct length leaves the panel alone
  // The record holds the answer's bytes 2..35 and ErrorMask comes from bytes 6..9.
  const HistoryRecord* r = rig.history.RecordAt(4);
  ASSERT_NE(r, nullptr);
  const auto& answer = rig.link.ResponseBuffer;
  EXPECT_TRUE(std::equal(answer.begin() + 2, answer.begin() + 36, r->Payload()));
  EXPECT_EQ(s.ErrorMask, uint32_t{answer[6]} << 24 | uint32_t{answer[7]} << 16 |
                             uint32_t{answer[8]} << 8 | answer[9]);
}

TEST_F(PollStep, StopSendsOnlyTesterPresentAndPauseKeepsReading) {
  s.miPauseClick(PauseSender::Stop);
  EXPECT_EQ(rig.Ticks(4), std::vector<Bytes>(4, kTesterPresent));
  EXPECT_EQ(rig.history.RecordCount(), 0);
  EXPECT_TRUE(s.Connected);

  s.miPauseClick(PauseSender::Stop);  // "Продолжить"
  s.miPauseClick(PauseSender::Pause);
  EXPECT_EQ(rig.Ticks(3), std::vector<Bytes>(3, kLiveData));
  EXPECT_EQ(rig.history.RecordCount(), 3);  // recording goes on, only the panes stand
  EXPECT_TRUE(s.Paused);
  EXPECT_TRUE(rig.ui.menus.NavigationEnabled);
}

TEST_F(PollStep, RotationWhileTheTroubleCodeListIsShown) {
  rig.Ticks(2);
  s.Tag |= kErrListShown;
  const auto sent = rig.Ticks(6);
  // The first tick after the list opens reads the codes; then idle, live data, codes, ...
  EXPECT_EQ(sent, (std::vector<Bytes>{kReadDtc, kLiveData, kReadDtc, kLiveData}));
  ASSERT_EQ(rig.ui.troubleCodes.size(), 2u);
  EXPECT_EQ(rig.ui.troubleCodes.back().first.at(0), 0x58);
  EXPECT_EQ(rig.ui.troubleCodes.back().second, s.ErrorMask);

  s.Tag &= ~kErrListShown;
  EXPECT_EQ(rig.Ticks(3), std::vector<Bytes>(3, kLiveData));
}

TEST_F(PollStep, ClearingRetriesEveryTickUntilItSucceeds) {
  rig.ecu.Faults().refuseService = 0x14;
  rig.ecu.Faults().refuseCode = 0x22;
  s.Tag |= kClearRequested;
  const uint64_t start = rig.clock.MicrosNow();
  s.PollStep();
  // Five transactions, each 150 ms after the purge.
  EXPECT_EQ(rig.port.MessagesSince(rig.port.writes.size() - 5), std::vector<Bytes>(5, kClearDtc));
  EXPECT_GE(rig.clock.MicrosNow() - start, 5 * 150'000u);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], ResponseCodeText(0x22));
  EXPECT_TRUE(s.Tag & kClearRequested);
  EXPECT_TRUE(s.Connected);

  // No answer at all: the link error message, the session still open.
  rig.ecu.Faults().refuseCode = 0;
  EXPECT_EQ(rig.Ticks(1), std::vector<Bytes>(5, kClearDtc));
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1], "Ошибка KWP - ClearDiagnosticInformation");
  EXPECT_TRUE(s.Connected);

  // An answer with a bad checksum carries no response code: the stale bytes of an
  // earlier answer must not be shown as one.
  rig.ecu.Faults().refuseService = -1;
  rig.ecu.Faults().badChecksum = true;
  rig.Ticks(1);
  ASSERT_EQ(rig.ui.messages.size(), 3u);
  EXPECT_EQ(rig.ui.messages[2], "Ошибка KWP - ClearDiagnosticInformation");

  rig.ecu.Faults().badChecksum = false;
  EXPECT_EQ(rig.Ticks(2), (std::vector<Bytes>{kClearDtc, kLiveData}));
  EXPECT_FALSE(s.Tag & kClearRequested);
  EXPECT_EQ(rig.ui.messages.size(), 3u);
}

TEST_F(PollStep, TickDuringAMessageBoxOfTheStepDoesNotEnterAgain) {
  rig.ecu.Faults().refuseService = 0x14;
  s.Tag |= kClearRequested;
  int nested = 0;
  rig.ui.whileMessageOpen = [&] {
    ++nested;
    const size_t writes = rig.port.writes.size();
    const uint32_t ticks = s.TickCount;
    s.PollStep();  // the timer fires while the box is open
    EXPECT_EQ(rig.port.writes.size(), writes);
    EXPECT_EQ(s.TickCount, ticks);
    EXPECT_TRUE(s.InPollStep());
  };
  s.PollStep();
  EXPECT_EQ(nested, 1);
  EXPECT_FALSE(s.InPollStep());
  rig.ui.whileMessageOpen = nullptr;
  rig.ecu.Faults().refuseService = -1;
  rig.Ticks(1);
  EXPECT_FALSE(s.Tag & kClearRequested);
}

TEST_F(PollStep, ShortLiveDataBlinksTheWarningAndIsStillRecorded) {
  rig.ecu.Faults().shortLiveData = true;
  rig.Ticks(4);  // ticks 2, 3, 4, 5
  const std::string warning = "Неправильная длина пакета! Возможно, выбран неверный тип ЭБУ.";
  const std::string blank(61, ' ');
  EXPECT_EQ(rig.ui.warnings, (std::vector<std::string>{blank, warning, blank, warning}));
  EXPECT_EQ(rig.history.RecordCount(), 4);
  EXPECT_EQ(rig.link.ResponseDataLength, 35);
  const auto& answer = rig.link.ResponseBuffer;
  EXPECT_EQ(s.ErrorMask, uint32_t{answer[6]} << 24 | uint32_t{answer[7]} << 16 |
                             uint32_t{answer[8]} << 8 | answer[9]);
  // The missing last byte is recorded as 0, not taken from an older answer.
  EXPECT_EQ(rig.history.RecordAt(3)->Bytes[41], 0);
  EXPECT_TRUE(s.Connected);
}

TEST_F(PollStep, DeadEcuEndsTheSessionBeforeTheMessage) {
  rig.Ticks(2);
  rig.ecu.Faults().unplugged = true;
  bool offlineWhenShown = false;
  rig.ui.whileMessageOpen = [&] {
    offlineWhenShown =
        !s.Connected && !s.PollEnabled && rig.ui.linkStates.back().state == LinkState::Offline;
  };
  rig.Ticks(1);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "Связь прервана: ReadDataByLocalIdentifier");
  EXPECT_TRUE(offlineWhenShown);
  EXPECT_TRUE(rig.port.IsOpen());
  EXPECT_EQ(rig.ui.menus.ConnectCaption, "Уст.связь");
  // The timer goes on ticking; nothing happens.
  const size_t writes = rig.port.writes.size();
  rig.Ticks(3);
  EXPECT_EQ(rig.port.writes.size(), writes);
  EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST_F(PollStep, DeadEcuUnderStopAndInTheCodeSlotNameTheirService) {
  rig.ecu.Faults().unplugged = true;
  s.miPauseClick(PauseSender::Stop);
  rig.Ticks(1);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "Связь прервана: TesterPresent");

  rig.ecu.Faults().unplugged = false;
  rig.session.miConnectClick();
  ASSERT_TRUE(s.Connected);
  s.Tag |= kErrListShown;
  rig.ecu.Faults().refuseService = 0x18;  // a refusal after the retries ends the session too
  rig.Ticks(1);
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1], "Связь прервана: ReadDTCByStatus");
  EXPECT_EQ(rig.ui.listClosed, 1);
  EXPECT_FALSE(s.Connected);
}

TEST_F(PollStep, ActuatorRefreshOnEveryFifthCountedLiveDataTick) {
  rig.ui.actuatorChecked = true;
  rig.Ticks(3);           // ticks 2..4
  s.PollEnabled = false;  // a one-shot command owns the link: these ticks do not count
  rig.Ticks(4);
  s.PollEnabled = true;
  rig.Ticks(6);  // ticks 5..10
  EXPECT_EQ(rig.ui.actuatorRefreshTicks, (std::vector<uint32_t>{5, 10}));

  // With the list shown, tick 15 falls on a code slot: no refresh there.
  s.Tag |= kErrListShown;
  rig.Ticks(5);  // ticks 11..15: codes, idle, live, codes, idle
  EXPECT_EQ(rig.ui.actuatorRefreshTicks, (std::vector<uint32_t>{5, 10}));
}

TEST_F(PollStep, AdcChannelsAreReadAfterLiveDataWhileShown) {
  rig.ui.adcShown = true;
  EXPECT_EQ(rig.Ticks(2), (std::vector<Bytes>{kLiveData, kReadAdc, kLiveData, kReadAdc}));
  ASSERT_EQ(rig.ui.adc.size(), 2u);
  for (const std::string& t : rig.ui.adc.back()) EXPECT_FALSE(t.empty());
  EXPECT_EQ(rig.ui.adc.back(),
            AdcChannelTexts(std::span<const uint8_t>(rig.link.ResponseBuffer.data(),
                                                     size_t(rig.link.ResponseDataLength)),
                            '.'));

  rig.ecu.Faults().refuseService = 0x21;
  rig.ecu.Faults().refuseId = 0x03;
  rig.Ticks(1);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "Связь прервана: ReadDataByLocalIdentifier");
  EXPECT_FALSE(s.Connected);
}

TEST(AdcChannelTexts, ScalingFormatsAndAShortAnswer) {
  // 61 03, then channel bytes 2..7: ДД, ДТОЖ, ДМРВ, АКБ, ДК, ДПДЗ.
  const uint8_t answer[] = {0x61, 0x03, 255, 64, 128, 100, 128, 0};
  AdcTexts t = AdcChannelTexts(answer, '.');
  EXPECT_EQ(t[kAdcMaf], "2.500");
  EXPECT_EQ(t[kAdcBattery], "9.30");
  EXPECT_EQ(t[kAdcTps], "0.000");
  EXPECT_EQ(t[kAdcMap], "4.980");
  EXPECT_EQ(t[kAdcCoolant], "1.250");
  EXPECT_EQ(t[kAdcLambda], "0.625");
  EXPECT_EQ(AdcChannelTexts(answer, ',')[kAdcMaf], "2,500");

  // An answer that ends after byte 4 fills what it carries and leaves the rest empty.
  t = AdcChannelTexts(std::span<const uint8_t>(answer, 5), '.');
  EXPECT_EQ(t[kAdcMaf], "2.500");
  EXPECT_EQ(t[kAdcMap], "4.980");
  EXPECT_TRUE(t[kAdcBattery].empty() && t[kAdcTps].empty() && t[kAdcLambda].empty());
  for (const std::string& s : AdcChannelTexts({}, '.')) EXPECT_TRUE(s.empty());
}

}  // namespace
}  // namespace kvd::test
