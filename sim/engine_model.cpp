// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/engine_model.h"

#include <algorithm>
#include <cmath>

namespace kvd {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCrankStart = 1.5;  // seconds after ignition on
constexpr double kCrankLength = 0.8;
constexpr double kCyclePeriod = 45.0;

// The times of a schedule, in seconds since the ignition was switched on.
struct ScheduleTimes {
  double cycleStart;     // the driver's cycle: blip at +10 s, drive at +18 s, period 45 s
  double lambdaWarm;     // the oxygen sensor answers from here on (and a coolant above 25 C)
  double lambdaMissing;  // from here until it answers, "no lambda activity" is a current code
};

constexpr ScheduleTimes kStandardTimes{15.0, 40.0, 30.0};
// The cycle starts before the ignition so that its blip falls 1.7 s after the engine runs.
constexpr ScheduleTimes kDemoTimes{-6.0, 20.0, 8.0};

double Approach(double value, double target, double rate, double dt) {
  // First-order lag with time constant 1/rate.
  return value + (target - value) * std::min(1.0, rate * dt);
}

// Engine speed per km/h in the gear the driver has chosen for a speed.
double GearRatio(double kmh) {
  if (kmh < 18) return 120;
  if (kmh < 38) return 68;
  if (kmh < 58) return 46;
  return 35;
}

}  // namespace

EngineModel::EngineModel(uint32_t seed, double ambientC)
    : rng_(seed ? seed : 1), ambientC_(ambientC) {
  s_.coolantC = ambientC;
  s_.idleSetRpm = 1450;
  s_.iacPos = 40;
  s_.iacSetPos = 40;
  s_.flagsA = 0x01;
  s_.errorMask = 0x00000001;
}

double EngineModel::Noise() {
  // xorshift32, scaled to -1..1
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  return (static_cast<double>(rng_ % 20001) - 10000.0) / 10000.0;
}

const EngineState& EngineModel::At(uint64_t us) {
  if (!started_) {
    started_ = true;
    nowUs_ = us;
    return s_;
  }
  if (us <= nowUs_) return s_;
  // After more than an hour away the engine has long settled into its cycle: skip ahead
  // and run only the last hour, so that any jump of a clock stays cheap.
  constexpr uint64_t kHourUs = 3'600'000'000;
  if (us - nowUs_ > kHourUs) {
    const uint64_t skip = us - nowUs_ - kHourUs;
    s_.seconds += static_cast<double>(skip) / 1e6;
    nowUs_ += skip;
  }
  const uint64_t gap = us - nowUs_;
  // 10 ms steps; long jumps of a virtual clock run coarser so that an hour stays cheap.
  const uint64_t stepUs = gap > 600'000'000 ? 100'000 : 10'000;
  while (us - nowUs_ >= stepUs) {
    nowUs_ += stepUs;
    Step(static_cast<double>(stepUs) / 1e6);
  }
  return s_;
}

bool EngineModel::FuelPumpOn() const {
  if (ov_.fuelPump >= 0) return ov_.fuelPump == 1;
  return s_.running || s_.seconds < kCrankStart + kCrankLength;  // primes, then runs
}
bool EngineModel::FanOn() const {
  return ov_.fan >= 0 ? ov_.fan == 1 : fanState_;
}
bool EngineModel::AirConOn() const {
  return ov_.airCon == 1;
}
bool EngineModel::CheckLampOn() const {
  if (ov_.checkLamp >= 0) return ov_.checkLamp == 1;
  return !s_.running || s_.errorMask != 0;
}
bool EngineModel::PurgeOn() const {
  if (ov_.purgeValve >= 0) return ov_.purgeValve == 1;
  return (s_.flagsA & 0x40) != 0;
}
bool EngineModel::InjectorsOn() const {
  return s_.running && (s_.flagsA & 0x08) == 0;
}
bool EngineModel::IgnitionOn() const {
  return s_.running;
}

