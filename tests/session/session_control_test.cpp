// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the session on the virtual ECU, on the virtual clock.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace kvd::test {
namespace {

const std::string kFailed =
    "Не удалось установить связь с ЭБУ.\nПроверьте правильность подключения адаптера.";

int CountConnecting(const ScriptedUi& ui) {
  int n = 0;
  for (const auto& s : ui.linkStates) n += s.state == LinkState::Connecting;
  return n;
}

TEST(Connect, FirstTickOpensTheSessionWithTheLineTimeOfItsSteps) {
  SessionRig rig;
  const uint64_t start = rig.clock.MicrosNow();
  ASSERT_TRUE(rig.ConnectByTick());
  const double ms = double(rig.clock.MicrosNow() - start) / 1000.0;

  // Quiet-line read (5 x 256 + 100), wake-up (350 + 25 + 25), delays 1, 200, 50, 200, 50,
  // three response delays of 25 ms, and 36 bytes on the line at 10400 baud: requests of 5, 7
  // and 6 bytes (echoed), answers C1 6B 8F, 50 81 and 7E of 7, 6 and 5 bytes.
  const double fixed = 1380 + 400 + 1 + 200 + 50 + 200 + 50 + 3 * 25;
  EXPECT_NEAR(ms, fixed + 36 * 10.0 / 10.4, 1.0);

  EXPECT_EQ(rig.port.MessagesSince(0),
            (std::vector<Bytes>{{0x81}, {0x10, 0x81, 0x0A}, kTesterPresent}));
  EXPECT_EQ(rig.link.TargetAddress, 0x10);
  EXPECT_TRUE(rig.ecu.SessionOpen());
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_EQ(rig.session.ConnectAttempt, 1);
  EXPECT_EQ(rig.session.TickCount, 1u);
  EXPECT_FALSE(rig.session.Paused);
  EXPECT_EQ(rig.port.openedDevice, "#3");

  // The indicator went through "Соединение 1" to "ON-LINE"; the box came and went.
  ASSERT_EQ(rig.ui.linkStates.size(), 2u);
  EXPECT_EQ(rig.ui.linkStates[0].text, "Соединение 1");
  EXPECT_EQ(LinkStateIcon(rig.ui.linkStates[0].state), 0);
  EXPECT_EQ(rig.ui.linkStates[1].text, "ON-LINE");
  EXPECT_EQ(LinkStateIcon(rig.ui.linkStates[1].state), 2);
  EXPECT_EQ(rig.ui.boxText, "Установка связи с ЭБУ...");
  EXPECT_EQ(rig.ui.boxShown, 1);
  EXPECT_FALSE(rig.ui.boxOpen);
  EXPECT_TRUE(rig.ui.messages.empty());

  const SessionMenus& m = rig.ui.menus;
  EXPECT_EQ(m.ConnectCaption, "Прервать");
  EXPECT_TRUE(m.ParamsEnabled && m.PauseEnabled && m.StopEnabled);
  EXPECT_FALSE(m.OpenDiagDataEnabled);
  EXPECT_FALSE(m.NavigationEnabled);
  EXPECT_TRUE(rig.ui.actuatorPanel);
}

TEST(Connect, TenRefusedAttemptsEndWithTheFailureMessage) {
  SessionRig rig;
  rig.ecu.Faults().wrongKeyBytes = true;  // C1 EF 8F
  EXPECT_FALSE(rig.ConnectByTick());
  EXPECT_EQ(CountConnecting(rig.ui), 10);
  EXPECT_EQ(rig.session.ConnectAttempt, 10);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], kFailed);
  EXPECT_EQ(rig.ui.linkStates.back().text, "OFF-LINE");
  EXPECT_FALSE(rig.session.PollEnabled);
  EXPECT_FALSE(rig.session.Connected);
  EXPECT_TRUE(rig.session.Paused);  // Off-line always leaves the display paused
  EXPECT_FALSE(rig.ui.boxOpen);
  EXPECT_EQ(rig.ui.menus.ConnectCaption, "Уст.связь");
  EXPECT_FALSE(rig.ui.menus.ParamsEnabled || rig.ui.menus.PauseEnabled);
  // Only StartCommunication was ever sent: a refused key ends the attempt.
  for (const Bytes& m : rig.port.MessagesSince(0)) EXPECT_EQ(m, Bytes{0x81});
  EXPECT_EQ(rig.port.writes.size(), 10u);
  // The attempts are 250 ms apart.
  for (size_t i = 1; i < rig.port.breakOnUs.size(); ++i)
    EXPECT_GE(rig.port.breakOnUs[i] - rig.port.breakOnUs[i - 1], 250'000u);

  // The timer keeps ticking, but nothing happens until the user connects again.
  const size_t writes = rig.port.writes.size();
  rig.Ticks(3);
  EXPECT_EQ(rig.port.writes.size(), writes);
  EXPECT_EQ(rig.session.TickCount, 1u);
}

