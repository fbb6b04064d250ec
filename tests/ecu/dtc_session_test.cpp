// SPDX-License-Identifier: GPL-3.0-or-later
// Trouble codes against the virtual ECU: the list's rotation and clear request in the poll
// cycle, and the one-shot read of the command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ecu/dtc.h"
#include "ecu/ecu_ui.h"
#include "session/response_codes.h"
#include "session/session_fixture.h"

namespace kvd {
namespace {

using test::Bytes;
using test::kClearDtc;
using test::kLiveData;
using test::kReadDtc;
using ::testing::Contains;
using ::testing::ElementsAre;

class RecordingEcuUi final : public EcuUi {
 public:
  std::vector<std::string> messages;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string&) override { return false; }
  void SetBusyCursor(bool) override {}
  void ShowBusyNotice(const std::string&) override {}
  void HideBusyNotice() override {}
};

std::vector<uint16_t> Codes(const DtcList& list) {
  std::vector<uint16_t> codes;
  for (size_t k = 0; k < DtcCount(list); ++k) codes.push_back(list[k].Code);
  return codes;
}

TEST(DtcPollTest, ListRotatesReadsAndClearsAsRequested) {
  test::SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.session.Tag |= kErrListShown;
  // Trouble codes, idle, live data, trouble codes: the second read has the live data's mask.
  EXPECT_THAT(rig.Ticks(4), ElementsAre(kReadDtc, kLiveData, kReadDtc));
  ASSERT_EQ(rig.ui.troubleCodes.size(), 2u);
  EXPECT_EQ(rig.ui.troubleCodes[0].second, 0u);
  const auto& [answer, mask] = rig.ui.troubleCodes[1];
  const DtcList list = BuildDtcList(answer, mask);
  EXPECT_THAT(Codes(list), ::testing::IsSupersetOf({0x0130, 0x0325, 0x0505, 0x1602, 0x3999}));
  EXPECT_EQ(mask, rig.session.ErrorMask);
  // The knock sensor fault (mask bit 0) is present in the demo engine from the start.
  ASSERT_TRUE(mask & 1u);
  EXPECT_EQ(list[1].Code, 0x0325);
  EXPECT_EQ(list[1].Current, 1);

  // "Сброс" while the ECU refuses the clear: the refusal is shown on every data-exchanging
  // tick, five attempts each, and the request stays.
  rig.ecu.Faults().refuseService = 0x14;
  rig.ecu.Faults().refuseCode = 0x22;
  rig.session.Tag |= kClearRequested;
  const std::vector<Bytes> refused = rig.Ticks(2);
  EXPECT_EQ(refused, std::vector<Bytes>(10, kClearDtc));
  EXPECT_THAT(rig.ui.messages, ElementsAre(ResponseCodeText(0x22), ResponseCodeText(0x22)));
  EXPECT_TRUE(rig.session.Tag & kClearRequested);
  EXPECT_TRUE(rig.session.Connected);

  // The ECU gives in: one clear, the request is done, the next read finds nothing stored.
  rig.ecu.Faults().refuseService = -1;
  EXPECT_THAT(rig.Ticks(1), ElementsAre(kClearDtc));
  EXPECT_FALSE(rig.session.Tag & kClearRequested);
  EXPECT_EQ(rig.ui.messages.size(), 2u);
  rig.Ticks(3);
  ASSERT_GE(rig.ui.troubleCodes.size(), 3u);
  EXPECT_EQ(DtcCount(BuildDtcList(rig.ui.troubleCodes.back().first, 0)), 0u);

  // A silent ECU fails the clear on the link: the message names the service.
  rig.ecu.Faults().refuseService = 0x14;
  rig.ecu.Faults().refuseCode = 0;
  rig.session.Tag |= kClearRequested;
  rig.Ticks(1);
  EXPECT_EQ(rig.ui.messages.back(), KwpErrorMessage(kSvcClearDiagnosticInformation));
  EXPECT_TRUE(rig.session.Tag & kClearRequested);
}

TEST(DtcPollTest, LyingCountAndCodeZeroFromTheEcu) {
  test::SessionRig rig;
  rig.ecu.Faults().dtcAnswerCodes = {0x0130, 0x0325, 0x0000, 0x0505};
  rig.ecu.Faults().dtcCountByte = 255;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.session.Tag |= kErrListShown;
  rig.Ticks(2);
  ASSERT_EQ(rig.ui.troubleCodes.size(), 1u);
  const Bytes& answer = rig.ui.troubleCodes[0].first;
  EXPECT_EQ(answer.size(), 2u + 4 * 3);
  const DtcList list = BuildDtcList(answer, rig.ui.troubleCodes[0].second);
  EXPECT_THAT(Codes(list), ElementsAre(0x0130, 0x0325));
  EXPECT_EQ(list[3].Code, 0x0505);  // stored after the end mark, never shown
  EXPECT_EQ(list[4], DtcListEntry{});
}

TEST(DtcOnceTest, ReadsClearsAndReportsFailures) {
  test::SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  RecordingEcuUi ui;
  DtcList list{};

  size_t from = rig.port.writes.size();
  ASSERT_EQ(ReadTroubleCodesOnce(rig.session, ui, false, list), kKwpPositive);
  EXPECT_THAT(rig.port.MessagesSince(from), ElementsAre(kLiveData, kReadDtc));
  EXPECT_THAT(Codes(list), Contains(0x3999));
  EXPECT_EQ(list[1].Code, 0x0325);
  EXPECT_EQ(list[1].Current, 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(rig.session.PollEnabled);  // the poll cycle is given back

  // Refused clear: nothing is read, the ECU's reason is shown.
  rig.ecu.Faults().refuseService = 0x14;
  rig.ecu.Faults().refuseCode = 0x22;
  from = rig.port.writes.size();
  EXPECT_EQ(ReadTroubleCodesOnce(rig.session, ui, true, list), kKwpNegative);
  EXPECT_EQ(rig.port.MessagesSince(from), std::vector<Bytes>(5, kClearDtc));
  EXPECT_THAT(ui.messages, ElementsAre(ResponseCodeText(0x22)));

  // Clear, then read: the list is empty right after the clearing.
  rig.ecu.Faults().refuseService = -1;
  from = rig.port.writes.size();
  ASSERT_EQ(ReadTroubleCodesOnce(rig.session, ui, true, list), kKwpPositive);
  EXPECT_THAT(rig.port.MessagesSince(from), ElementsAre(kClearDtc, kLiveData, kReadDtc));
  EXPECT_EQ(DtcCount(list), 0u);

  // A refused read and a dead line.
  rig.ecu.Faults().refuseService = 0x18;
  rig.ecu.Faults().refuseCode = 0x11;
  EXPECT_EQ(ReadTroubleCodesOnce(rig.session, ui, false, list), kKwpNegative);
  EXPECT_EQ(ui.messages.back(), ResponseCodeText(0x11));
  rig.ecu.Faults().refuseService = -1;
  rig.ecu.Faults().unplugged = true;
  EXPECT_LT(ReadTroubleCodesOnce(rig.session, ui, false, list), 0);
  EXPECT_EQ(ui.messages.back(), LinkLostMessage(kSvcReadDataByLocalIdentifier));
}

}  // namespace
}  // namespace kvd
