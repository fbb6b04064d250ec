// SPDX-License-Identifier: GPL-3.0-or-later
// The session through an ELM327 on the virtual clock: which adapters it takes, what it says
// about those it cannot use, and the adapter's own periodic message while the session idles.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "session/diag_session.h"
#include "session_fixture.h"

namespace kvd::test {
namespace {

TEST(ElmSession, AdaptersTheConnectTakesOrRefuses) {
  struct Row {
    const char* what;
    std::function<void(ElmFaults&)> adapter;
    bool connects;
    const char* refusalPart;  // in the one message of a refused adapter
  };
  const std::vector<Row> rows = {
      {"genuine v1.5", [](ElmFaults&) {}, true, nullptr},
      {"Bluetooth delay", [](ElmFaults& f) { f.answerDelayMs = 40; }, true, nullptr},
      {"dots at the fast init", [](ElmFaults& f) { f.initDots = true; }, true, nullptr},
      {"clone without ATFI", [](ElmFaults& f) { f.refuseFastInit = true; }, true, nullptr},
      {"v1.3 (no ATFI yet)", [](ElmFaults& f) { f.identity = "ELM327 v1.3"; }, true, nullptr},
      {"clone without ATAL",
       [](ElmFaults& f) {
         f.identity = "ELM327 v2.1";
         f.refuseAllowLong = true;
       },
       false, "(ATAL)"},
      {"clone without protocol 5",
       [](ElmFaults& f) {
         f.identity = "ELM327 v2.1";
         f.refuseProtocol5 = true;
       },
       false, "(ATSP5)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ElmSessionRig rig;
    row.adapter(rig.line.Adapter().Faults());
    EXPECT_EQ(rig.ConnectByTick(), row.connects);
    if (row.connects) {
      EXPECT_TRUE(rig.ui.messages.empty());
      EXPECT_EQ(rig.Ticks(4).size(), 4u);  // four live-data requests
      EXPECT_EQ(rig.history.RecordCount(), 4);
      continue;
    }
    // Refused after the first attempt, with the identity the adapter reported.
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_NE(rig.ui.messages[0].find("«ELM327 v2.1»"), std::string::npos);
    EXPECT_NE(rig.ui.messages[0].find(row.refusalPart), std::string::npos);
    EXPECT_NE(rig.ui.messages[0].find("KKL"), std::string::npos);
    EXPECT_EQ(rig.session.ConnectAttempt, 1);
    EXPECT_EQ(rig.line.Adapter().FastInits(), 0u);  // nothing reached the K-line
  }
}

// While the session is held ("Стоп" without ticks, a dialog open), the adapter's periodic
// message keeps the ECU's session alive, and it is this ECU's TesterPresent, never OBD's
// functional one.
TEST(ElmSession, IdleSessionKeptAliveByThisEcusTesterPresent) {
  ElmSessionRig rig;
  ASSERT_TRUE(rig.ConnectByTick());
  rig.clock.Sleep(12'000);
  rig.Ticks(1);
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_GE(rig.line.Adapter().WakeupsSent(), 3u);
  EXPECT_EQ(rig.line.Adapter().DefaultWakeupsSent(), 0u);
  EXPECT_EQ(rig.ecu.FunctionalHeard(), 0u);
  EXPECT_EQ(rig.history.RecordCount(), 1);
}

}  // namespace
}  // namespace kvd::test
