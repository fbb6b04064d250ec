// SPDX-License-Identifier: GPL-3.0-or-later
// Configuration flags, immobilizer status and ECU reset.
#include "ecu/ecu_status.h"

#include <gtest/gtest.h>

#include "ident_rig.h"
#include "link/kwp.h"
#include "session/diag_session.h"

namespace kvd::test {
namespace {

using Lines = std::vector<std::string>;

TEST(ConfigFlagLines, ListsTheSetBitsOfBytesTwoAndThreeInOrder) {
  struct Case {
    Bytes answer;
    Lines lines;
  };
  const Case cases[] = {
      {{0x61, 0x01, 0x05, 0x80},
       {"* флаг комплектации датчиком кислорода", "* флаг комплектации клапаном рециркуляции",
        "* резерв"}},
      {{0x61, 0x01, 0x00, 0x00}, {}},
      {{0x61, 0x01, 0x80, 0x01},
       {"* флаг разрешения адаптации уставки ХХ",
        "* флаг комплектации потенциометром корректировки CO"}},
      {{0x61, 0x01, 0x40}, {"* флаг запрещения отсечки топлива"}},  // byte 3 missing: none
      {{0x61}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ConfigFlagLines(c.answer), c.lines);
  EXPECT_EQ(ConfigFlagLines(Bytes{0x61, 0x01, 0xFF, 0xFF}).size(), 16u);
  EXPECT_EQ(ConfigFlagsText(Bytes{0x61, 0x01, 0x00, 0x20}),
            "* флаг разрешения одновременного впрыска\r\n");
  EXPECT_EQ(ConfigFlagsText(Bytes{0x61, 0x01, 0x00, 0x00}), "");
}

TEST(ImmoStatusLines, ListsOnlyTheNamedHighBitsOfByteThree) {
  struct Case {
    Bytes answer;
    std::string text;
  };
  const Case cases[] = {
      {{0x61, 0xA0, 0x00, 0x0F}, "Статус иммобилайзера:\n\n"},
      {{0x61, 0xA0, 0x00, 0x30},
       "Статус иммобилайзера:\n\n* ошибка связи с иммобилизатором\r\n* разрешение запуска\r\n"},
      {{0x61, 0xA0, 0xFF, 0xC0},
       "Статус иммобилайзера:\n\n* режим обучения разрешен\r\n* функции иммобилизации "
       "активированы\r\n"},
      {{0x61, 0xA0, 0xF0}, "Статус иммобилайзера:\n\n"},  // byte 3 missing
  };
  for (const Case& c : cases) EXPECT_EQ(ImmoStatusText(c.answer), c.text);
}

class EcuStatusTest : public IdentTest {};

TEST_F(EcuStatusTest, ConfigFlagsOfTheEcuAreShownAndTheLinkGivenBack) {
  rig.ecu.Settings().configFlags = {0x05, 0x80};
  const auto sent = Sent([&] { EXPECT_EQ(ShowConfigFlags(rig.session, ui), kKwpPositive); });
  EXPECT_EQ(sent, (std::vector<Bytes>{{0x21, 0x01}}));
  EXPECT_EQ(ui.messages, (Lines{"* флаг комплектации датчиком кислорода\r\n"
                                "* флаг комплектации клапаном рециркуляции\r\n* резерв\r\n"}));
  EXPECT_TRUE(rig.session.PollEnabled);
}

TEST_F(EcuStatusTest, RefusedReadsReportWithTheirPatternAndKeepTheSession) {
  struct Case {
    uint8_t id;
    int32_t (*command)(DiagSession&, EcuUi&);
    std::string message;
  };
  const Case cases[] = {
      {0x01, ShowConfigFlags, "Ошибка KWP - ReadDataByLocalIdentifier"},
      {0xA0, ShowImmoStatus, "Связь прервана: ReadDataByLocalIdentifier"},
  };
  for (const Case& c : cases) {
    rig.ecu.Faults().refuseService = 0x21;
    rig.ecu.Faults().refuseId = c.id;
    ui.messages.clear();
    const auto sent = Sent([&] { EXPECT_EQ(c.command(rig.session, ui), kKwpNegative); });
    EXPECT_EQ(sent.size(), 5u);
    EXPECT_EQ(ui.messages, (Lines{c.message}));
    EXPECT_TRUE(rig.session.Connected);
    EXPECT_TRUE(rig.session.PollEnabled);
  }
}

TEST_F(EcuStatusTest, ImmobilizerStatusOfTheEcu) {
  struct Case {
    uint8_t status;
    std::string text;
  };
  const Case cases[] = {
      {0x0F, "Статус иммобилайзера:\n\n"},
      {0x30,
       "Статус иммобилайзера:\n\n* ошибка связи с иммобилизатором\r\n* разрешение запуска\r\n"},
  };
  for (const Case& c : cases) {
    rig.ecu.Settings().immoStatus = c.status;
    ui.messages.clear();
    const auto sent = Sent([&] { EXPECT_EQ(ShowImmoStatus(rig.session, ui), kKwpPositive); });
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x21, 0xA0}}));
    EXPECT_EQ(ui.messages, (Lines{c.text}));
    EXPECT_TRUE(rig.session.PollEnabled);
  }
}

