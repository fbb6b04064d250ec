// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/measurements.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "data/history.h"
#include "data/parameters.h"
#include "data/text_export.h"

namespace kvd {

namespace {

// Catalogue numbers of the three quantities the measurement reads.
constexpr ParameterNumber kCoolantTemperature = 7;  // unsigned byte, degrees C + 40
constexpr ParameterNumber kIgnitionAdvance = 13;    // signed byte, half degrees
constexpr ParameterNumber kMassAirFlow = 14;        // unsigned 16 bits LE, kg/h x 10

int32_t PositionOf(ParameterNumber number, int32_t width) {
  const int32_t pos = ParameterCatalogue()[static_cast<size_t>(number - 1)].RecordPosition;
  // The catalogue is fixed; a position that would read past the record reads offset 8.
  return pos >= kRecordPayloadOffset && pos + width <= kRecordSize ? pos : kRecordPayloadOffset;
}

// The flow in grams per second: raw / 10 kg/h = raw / 36 g/s.
double FlowOf(const uint8_t* record, int32_t pos) {
  return LoadLE16(record + pos) * (1.0 / 36);
}

// printf's %W.Pf, with `separator` for the point whatever the C locale says.
std::string Fixed(double value, int width, int precision, char separator) {
  if (!std::isfinite(value)) value = 0.0;
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  std::string s = ec == std::errc() ? std::string(buf, end) : std::string("0");
  std::replace(s.begin(), s.end(), '.', separator);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

MeasureStatus Measure(const uint8_t* records, int32_t count, int32_t startMark, int32_t endMark,
                      Measurement& out) {
  if (startMark < 0 || endMark < 0) return MeasureStatus::kNoSelection;
  if (records == nullptr || startMark >= count || endMark >= count)
    return MeasureStatus::kOutOfRange;
  int32_t s = startMark;
  int32_t e = endMark;
  if (s == e) {
    // One marked record: it and its successor. The newest record has none; the slot after
    // it holds no record (old bytes at best), so nothing is measured.
    if (s + 1 >= count) return MeasureStatus::kNoNextRecord;
    e = s + 1;
  }
  if (e < s) std::swap(s, e);

  const int32_t tempPos = PositionOf(kCoolantTemperature, 1);
  const int32_t advPos = PositionOf(kIgnitionAdvance, 1);
  const int32_t flowPos = PositionOf(kMassAirFlow, 2);
  auto rec = [records](int32_t i) { return records + static_cast<size_t>(i) * kRecordSize; };

  Measurement m;
  m.First = s;
  m.Last = e;
  m.StartMs = static_cast<int32_t>(LoadLE32(rec(s)));
  m.EndMs = static_cast<int32_t>(LoadLE32(rec(e)));
  m.DurationMs = int64_t{m.EndMs} - m.StartMs;
  double sum = 0.0;
  for (int32_t r = s; r < e; ++r) {
    const uint8_t* a = rec(r);
    const uint8_t* b = rec(r + 1);
    const int64_t dt =
        int64_t{static_cast<int32_t>(LoadLE32(b))} - static_cast<int32_t>(LoadLE32(a));
    // Grams over dt milliseconds (trapezium); the sum in grams becomes kilograms below.
    sum += static_cast<double>(dt) * ((FlowOf(a, flowPos) + FlowOf(b, flowPos)) / 2 * 0.001);
    const int32_t temperature = int32_t{a[tempPos]} - 40;
    m.MinTemperature = std::min(m.MinTemperature, temperature);
    m.MaxTemperature = std::max(m.MaxTemperature, temperature);
    const int32_t advance = static_cast<int8_t>(a[advPos]);
    m.MinAdvanceRaw = std::min(m.MinAdvanceRaw, advance);
    m.MaxAdvanceRaw = std::max(m.MaxAdvanceRaw, advance);
  }
  m.AirMassKg = sum * 0.001;
  out = m;
  return MeasureStatus::kOk;
}

MeasureStatus Measure(const HistoryStore& store, Measurement& out) {
  return Measure(store.RecordBytes(), store.RecordCount(), store.SelectionStart(),
                 store.SelectionEnd(), out);
}

std::string MeasurementText(const Measurement& m, const ElapsedFormatter& time, char separator) {
  std::string t = "Измерение в интервале ";
  t += time.Format(m.StartMs);
  t += " - ";
  t += time.Format(m.EndMs);
  t += " :\n\n\n  - время между метками - ";
  t += time.Format(ClampToInt32(m.DurationMs));
  t += "\n\n  - интегральный расход воздуха ";
  t += Fixed(m.AirMassKg, 5, 4, separator);
  t += " кг\n\n  - минимальная температура двигателя ";
  t += std::to_string(m.MinTemperature);
  t += " град.С\n\n  - максимальная температура двигателя ";
  t += std::to_string(m.MaxTemperature);
  t += " град. С\n\n  - минимальный УОЗ ";
  t += Fixed(m.MinAdvanceRaw / 2.0, 3, 1, separator);
  t += " град.п.к.в.\n\n  - максимальный УОЗ ";
  t += Fixed(m.MaxAdvanceRaw / 2.0, 3, 1, separator);
  t += " град.п.к.в.\n";
  return t;
}

std::string MeasureStatusText(MeasureStatus status) {
  switch (status) {
    case MeasureStatus::kOk:
      return {};
    case MeasureStatus::kNoSelection:
      return "Для измерения поставьте обе метки.";
    case MeasureStatus::kOutOfRange:
      return "Метка стоит вне записанных данных, измерение невозможно.";
    case MeasureStatus::kNoNextRecord:
      return "Обе метки стоят на последней записи, после неё данных нет: измерение "
             "невозможно.";
  }
  return {};
}

}  // namespace kvd