TEST(Connect, CancelDuringAttemptThreeEndsThatAttemptAtItsNextWait) {
  SessionRig rig;
  rig.ecu.Faults().wrongKeyBytes = true;
  rig.ui.cancelInAttempt = 3;
  EXPECT_FALSE(rig.ConnectByTick());
  EXPECT_EQ(CountConnecting(rig.ui), 3);
  EXPECT_EQ(rig.session.ConnectAttempt, 3);
  // Attempt 3 ends in its quiet-line wait, before its StartCommunication.
  EXPECT_EQ(rig.port.writes.size(), 2u);
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], kFailed);
  EXPECT_FALSE(rig.ui.boxOpen);
}

TEST(Connect, NoisyLineDelaysStartCommunicationByLittleMoreThanFiveSeconds) {
  SessionRig rig;
  rig.ecu.Faults().noiseBytes = 20000;  // about 19 s of bytes from the moment the port opens
  const uint64_t start = rig.clock.MicrosNow();
  rig.session.PollStep();
  ASSERT_FALSE(rig.port.breakOnUs.empty());
  const double waitedMs = double(rig.port.breakOnUs[0] - start) / 1000.0;
  // 5 s of noise, the read that was running then (a full buffer of 256 bytes takes about
  // 250 ms at 10400 baud), then the 350 ms idle time of the wake-up.
  EXPECT_GT(waitedMs, 5000 + 350);
  EXPECT_LT(waitedMs, 5000 + 1380 + 350 + 10);
}

TEST(Connect, PortThatCannotBeOpenedIsNamedInTheMessage) {
  SessionRig rig;
  rig.port.refuseOpen = kPortOsRefused;
  rig.session.ComPort = 7;
  EXPECT_FALSE(rig.ConnectByTick());
  ASSERT_EQ(rig.ui.messages.size(), 1u);
  EXPECT_EQ(rig.ui.messages[0], "Не удалось открыть порт COM7. Выберите другой порт.");
  EXPECT_EQ(rig.ui.boxShown, 0);
  EXPECT_TRUE(rig.port.writes.empty());
  EXPECT_EQ(rig.ui.linkStates.back().state, LinkState::Offline);

  rig.session.ComDevice = "/dev/ttyUSB0";
  rig.session.miConnectClick();
  ASSERT_EQ(rig.ui.messages.size(), 2u);
  EXPECT_EQ(rig.ui.messages[1], "Не удалось открыть порт /dev/ttyUSB0. Выберите другой порт.");

  rig.port.refuseOpen.reset();
  rig.session.miConnectClick();
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_EQ(rig.port.openedDevice, "/dev/ttyUSB0");
}

TEST(Connect, AutoConnectOffSkipsTheFirstConnectOnly) {
  SessionRig rig;
  rig.session.AutoConnect = false;  // the window was opened to show a data file
  EXPECT_FALSE(rig.ConnectByTick());
  EXPECT_TRUE(rig.session.AutoConnect);
  EXPECT_EQ(rig.port.openCalls, 0);
  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_EQ(rig.ui.linkStates.back().text, "OFF-LINE");
  rig.Ticks(2);
  EXPECT_EQ(rig.port.openCalls, 0);  // off-line until the user connects
  rig.session.miConnectClick();
  EXPECT_TRUE(rig.session.Connected);
}