void EngineModel::Step(double dt) {
  const ScheduleTimes& times = schedule_ == EngineSchedule::kDemo ? kDemoTimes : kStandardTimes;
  EngineState& s = s_;
  s.seconds += dt;
  const double t = s.seconds;
  const bool pumpOff = ov_.fuelPump == 0;

  // Starting, stalling without fuel, restarting when the pump is back.
  bool cranking = false;
  if (!s.running) {
    const bool firstStart = t >= kCrankStart && t < kCrankStart + kCrankLength;
    const bool restart = t >= kCrankStart + kCrankLength && !pumpOff;
    if (firstStart || restart) {
      cranking = true;
      cycleTimer_ += dt;
      if (cycleTimer_ >= kCrankLength && !pumpOff) {
        s.running = true;
        cycleTimer_ = 0;
        s.rpm = s.idleSetRpm + 500;
      }
    }
  } else if (pumpOff) {
    stallTimer_ += dt;
    if (stallTimer_ > 1.5) {
      s.running = false;
      stallTimer_ = 0;
      cycleTimer_ = 0;
    }
  } else {
    stallTimer_ = 0;
  }

  // The driver: blips standing still, then a short drive, in a repeating cycle.
  double throttle = 0;
  bool driving = false;
  bool coasting = false;
  if (s.running && t >= times.cycleStart) {
    const double u = std::fmod(t - times.cycleStart, kCyclePeriod);
    const int cycle = static_cast<int>((t - times.cycleStart) / kCyclePeriod);
    const double depth = 25 + 10 * (cycle % 4);  // 25..55 %
    if (u >= 10 && u < 11.5) {
      throttle = 35 * std::sin(kPi * (u - 10) / 1.5);
    } else if (u >= 18 && u < 26) {
      throttle = depth;
      driving = true;
    } else if (u >= 26 && u < 33) {
      throttle = 14 + 2 * std::sin(u);
      driving = true;
    } else if (u >= 33 && u < 40) {
      coasting = true;
    }
  }
  s.throttlePct = Approach(s.throttlePct, throttle, 8.0, dt);

  // Vehicle speed.
  if (driving) {
    const double drag = 0.0009 * s.speedKmh * s.speedKmh + 0.3;
    s.speedKmh += (s.throttlePct * 0.11 - drag) * dt;
  } else if (coasting) {
    s.speedKmh -= (0.9 + 0.012 * s.speedKmh) * dt * 2.0;
  } else {
    s.speedKmh -= 6.0 * dt;  // braking to a stop
  }
  s.speedKmh = std::clamp(s.speedKmh, 0.0, 150.0);
  if (!s.running) s.speedKmh = std::max(0.0, s.speedKmh - 10 * dt);

  // Coolant: warms with work, held by the thermostat, cooled by the fan.
  if (s.running) {
    const double heat = 0.22 + 0.0001 * s.rpm + 0.004 * s.throttlePct;
    if (s.coolantC < 88) {
      s.coolantC += heat * dt;
    } else {
      s.coolantC += (heat * 0.12 - (FanOn() ? 0.5 : 0.0)) * dt;
    }
  } else {
    s.coolantC -= (s.coolantC - ambientC_) * 0.0005 * dt;
  }
  if (s.coolantC >= 99) fanState_ = true;
  if (s.coolantC <= 95) fanState_ = false;

  // Idle regulation.
  const double warm = std::clamp((s.coolantC - 20.0) / 60.0, 0.0, 1.0);
  double idleSet = 1450 - 600 * warm;
  if (ov_.idleSetRpm >= 0) idleSet = std::clamp<double>(ov_.idleSetRpm, 600, 2000);
  s.idleSetRpm = idleSet;
  const double naturalIac = 22 + (idleSet - 850) * 0.05 + (AirConOn() ? 6 : 0);
  s.iacSetPos = ov_.iacSetPos >= 0 ? std::min(ov_.iacSetPos, 200) : naturalIac;
  s.iacPos = Approach(s.iacPos, s.iacSetPos, 2.0, dt);

  // Engine speed.
  const bool idle = s.running && s.throttlePct < 1.0;
  const bool fuelCut = s.running && coasting && s.rpm > idleSet + 350;
  if (!s.running) {
    s.rpm = cranking ? 220 + 30 * Noise() : Approach(s.rpm, 0, 6.0, dt);
  } else {
    double target;
    if (driving || coasting) {
      target = std::max(idleSet, s.speedKmh * GearRatio(s.speedKmh));
      if (coasting && s.speedKmh < 20) target = idleSet;
    } else {
      target = idleSet + (s.iacPos - naturalIac) * 12 + s.throttlePct * 85;
    }
    int missing = 0;
    for (bool off : ov_.injectorOff) missing += off ? 1 : 0;
    target -= 90 * missing + (ov_.ignitionOff[0] ? 150 : 0) + (ov_.ignitionOff[1] ? 150 : 0);
    target += 12 * Noise();
    s.rpm = Approach(s.rpm, std::max(target, 300.0), idle ? 3.0 : 5.0, dt);
  }

  // Load, mixture and fuel.
  const bool power = s.running && s.throttlePct > 45;
  const bool knockZone = s.running && s.throttlePct > 30 && s.rpm > 1500 && s.rpm < 3500;
  const bool heated = s.running && s.seconds > kCrankStart + kCrankLength + 5;
  const bool lambdaReady = heated && s.seconds > times.lambdaWarm && s.coolantC > 25;
  const bool closedLoop = lambdaReady && !power && !fuelCut && s.coolantC > 30;

  s.cycleAirMg =
      s.running ? std::clamp(62 + 5.2 * s.throttlePct + 0.8 * s.iacPos + 3 * Noise(), 40.0, 520.0)
                : 0.0;
  if (cranking) s.cycleAirMg = 140;
  s.airKgH = s.cycleAirMg * s.rpm * 120 / 1e6;

  lambdaPhase_ += dt * 2 * kPi * (0.8 + s.rpm / 3000.0);
  if (lambdaPhase_ > 2 * kPi) lambdaPhase_ -= 2 * kPi;
  if (closedLoop) {
    s.lambdaV = 0.45 + 0.36 * std::tanh(3 * std::sin(lambdaPhase_)) + 0.02 * Noise();
    s.afr = 14.7 * (1 - 0.025 * std::sin(lambdaPhase_));
    s.injCorrection = 1.0 - 0.04 * std::cos(lambdaPhase_) + 0.01 * Noise();
  } else {
    if (!lambdaReady) {
      s.lambdaV = 0.45 + 0.005 * Noise();
    } else if (fuelCut) {
      s.lambdaV = Approach(s.lambdaV, 0.06, 4, dt);
    } else {
      s.lambdaV = Approach(s.lambdaV, 0.84, 4, dt);
    }
    s.afr = power ? 12.8 : (fuelCut ? 21.9 : 13.2 + 1.5 * warm);
    s.injCorrection = 1.0;
  }
  if (fuelCut || !s.running) {
    s.injectionMs = cranking ? 8.5 : 0.0;
    s.fuelLH = 0;
  } else {
    const double fuelMg = s.cycleAirMg / s.afr;
    s.injectionMs = std::clamp(fuelMg / 2.4 * s.injCorrection + 0.9, 0.0, 40.0);
    s.fuelLH = s.airKgH / s.afr / 0.745;
  }
  s.fuelL100 = s.speedKmh > 3 ? std::min(50.0, s.fuelLH / s.speedKmh * 100) : 0.0;

  // Ignition advance.
  if (!s.running) {
    s.advanceDeg = cranking ? 5 : 0;
  } else if (fuelCut) {
    s.advanceDeg = -2 + 3 * Noise();
  } else if (idle) {
    s.advanceDeg = 12 + (idleSet - s.rpm) * 0.05 + 1.5 * Noise() + 4 * (1 - warm);
  } else {
    s.advanceDeg = std::clamp(10 + s.rpm / 150 - s.throttlePct * 0.15, 4.0, 40.0);
    if (knockZone && std::fmod(s.seconds, 3.0) < 0.6) s.advanceDeg -= 4;
  }
  s.advanceDeg = std::clamp(s.advanceDeg, -63.5, 63.5);

  s.batteryV = !s.running ? (cranking ? 9.8 : 12.4) : (FanOn() ? 13.7 : 14.1);
  s.batteryV += 0.05 * Noise();

  // Flags.
  uint8_t a = 0;
  if (!s.running) a |= 0x01;
  if (idle) a |= 0x02;
  if (power) a |= 0x04;
  if (fuelCut) a |= 0x08;
  if (closedLoop) a |= 0x10;
  if (knockZone) a |= 0x20;
  const bool purge =
      s.running && s.coolantC > 70 && !idle && s.speedKmh > 10 && std::fmod(s.seconds, 8.0) < 5.0;
  if (purge || ov_.purgeValve == 1) a |= 0x40;
  if (closedLoop && idle && s.coolantC > 75 && std::fmod(s.seconds, 20.0) > 12) a |= 0x80;
  uint8_t b = 0;
  if (prevA_ & 0x02) b |= 0x02;
  if (idle && s.speedKmh < 3 && s.rpm < idleSet + 200) b |= 0x04;
  if (prevA_ & 0x20) b |= 0x08;
  if (prevA_ & 0x40) b |= 0x10;
  if (s.flagsB & 0x80) b |= 0x40;
  if (s.lambdaV > 0.45) b |= 0x80;
  prevA_ = a;
  s.flagsA = a;
  s.flagsB = b;
  s.flagsC = static_cast<uint8_t>((lambdaReady ? 0x01 : 0) | (heated ? 0x02 : 0));

  // Current trouble-code bits: knock sensor open (always), a rare code after a minute, the idle
  // regulator while the start flare lasts, low voltage while cranking, no lambda activity while
  // the sensor is still warming (after the first half minute; sooner in the demo).
  uint32_t mask = 0x00000001;
  if (s.seconds > 60) mask |= 0x00000004;
  if (s.running && s.rpm > idleSet + 300 && idle) mask |= 0x00000080;
  if (cranking) mask |= 0x00010000;
  if (s.running && !lambdaReady && s.seconds > times.lambdaMissing) mask |= 0x00000008;
  s.errorMask = mask;
}

}  // namespace kvd