TEST_F(EcuStatusTest, ResetNotConfirmedSendsNothing) {
  ui.confirmAnswer = false;
  const auto sent = Sent([&] { EXPECT_EQ(ResetEcu(rig.session, ui), kResetNotConfirmed); });
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(ui.questions, (Lines{"Вы уверены, что хотите произвести сброс ЭБУ?"}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(rig.session.Connected);
}

TEST_F(EcuStatusTest, RefusedResetKeepsTheSession) {
  ui.confirmAnswer = true;
  rig.ecu.Faults().refuseService = 0x11;
  const auto sent = Sent([&] { EXPECT_EQ(ResetEcu(rig.session, ui), kKwpNegative); });
  EXPECT_EQ(sent, std::vector<Bytes>(5, Bytes{0x11, 0x01}));
  EXPECT_EQ(ui.messages, (Lines{"Ошибка KWP - ECUReset"}));
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_EQ(rig.port.closeCalls, 0);
}

TEST_F(EcuStatusTest, AcceptedResetClosesPortReportsAndConnectsAnew) {
  ui.confirmAnswer = true;
  bool connectedAtMessage = true;
  bool portOpenAtMessage = true;
  ui.onMessage = [&](const std::string&) {
    connectedAtMessage = rig.session.Connected;
    portOpenAtMessage = rig.port.IsOpen();
  };
  const uint32_t sessions = rig.ecu.SessionsOpened();
  const auto sent = Sent([&] { EXPECT_EQ(ResetEcu(rig.session, ui), kKwpPositive); });
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], (Bytes{0x11, 0x01}));
  EXPECT_EQ(ui.messages, (Lines{"Произведен сброс ЭБУ"}));
  EXPECT_FALSE(connectedAtMessage);
  EXPECT_FALSE(portOpenAtMessage);
  EXPECT_EQ(rig.port.closeCalls, 1);
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_EQ(rig.ecu.SessionsOpened(), sessions + 1);
}

TEST_F(EcuStatusTest, ResetWhoseReconnectFailsStaysOffline) {
  ui.confirmAnswer = true;
  ui.onMessage = [&](const std::string& text) {
    if (text == kResetDoneText) rig.ecu.Faults().unplugged = true;
  };
  EXPECT_EQ(ResetEcu(rig.session, ui), kKwpPositive);
  EXPECT_FALSE(rig.session.Connected);
  EXPECT_FALSE(rig.session.PollEnabled);
  EXPECT_EQ(rig.ui.linkStates.back().state, LinkState::Offline);
  EXPECT_EQ(rig.ui.messages.back(), kConnectFailedText);
}

}  // namespace
}  // namespace kvd::test
