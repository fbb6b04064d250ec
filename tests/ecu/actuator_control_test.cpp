// SPDX-License-Identifier: GPL-3.0-or-later
// Actuator control against the virtual ECU: values, requests, refusals, lost links and the
// return of control.
#include "ecu/actuator_control.h"

#include <gtest/gtest.h>

#include "ecu/ctrl_rig.h"
#include "session/response_codes.h"

namespace kvd::test {
namespace {

TEST(ActuatorValues, TrackBarMapsOntoTheValueByte) {
  const std::pair<int32_t, uint8_t> cases[] = {{-128, 0x00}, {0, 0x80},    {127, 0xFF},
                                               {-43, 0x55},  {-500, 0x00}, {500, 0xFF}};
  for (auto [position, byte] : cases) EXPECT_EQ(TrackValueByte(position), byte) << position;
  for (int v = 0; v < 256; ++v)
    EXPECT_EQ(TrackValueByte(TrackPositionOf(static_cast<uint8_t>(v))), v);
  EXPECT_EQ(TrackPositionOf(0x00), -128);
  EXPECT_EQ(TrackPositionOf(0xFF), 127);
}

TEST(ActuatorValues, ValueTextByItemKind) {
  const Bytes full{0x70, 0x41, 0x01, 0x00, 0x01, 0x20, 0x55};
  const Bytes on{0x70, 0x09, 0x01, 0x01};
  const Bytes shortAnswer{0x70, 0x42, 0x01, 0x07};
  struct Case {
    int32_t index;
    const Bytes* answer;
    const char* text;
  };
  const Case cases[] = {
      {0, &full, "0"},       {1, &full, "850"},      {8, &on, "вкл."}, {12, &full, "выкл."},
      {1, &shortAnswer, ""}, {0, &shortAnswer, "7"}, {-1, &full, ""},  {kActuatorCount, &full, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ActuatorValueText(c.index, *c.answer), c.text) << c.index;
  EXPECT_EQ(ActuatorValueText(2, Bytes{0x70, 0x01}), "");
}

class ActuatorTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(rig.ConnectByTick()); }
  void Select(int32_t index, CtrlSender sender = CtrlSender::User) {
    rig.bar.selected = index;
    rig.control.comboCtrlChange(sender);
  }
  bool Check(bool on) {
    rig.bar.checked = on;
    return rig.control.cbCtrlClick();
  }
  CtrlRig rig;
};

TEST_F(ActuatorTest, TakeOverAdjustSwitchAndReturnInItemOrder) {
  // Checking the box with nothing selected sends nothing.
  EXPECT_TRUE(rig.Sent([&] { Check(true); }).empty());
  EXPECT_TRUE(rig.bar.controlsEnabled);

  // The idle valve: its state read, the track bar moves to it, its moves adjust the value.
  EXPECT_EQ(rig.Sent([&] { Select(0); }), (std::vector<Bytes>{{0x30, 0x41, 0x01}}));
  EXPECT_TRUE(rig.bar.trackShown);
  EXPECT_TRUE(rig.bar.attached);
  for (auto [position, byte] : {std::pair{-128, 0x00}, {127, 0xFF}, {0, 0x80}}) {
    rig.bar.position = position;
    EXPECT_EQ(rig.Sent([&] { rig.control.tbCtrlChange(CtrlSender::TrackBar); }),
              (std::vector<Bytes>{{0x30, 0x41, 0x07, static_cast<uint8_t>(byte)}}));
    EXPECT_TRUE(rig.session.PollEnabled);
  }
  rig.bar.position = -128;
  rig.control.tbCtrlChange(CtrlSender::TrackBar);
  rig.bar.position = 55;
  Select(0, CtrlSender::PollTimer);
  EXPECT_EQ(rig.bar.valueText, "0");
  EXPECT_EQ(rig.bar.position, -128);

  // The idle speed set point: shown from byte 6, times ten.
  Select(1);
  rig.bar.position = 0x55 - 128;
  rig.control.tbCtrlChange(CtrlSender::TrackBar);
  Select(1, CtrlSender::PollTimer);
  EXPECT_EQ(rig.bar.valueText, "850");

  // An injector and the fuel pump relay: buttons instead of the track bar.
  Select(2);
  EXPECT_FALSE(rig.bar.trackShown);
  Select(8);
  EXPECT_EQ(rig.Sent([&] { rig.control.tbCtrlChange(CtrlSender::On); }),
            (std::vector<Bytes>{{0x30, 0x09, 0x06, 0x01}}));
  EXPECT_EQ(rig.Sent([&] { rig.control.tbCtrlChange(CtrlSender::Off); }),
            (std::vector<Bytes>{{0x30, 0x09, 0x06, 0x00}}));

  // Unchecking hands back every touched item, in item order, under the busy notice.
  const auto sent = rig.Sent([&] { Check(false); });
  EXPECT_EQ(sent,
            (std::vector<Bytes>{
                {0x30, 0x41, 0x00}, {0x30, 0x42, 0x00}, {0x30, 0x01, 0x00}, {0x30, 0x09, 0x00}}));
  EXPECT_FALSE(rig.bar.controlsEnabled);
  EXPECT_EQ(rig.ecuUi.notices, std::vector<std::string>{kReturnControlNotice});
  EXPECT_EQ(rig.ecuUi.noticesHidden, 1);
  EXPECT_FALSE(rig.ecuUi.pollEnabledDuringNotice);
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_TRUE(rig.bar.attached);
  EXPECT_FALSE(rig.ecuUi.busy);
  EXPECT_TRUE(rig.ecuUi.messages.empty());

  // The flags stay: another return hands the same items back; a new check clears them.
  EXPECT_EQ(rig.Sent([&] { rig.control.ReturnControl(); }).size(), 4u);
  rig.bar.selected = -1;
  Check(true);
  EXPECT_TRUE(rig.Sent([&] { Check(false); }).empty());
}

TEST_F(ActuatorTest, ExampleOfItemsZeroTwoEight) {
  Check(true);
  Select(0);
  Select(2);
  Select(8);
  EXPECT_EQ(rig.Sent([&] { Check(false); }),
            (std::vector<Bytes>{{0x30, 0x41, 0x00}, {0x30, 0x01, 0x00}, {0x30, 0x09, 0x00}}));
}

TEST_F(ActuatorTest, RefusalShownToTheUserButNotOnTheRefresh) {
  Check(true);
  rig.ecu.Faults().refuseService = 0x30;
  rig.ecu.Faults().refuseId = 0x09;
  rig.ecu.Faults().refuseCode = 0x31;

  Select(8, CtrlSender::PollTimer);
  EXPECT_TRUE(rig.ecuUi.messages.empty());
  EXPECT_EQ(rig.bar.selected, 8);
  EXPECT_TRUE(rig.bar.attached);
  EXPECT_TRUE(rig.session.PollEnabled);

  // The refresh that comes while the message is shown finds no item to ask again.
  std::vector<Bytes> askedDuringMessage{{0xFF}};
  rig.ecuUi.whileShown = [&] {
    askedDuringMessage = rig.Sent([&] { rig.control.comboCtrlChange(CtrlSender::PollTimer); });
  };
  Select(8);
  rig.ecuUi.whileShown = nullptr;
  EXPECT_EQ(rig.ecuUi.messages, std::vector<std::string>{ResponseCodeText(0x31)});
  EXPECT_TRUE(askedDuringMessage.empty());
  EXPECT_EQ(rig.bar.selected, -1);
  EXPECT_TRUE(rig.bar.attached);
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_TRUE(rig.session.Connected);

  // Switching a refused output shows the code too.
  rig.bar.selected = 8;
  rig.ecuUi.messages.clear();
  rig.control.tbCtrlChange(CtrlSender::On);
  EXPECT_EQ(rig.ecuUi.messages, std::vector<std::string>{ResponseCodeText(0x31)});
  EXPECT_TRUE(rig.session.PollEnabled);
}

TEST_F(ActuatorTest, OnlyACheckedBoxActsOnTheEcu) {
  // Unchecked (as at start, and after a return of control): nothing reaches the ECU, so no
  // output is ever taken that unchecking would not hand back.
  for (const int32_t item : {0, 2, 8}) {
    SCOPED_TRACE(item);
    rig.bar.selected = item;
    EXPECT_TRUE(rig.Sent([&] {
                     rig.control.comboCtrlChange(CtrlSender::User);
                     rig.control.comboCtrlChange(CtrlSender::PollTimer);
                     for (CtrlSender s : {CtrlSender::TrackBar, CtrlSender::On, CtrlSender::Off})
                       rig.control.tbCtrlChange(s);
                   })
                    .empty());
    EXPECT_TRUE(rig.session.PollEnabled);
  }
  // Checked, the fuel pump goes on; unchecking hands it back and the controls go off with it.
  Check(true);
  EXPECT_TRUE(rig.bar.controlsEnabled);
  Select(8);
  rig.control.tbCtrlChange(CtrlSender::On);
  EXPECT_EQ(rig.Sent([&] { Check(false); }), (std::vector<Bytes>{{0x30, 0x09, 0x00}}));
  EXPECT_FALSE(rig.bar.controlsEnabled);
  EXPECT_TRUE(rig.Sent([&] { rig.control.tbCtrlChange(CtrlSender::On); }).empty());
}

TEST_F(ActuatorTest, LostLinkEndsTheSession) {
  struct Case {
    const char* name;
    void (*act)(ActuatorTest&);
  };
  const Case cases[] = {
      {"report", [](ActuatorTest& t) { t.Select(3); }},
      {"refresh", [](ActuatorTest& t) { t.Select(3, CtrlSender::PollTimer); }},
      {"switch",
       [](ActuatorTest& t) {
         t.rig.bar.selected = 3;
         t.rig.control.tbCtrlChange(CtrlSender::On);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.ecu.Faults() = EcuFaults{};
    if (!rig.session.Connected) {
      ASSERT_TRUE(rig.ConnectByTick());
    }
    rig.ecuUi.messages.clear();
    Check(true);
    rig.ecu.Faults().unplugged = true;
    c.act(*this);
    EXPECT_FALSE(rig.session.Connected);
    EXPECT_FALSE(rig.ui.actuatorPanel);
    EXPECT_EQ(rig.ecuUi.messages,
              std::vector<std::string>{"Связь прервана: InputOutputControlByLocalIdentifier"});
    rig.session.PollEnabled = true;  // the window's timer keeps the poll cycle running
  }
  // Off-line the bar sends nothing and returns nothing.
  rig.bar.selected = 3;
  EXPECT_TRUE(rig.Sent([&] {
                   rig.control.comboCtrlChange(CtrlSender::User);
                   rig.control.tbCtrlChange(CtrlSender::On);
                   EXPECT_TRUE(rig.control.ReturnControl());
                 })
                  .empty());
  EXPECT_TRUE(rig.ecuUi.notices.empty());
}

TEST_F(ActuatorTest, ReturnFailures) {
  struct Case {
    const char* name;
    int32_t touched;
    uint8_t code;  // of the refusal; 0: no answer
    size_t requests;
    std::string message;  // empty: none
  };
  const Case cases[] = {
      {"refused returns are done", 6, 0x22, 30, ""},
      {"three unanswered are listed", 3, 0x00, 15,
       std::string(kReturnControlFailedText) +
           " - Жел. положение РХХ\n - Жел. обороты ХХ\n - Форсунка 1\n"},
      {"the fourth unanswered stops the loop", 6, 0x00, 20, kReturnControlAbortText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.ecu.Faults() = EcuFaults{};
    rig.ecuUi = RecordingEcuUi{};
    rig.ecuUi.session = &rig.session;
    rig.bar.selected = -1;
    Check(true);
    for (int32_t i = 0; i < c.touched; ++i) Select(i);
    rig.ecu.Faults().refuseService = 0x30;
    rig.ecu.Faults().refuseCode = c.code;
    const auto sent = rig.Sent([&] { EXPECT_EQ(Check(false), c.message.empty()); });
    EXPECT_EQ(sent.size(), c.requests);
    for (const Bytes& m : sent) ASSERT_EQ(m.back(), 0x00);
    EXPECT_EQ(rig.ecuUi.messages,
              c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    // Cleaned up in every case; the session stays.
    EXPECT_EQ(rig.ecuUi.noticesHidden, 1);
    EXPECT_FALSE(rig.ecuUi.busy);
    EXPECT_TRUE(rig.bar.attached);
    EXPECT_FALSE(rig.bar.checked);
    EXPECT_TRUE(rig.session.PollEnabled);
    EXPECT_TRUE(rig.session.Connected);
  }
}

}  // namespace
}  // namespace kvd::test
