// SPDX-License-Identifier: GPL-3.0-or-later
// The connect keeps the window responsive: every wait on the line lets the window handle its
// messages, and Cancel ends the connect within half a second, on any line.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "session_fixture.h"

namespace kvd::test {
namespace {

constexpr uint64_t kResponsiveUs = 500'000;

const std::string kFailed =
    "Не удалось установить связь с ЭБУ.\nПроверьте правильность подключения адаптера.";

struct LineCase {
  const char* name;
  std::function<void(VirtualEcu&)> setUp;
  bool connects;
};

const LineCase kLines[] = {
    {"answering ECU", [](VirtualEcu&) {}, true},
    {"no adapter", [](VirtualEcu& e) { e.Faults().unplugged = true; }, false},
    {"wrong key bytes", [](VirtualEcu& e) { e.Faults().wrongKeyBytes = true; }, false},
    // About 96 s of bytes from the moment the port opens: every quiet-line wait runs its five
    // seconds, and all ten attempts fail, a minute in all.
    {"noisy line", [](VirtualEcu& e) { e.Faults().noiseBytes = 100000; }, false},
    {"noise, then an ECU", [](VirtualEcu& e) { e.Faults().noiseBytes = 3000; }, true},
    {"ECU that never answers", [](VirtualEcu& e) { e.Faults().answerLimit = 0; }, false},
};

TEST(ConnectWaits, TheWindowGetsItsTurnAtLeastEveryHalfSecond) {
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.name);
    SessionRig rig;
    c.setUp(rig.ecu);
    const uint64_t start = rig.clock.MicrosNow();
    EXPECT_EQ(rig.ConnectByTick(), c.connects);
    const uint64_t end = rig.clock.MicrosNow();

    std::vector<uint64_t> marks{start};
    marks.insert(marks.end(), rig.ui.pumpsUs.begin(), rig.ui.pumpsUs.end());
    marks.push_back(end);
    uint64_t longest = 0;
    uint64_t longestAt = 0;
    for (size_t i = 1; i < marks.size(); ++i) {
      if (marks[i] - marks[i - 1] > longest) {
        longest = marks[i] - marks[i - 1];
        longestAt = marks[i - 1] - start;
      }
    }
    EXPECT_LE(longest, kResponsiveUs)
        << "no turn for " << longest / 1000 << " ms from " << longestAt / 1000 << " ms on";
    // Not a turn per byte either: the window is asked at most every 50 ms or so.
    EXPECT_LE(rig.ui.pumpsUs.size(), (end - start) / 40'000 + 30);
  }
}

TEST(ConnectWaits, CancelDuringAnyWaitEndsTheConnectWithinHalfASecond) {
  struct CancelCase {
    const char* line;
    uint32_t cancelAtMs;  // after the tick started
  };
  // The moments fall into the quiet-line wait, the wake-up, the answers of the session's
  // steps, the pause between attempts, and the five seconds of a noisy line.
  const CancelCase cases[] = {
      {"no adapter", 700},     {"no adapter", 1500},    {"no adapter", 2100},
      {"answering ECU", 1800}, {"answering ECU", 2200}, {"wrong key bytes", 1850},
      {"noisy line", 3000},    {"noisy line", 6100},    {"ECU that never answers", 1820},
  };
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(std::string(c.line) + ", cancel at " + std::to_string(c.cancelAtMs) + " ms");
    const LineCase* line =
        std::find_if(std::begin(kLines), std::end(kLines),
                     [&](const LineCase& l) { return l.name == std::string(c.line); });
    ASSERT_NE(line, std::end(kLines));
    SessionRig rig;
    line->setUp(rig.ecu);
    const uint64_t cancelAt = rig.clock.MicrosNow() + uint64_t{c.cancelAtMs} * 1000;
    uint64_t pressedAt = 0;
    rig.ui.onPump = [&] {
      if (!rig.ui.cancelled && rig.clock.MicrosNow() >= cancelAt) {
        rig.ui.cancelled = true;
        pressedAt = rig.clock.MicrosNow();
      }
    };
    EXPECT_FALSE(rig.ConnectByTick());
    ASSERT_NE(pressedAt, 0u) << "the connect never gave the window a turn after the moment";
    // The click is handled at most half a second after it was made, and the connect ends
    // right after it: no further attempt, no further request.
    EXPECT_LE(pressedAt - cancelAt, kResponsiveUs);
    EXPECT_LE(rig.clock.MicrosNow() - pressedAt, 10'000u);
    for (const auto& w : rig.port.writes) EXPECT_LE(w.atUs, pressedAt);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0], kFailed);
    EXPECT_FALSE(rig.session.Connected);
    EXPECT_FALSE(rig.session.PollEnabled);
    EXPECT_FALSE(rig.ui.boxOpen);
    EXPECT_EQ(rig.ui.linkStates.back().state, LinkState::Offline);
    // The port keeps the session's time-outs for the next connect.
    SerialTimeouts t;
    ASSERT_TRUE(rig.line.GetTimeouts(t));
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
    EXPECT_FALSE(rig.line.BreakOn());
  }
}

TEST(ConnectWaits, ConnectAfterACancelledOneStillWorks) {
  SessionRig rig;
  rig.ui.onPump = [&] { rig.ui.cancelled = rig.clock.MicrosNow() > 1'000'000 + 1'800'000; };
  EXPECT_FALSE(rig.ConnectByTick());
  rig.ui.onPump = nullptr;
  rig.ui.cancelled = false;
  rig.clock.Sleep(6000);  // the ECU forgets a session that was half open
  rig.session.miConnectClick();
  EXPECT_TRUE(rig.session.Connected);
  // Outside a connect the link waits without asking the window.
  const size_t pumps = rig.ui.pumpsUs.size();
  rig.Ticks(4);
  EXPECT_EQ(rig.ui.pumpsUs.size(), pumps);
  EXPECT_FALSE(static_cast<bool>(rig.link.WaitHook));
}

}  // namespace
}  // namespace kvd::test