TEST(ConnectMenu, WhileOnlineDisconnectsQuietlyAndTheNextConnectKeepsThePort) {
  SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.Ticks(4);
  EXPECT_EQ(rig.history.RecordCount(), 4);

  const size_t from = rig.port.writes.size();
  rig.session.miConnectClick();  // "Прервать"
  EXPECT_FALSE(rig.session.Connected);
  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_EQ(rig.port.MessagesSince(from), (std::vector<Bytes>{{0x20}, {0x82}}));
  EXPECT_TRUE(rig.port.IsOpen());
  EXPECT_EQ(rig.ui.linkStates.back().text, "OFF-LINE");
  EXPECT_TRUE(rig.session.Paused);
  EXPECT_TRUE(rig.ui.menus.NavigationEnabled);  // the recording can be browsed
  EXPECT_EQ(rig.history.RecordCount(), 4);

  rig.session.miConnectClick();  // "Уст.связь": the recording is cleared first
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_EQ(rig.port.openCalls, 1);
  EXPECT_EQ(rig.history.RecordCount(), 0);
  EXPECT_FALSE(rig.session.Paused);
  EXPECT_EQ(rig.ui.menus.ConnectCaption, "Прервать");
}

TEST(Disconnect, ClosesTheListWindowsAndOnlyStopsAnOpenSession) {
  SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.session.Tag = kErrListShown | kBlmShown;
  rig.session.Disconnect();
  EXPECT_EQ(rig.ui.listClosed, 1);
  EXPECT_EQ(rig.ui.learnClosed, 1);
  EXPECT_EQ(rig.session.Tag, 0u);
  EXPECT_FALSE(rig.ui.actuatorPanel);
  const size_t from = rig.port.writes.size();
  rig.session.Disconnect();  // not connected: nothing goes on the line
  EXPECT_EQ(rig.port.writes.size(), from);
  EXPECT_TRUE(rig.session.Paused);
}

TEST(PauseMenu, CaptionsAndItemsOfPauseStopAndResume) {
  SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  DiagSession& s = rig.session;
  const SessionMenus& m = rig.ui.menus;

  s.miPauseClick(PauseSender::Pause);
  EXPECT_TRUE(s.Paused);
  EXPECT_EQ(s.PauseMode, 0);
  EXPECT_EQ(m.PauseCaption, "Продолжить");
  EXPECT_FALSE(m.StopEnabled);
  EXPECT_TRUE(m.NavigationEnabled);

  s.miPauseClick(PauseSender::Pause);  // "Продолжить"
  EXPECT_FALSE(s.Paused);
  EXPECT_EQ(m.PauseCaption, "Пауза");
  EXPECT_EQ(m.StopCaption, "Стоп");
  EXPECT_TRUE(m.PauseEnabled && m.StopEnabled);
  EXPECT_FALSE(m.NavigationEnabled);

  s.miPauseClick(PauseSender::Stop);
  EXPECT_EQ(s.PauseMode, 1);
  EXPECT_EQ(m.StopCaption, "Продолжить");
  EXPECT_FALSE(m.PauseEnabled);
  s.miPauseClick(PauseSender::Stop);
  EXPECT_EQ(m.StopCaption, "Стоп");
  EXPECT_TRUE(m.PauseEnabled);
}

TEST(FormClose, ReleasesTheActuatorStopsTheSessionAndClosesThePort) {
  SessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.ui.actuatorChecked = true;
  const size_t from = rig.port.writes.size();
  rig.session.FormClose();
  EXPECT_EQ(rig.ui.actuatorReleased, 1);
  EXPECT_EQ(rig.port.MessagesSince(from), (std::vector<Bytes>{{0x20}, {0x82}}));
  EXPECT_FALSE(rig.port.IsOpen());
  EXPECT_EQ(rig.port.closeCalls, 1);
  EXPECT_FALSE(rig.session.Connected);
  EXPECT_FALSE(rig.session.PollEnabled);
}

}  // namespace
}  // namespace kvd::test
