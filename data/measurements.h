// Measurements over a marked stretch of the recording: duration, the air mass taken in
// (trapezoidal integral of the mass air flow) and the extremes of the coolant temperature
// and of the ignition advance, and the message text that shows them.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kvd {

class ElapsedFormatter;
class HistoryStore;

struct Measurement {
  int32_t First = 0;  // record S (the earlier end)
  int32_t Last = 0;   // record E (the later end; the record after S when both marks coincide)
  int32_t StartMs = 0;
  int32_t EndMs = 0;
  int64_t DurationMs = 0;  // ElapsedMs(E) - ElapsedMs(S)
  double AirMassKg = 0.0;
  int32_t MinTemperature = 1000;  // degrees C, over records S .. E-1
  int32_t MaxTemperature = -1000;
  int32_t MinAdvanceRaw = 1000;  // half degrees of crank angle, over records S .. E-1
  int32_t MaxAdvanceRaw = -1000;
};

enum class MeasureStatus {
  kOk = 0,
  kNoSelection,   // a mark is missing (-1)
  kOutOfRange,    // a mark does not lie on a record
  kNoNextRecord,  // both marks on the newest record: there is no record after it
};

// Measures between the records `startMark` and `endMark` of `records` (count records of
// 44 bytes each). Marks on the same record measure that record and the next one; an end
// before the start is taken as if the two were exchanged. On any status but kOk `out` is
// left as it was.
MeasureStatus Measure(const uint8_t* records, int32_t count, int32_t startMark, int32_t endMark,
                      Measurement& out);
// The same for the selection marks of the store.
MeasureStatus Measure(const HistoryStore& store, Measurement& out);

// The message text of a measurement (UTF-8): times through `time`, numbers with
// `separator` as the decimal separator.
std::string MeasurementText(const Measurement& m, const ElapsedFormatter& time, char separator);

// What the user is told instead of a measurement, for every status but kOk (UTF-8).
std::string MeasureStatusText(MeasureStatus status);

}  // namespace kvd
