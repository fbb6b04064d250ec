// A small engine behind the virtual ECU: warm-up, idle, throttle blips, a drive, closed-loop
// lambda, and the flags and trouble-code bits of the live data moving with them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kvd {

// The engine's quantities in engineering units.
struct EngineState {
  double seconds = 0;  // since the ignition was switched on
  bool running = false;
  double rpm = 0;
  double idleSetRpm = 0;  // desired idle speed
  double throttlePct = 0;
  double speedKmh = 0;
  double coolantC = 0;
  double afr = 14.7;           // air/fuel ratio
  double injCorrection = 1.0;  // closed-loop injection time factor
  double injectionMs = 0;
  double airKgH = 0;      // mass air flow
  double cycleAirMg = 0;  // air per cylinder and cycle
  double fuelLH = 0;      // hourly fuel consumption
  double fuelL100 = 0;    // fuel per 100 km
  double advanceDeg = 0;  // ignition advance, may be negative
  double iacPos = 0;      // idle air valve position (steps)
  double iacSetPos = 0;   // its desired position
  double lambdaV = 0.45;
  double batteryV = 12.4;
  uint8_t flagsA =
      0;  // stop, idle, power enrichment, fuel cut, closed loop, knock zone, purge, learn
  uint8_t flagsB = 0;      // previous-cycle flags and lambda states
  uint8_t flagsC = 0;      // lambda sensor ready, lambda heating allowed
  uint32_t errorMask = 0;  // current trouble-code bits
};

// When the driver acts. Standard: the engine idles for a while before the first blip (about
// 25 s) and the first drive (about 33 s). Demo: a blip right after the start (about 4 s), the
// first drive at about 12 s and a lambda sensor that warms sooner, so that whoever just opened
// the program sees every pane move; after that the same repeating cycle.
enum class EngineSchedule : uint8_t { kStandard, kDemo };

// Overrides a tester may hold through InputOutputControlByLocalIdentifier.
struct EngineOverrides {
  int32_t iacSetPos = -1;  // -1: the ECU decides
  int32_t idleSetRpm = -1;
  bool injectorOff[4] = {false, false, false, false};
  bool ignitionOff[2] = {false, false};
  int32_t fuelPump = -1;  // -1 ECU, 0 off, 1 on
  int32_t fan = -1;
  int32_t airCon = -1;
  int32_t checkLamp = -1;
  int32_t purgeValve = -1;
};

// Runs in fixed steps up to the time asked for; the same seed and times give the same engine.
class EngineModel {
 public:
  explicit EngineModel(uint32_t seed = 1, double ambientC = 12.0);

  // Advances to the time (microseconds of the line's clock, the first call sets the origin)
  // and returns the state then. Earlier times return the current state unchanged.
  const EngineState& At(uint64_t us);
  const EngineState& State() const { return s_; }
  EngineOverrides& Overrides() { return ov_; }
  // Chooses the driver's timing; meant to be set before the first call of At.
  void SetSchedule(EngineSchedule schedule) { schedule_ = schedule; }
  EngineSchedule Schedule() const { return schedule_; }

  // Outputs the ECU drives on its own, for the actuator report.
  bool FuelPumpOn() const;
  bool FanOn() const;
  bool AirConOn() const;
  bool CheckLampOn() const;
  bool PurgeOn() const;
  bool InjectorsOn() const;
  bool IgnitionOn() const;

 private:
  void Step(double dt);
  double Noise();

  EngineState s_;
  EngineOverrides ov_;
  EngineSchedule schedule_ = EngineSchedule::kStandard;
  bool started_ = false;
  uint64_t nowUs_ = 0;
  uint32_t rng_;
  double ambientC_;
  double lambdaPhase_ = 0;
  double stallTimer_ = 0;
  bool fanState_ = false;
  uint8_t prevA_ = 0;
  double cycleTimer_ = 0;
};

}  // namespace kvd
