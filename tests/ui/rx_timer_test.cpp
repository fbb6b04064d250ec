// SPDX-License-Identifier: GPL-3.0-or-later
// The poll timer on a real event loop: window-timer and worker-thread ticks, re-arming,
// no ticks at interval 0, slow handlers and exceptions.
#include "ui/rx_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <stdexcept>
#include <vector>

namespace kvd {
namespace {

// Runs the event loop of this thread for about ms milliseconds.
void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until pred holds or limitMs passed; returns pred().
template <class Pred>
bool RunEventsUntil(Pred pred, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!pred() && t.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return pred();
}

struct TickLog {
  std::vector<qint64> times;
  QElapsedTimer clock;
  Qt::HANDLE thread = nullptr;
  TickLog() { clock.start(); }
};

class RxTimerModes : public ::testing::TestWithParam<bool> {};

TEST_P(RxTimerModes, TicksOnTheUserInterfaceThreadWithTheTimerAsSender) {
  TRxTimer timer;
  TickLog log;
  TRxTimer* sender = nullptr;
  timer.SetOnTimer([&](TRxTimer* s) {
    sender = s;
    log.thread = QThread::currentThreadId();
    log.times.push_back(log.clock.elapsed());
  });
  timer.SetInterval(20);
  timer.SetThreaded(GetParam());
  ASSERT_TRUE(timer.IsArmed());
  ASSERT_TRUE(RunEventsUntil([&] { return log.times.size() >= 3; }, 3000));
  EXPECT_EQ(sender, &timer);
  EXPECT_EQ(log.thread, QThread::currentThreadId());
}

TEST_P(RxTimerModes, IntervalZeroDisabledOrNoHandlerArmNothing) {
  int ticks = 0;
  TRxTimer timer;
  timer.SetThreaded(GetParam());
  timer.SetInterval(0);
  timer.SetOnTimer([&](TRxTimer*) { ++ticks; });
  EXPECT_FALSE(timer.IsArmed());
  RunEventsFor(150);
  EXPECT_EQ(ticks, 0);

  timer.SetInterval(10);
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.IsArmed());
  RunEventsFor(100);
  EXPECT_EQ(ticks, 0);

  timer.SetEnabled(true);
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.IsArmed());
  RunEventsFor(100);
  EXPECT_EQ(ticks, 0);

  timer.SetOnTimer([&](TRxTimer*) { ++ticks; });
  EXPECT_TRUE(timer.IsArmed());
  EXPECT_TRUE(RunEventsUntil([&] { return ticks > 0; }, 2000));
}

TEST_P(RxTimerModes, ExceptionInHandlerIsReportedAndTheTimerGoesOn) {
  TRxTimer timer;
  int ticks = 0;
  std::vector<std::string> reported;
  timer.SetOnException([&](const std::string& m) { reported.push_back(m); });
  timer.SetOnTimer([&](TRxTimer*) {
    if (++ticks == 1) throw std::runtime_error("Файл повреждён");
  });
  timer.SetThreaded(GetParam());
  timer.SetInterval(15);
  ASSERT_TRUE(RunEventsUntil([&] { return ticks >= 3; }, 3000));
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "Файл повреждён");
}

TEST_P(RxTimerModes, HandlerMayChangeTheTimerWhileTicking) {
  // The poll step may stop or re-time the timer from inside its own tick; that must
  // neither deadlock the worker nor lose the timer.
  TRxTimer timer;
  int ticks = 0;
  timer.SetThreaded(GetParam());
  timer.SetInterval(10);
  timer.SetOnTimer([&](TRxTimer* t) {
    ++ticks;
    if (ticks == 2) t->SetInterval(15);
    if (ticks == 4) t->SetEnabled(false);
  });
  ASSERT_TRUE(RunEventsUntil([&] { return ticks >= 4; }, 3000));
  RunEventsFor(100);
  EXPECT_EQ(ticks, 4);
  EXPECT_FALSE(timer.IsArmed());
}

