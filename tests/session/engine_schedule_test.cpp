// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's schedules as the session sees them, timed from the moment the session opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "data/parameters.h"
#include "session_fixture.h"

namespace kvd::test {
namespace {

constexpr int kThrottle = 1;                  // "Положение дросселя", %
constexpr int kSpeed = 16;                    // "Скорость автомобиля", km/h
constexpr uint32_t kLambdaCode = 0x00000008;  // mask bit 3, P0134

double AdcVolts(const std::string& text) {
  return text.empty() ? -1.0 : std::stod(text);
}

// What a minute of polling shows, seconds counted from the session's opening.
struct Timeline {
  double firstBlip = -1;   // throttle above 10 % while standing
  double firstDrive = -1;  // speed above 5 km/h
  double codeOn = -1;      // the lambda code becomes current
  double codeOff = -1;     // and goes again
  double tpsIdle = -1;     // ADC "ДПДЗ" at the first reading, volts
  double tpsMax = 0;
  double coolantFirst = -1;  // ADC "ДТОЖ"
  double coolantLast = -1;
  double lambdaMin = 9, lambdaMax = -1;  // ADC "ДК"
  double mafIdle = -1, mafMax = 0;       // ADC "ДМРВ"
  double knockIdle = -1, knockMax = 0;   // ADC "ДД"
};

Timeline Watch(EngineSchedule schedule, double seconds) {
  SessionRig rig;
  rig.ecu.Engine().SetSchedule(schedule);
  rig.ui.adcShown = true;
  Timeline tl;
  if (!rig.ConnectByTick()) {
    ADD_FAILURE() << "no session";
    return tl;
  }
  const uint64_t openUs = rig.clock.MicrosNow();
  const ParameterDescriptor throttle = *LookupParameter(kThrottle);
  const ParameterDescriptor speed = *LookupParameter(kSpeed);
  bool codeWas = false;
  while (rig.clock.MicrosNow() - openUs < static_cast<uint64_t>(seconds * 1e6)) {
    rig.session.PollStep();
    const double t = static_cast<double>(rig.clock.MicrosNow() - openUs) / 1e6;
    const HistoryRecord* r = rig.history.RecordAt(rig.history.RecordCount() - 1);
    if (!r) {
      ADD_FAILURE() << "no record at " << t;
      return tl;
    }
    if (tl.firstBlip < 0 && DecodeValue(throttle, *r) > 10 && DecodeValue(speed, *r) < 1)
      tl.firstBlip = t;
    if (tl.firstDrive < 0 && DecodeValue(speed, *r) > 5) tl.firstDrive = t;
    const bool code = (rig.session.ErrorMask & kLambdaCode) != 0;
    if (code && !codeWas && tl.codeOn < 0) tl.codeOn = t;
    if (!code && codeWas && tl.codeOff < 0) tl.codeOff = t;
    codeWas = code;
    if (!rig.ui.adc.empty()) {
      const AdcTexts& a = rig.ui.adc.back();
      const double tps = AdcVolts(a[kAdcTps]), coolant = AdcVolts(a[kAdcCoolant]);
      const double lambda = AdcVolts(a[kAdcLambda]), maf = AdcVolts(a[kAdcMaf]);
      const double knock = AdcVolts(a[kAdcMap]);
      if (tl.tpsIdle < 0) tl.tpsIdle = tps, tl.mafIdle = maf, tl.knockIdle = knock;
      if (tl.coolantFirst < 0) tl.coolantFirst = coolant;
      tl.coolantLast = coolant;
      tl.tpsMax = std::max(tl.tpsMax, tps);
      tl.mafMax = std::max(tl.mafMax, maf);
      tl.knockMax = std::max(tl.knockMax, knock);
      tl.lambdaMin = std::min(tl.lambdaMin, lambda);
      tl.lambdaMax = std::max(tl.lambdaMax, lambda);
    }
    rig.clock.Sleep(250);
  }
  EXPECT_TRUE(rig.ui.messages.empty());
  return tl;
}

TEST(EngineSchedule, DemoMovesAtOnceAndTheStandardTimingIsKept) {
  // The session opens about 2.6 s after the line (the engine's time zero). The standard
  // schedule's blip comes at 25 s of engine time, its drive at 33 s, its lambda code from
  // 30 s until the sensor answers: the tests of the model rely on these.
  struct Case {
    EngineSchedule schedule;
    double blipFrom, blipTo, driveFrom, driveTo, codeFrom, codeOffBy;
  };
  const Case cases[] = {
      {EngineSchedule::kDemo, 0.0, 3.0, 3.0, 15.0, 0.0, 60.0},
      {EngineSchedule::kStandard, 22.0, 24.0, 31.0, 35.0, 27.0, 60.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.schedule == EngineSchedule::kDemo ? "demo" : "standard");
    const Timeline tl = Watch(c.schedule, 60.0);
    EXPECT_GE(tl.firstBlip, c.blipFrom);
    EXPECT_LE(tl.firstBlip, c.blipTo);
    EXPECT_GE(tl.firstDrive, c.driveFrom);
    EXPECT_LE(tl.firstDrive, c.driveTo);
    EXPECT_GE(tl.codeOn, c.codeFrom);
    EXPECT_GT(tl.codeOff, tl.codeOn);
    EXPECT_LE(tl.codeOff, c.codeOffBy);

    // The ADC channels follow the engine: throttle sensor and air-mass meter rise with the
    // blip and the drive, the knock sensor with speed and load, the coolant sensor's voltage
    // falls as the engine warms, the oxygen sensor swings once it answers.
    EXPECT_NEAR(tl.tpsIdle, 0.5, 0.05);
    EXPECT_GT(tl.tpsMax, 1.6);
    EXPECT_GT(tl.mafMax, tl.mafIdle + 0.8);
    EXPECT_GT(tl.knockMax, tl.knockIdle + 0.2);
    EXPECT_LT(tl.coolantLast, tl.coolantFirst - 0.2);
    EXPECT_LT(tl.lambdaMin, 0.3);
    EXPECT_GT(tl.lambdaMax, 0.6);
  }
}

}  // namespace
}  // namespace kvd::test