INSTANTIATE_TEST_SUITE_P(WindowAndThread, RxTimerModes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Threaded" : "Window"; });

TEST(RxTimer, StartValuesAndSameValueDoesNotReArm) {
  TRxTimer timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_TRUE(timer.Threaded());
  EXPECT_EQ(timer.ThreadPriority(), QThread::NormalPriority);
  EXPECT_FALSE(timer.HasOnTimer());
  EXPECT_FALSE(timer.IsArmed());  // no handler yet

  // A window timer that is re-armed restarts its period; setting the same interval
  // again must not, so ticks keep coming although it is set faster than the period.
  int ticks = 0;
  timer.SetThreaded(false);
  timer.SetInterval(40);
  timer.SetOnTimer([&](TRxTimer*) { ++ticks; });
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 300) {
    timer.SetInterval(40);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
  EXPECT_GE(ticks, 3);
}

TEST(RxTimer, ThreadedPeriodIsIntervalPlusHandlerTime) {
  // Interval 100 ms, handler 150 ms: a tick every 250 ms, never overlapping.
  TRxTimer timer;
  TickLog log;
  bool inside = false;
  bool overlapped = false;
  timer.SetOnTimer([&](TRxTimer*) {
    if (inside) overlapped = true;
    inside = true;
    log.times.push_back(log.clock.elapsed());
    QThread::msleep(150);
    inside = false;
  });
  timer.SetInterval(100);
  timer.SetThreaded(true);
  ASSERT_TRUE(RunEventsUntil([&] { return log.times.size() >= 5; }, 5000));
  timer.SetEnabled(false);
  EXPECT_FALSE(overlapped);
  const double period = double(log.times.back() - log.times.front()) / (log.times.size() - 1);
  // Never shorter than interval + handler; the upper bound only guards against gross
  // errors on a loaded machine.
  EXPECT_GE(period, 245.0);
  EXPECT_LE(period, 600.0);
}

TEST(RxTimer, WindowTimerDoesNotPileUpBehindASlowHandler) {
  TRxTimer timer;
  TickLog log;
  timer.SetThreaded(false);
  timer.SetOnTimer([&](TRxTimer*) {
    log.times.push_back(log.clock.elapsed());
    QThread::msleep(60);
  });
  timer.SetInterval(20);
  RunEventsFor(400);
  timer.SetEnabled(false);
  // At most one tick per handler run: a pile-up would show as more than 400/60 + 1 ticks.
  EXPECT_GE(log.times.size(), 3u);
  EXPECT_LE(log.times.size(), 8u);
}

TEST(RxTimer, SwitchingFromThreadToWindowTimerKeepsTickingWithTheSameInterval) {
  TRxTimer timer;
  int ticks = 0;
  timer.SetOnTimer([&](TRxTimer*) { ++ticks; });
  timer.SetInterval(20);
  timer.SetThreaded(true);
  ASSERT_TRUE(RunEventsUntil([&] { return ticks >= 2; }, 3000));
  timer.SetThreaded(false);
  EXPECT_TRUE(timer.IsArmed());
  const int before = ticks;
  ASSERT_TRUE(RunEventsUntil([&] { return ticks >= before + 3; }, 3000));
  timer.SetThreaded(true);
  EXPECT_TRUE(timer.IsArmed());
}

TEST(RxTimer, DestroyedWhileATickIsQueuedRunsNothingAfterwards) {
  int ticks = 0;
  {
    TRxTimer timer;
    timer.SetOnTimer([&](TRxTimer*) { ++ticks; });
    timer.SetInterval(1);
    timer.SetThreaded(true);
    // Let the worker post ticks without handling them, then destroy the timer.
    QThread::msleep(30);
  }
  RunEventsFor(50);
  EXPECT_EQ(ticks, 0);
}

}  // namespace
}  // namespace kvd
