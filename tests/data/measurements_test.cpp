// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/measurements.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "data/text_export.h"
#include "link/clock.h"
#include "test_util.h"

namespace kvd {
namespace {

// Record offsets of the three quantities (catalogue positions of parameters 7, 13, 14).
constexpr int kTemp = 16;
constexpr int kAdv = 24;
constexpr int kFlow = 32;

struct Sample {
  int32_t ms;
  uint8_t temperatureRaw;
  int8_t advanceRaw;
  uint16_t flowRaw;
};

std::vector<uint8_t> Records(const std::vector<Sample>& samples) {
  std::vector<uint8_t> bytes;
  for (const Sample& s : samples) {
    auto r = kvdtest::Record(s.ms, {{kTemp, s.temperatureRaw},
                                    {kAdv, static_cast<uint8_t>(s.advanceRaw)},
                                    {kFlow, static_cast<uint8_t>(s.flowRaw & 0xFF)},
                                    {kFlow + 1, static_cast<uint8_t>(s.flowRaw >> 8)}});
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  return bytes;
}

int32_t CountOf(const std::vector<uint8_t>& bytes) {
  return static_cast<int32_t>(bytes.size() / kRecordSize);
}

TEST(MeasurementsTest, CatalogueHoldsTheQuantitiesWhereTheMeasurementReadsThem) {
  EXPECT_EQ(ParameterCatalogue()[6].RecordPosition, kTemp);
  EXPECT_EQ(ParameterCatalogue()[12].RecordPosition, kAdv);
  EXPECT_EQ(ParameterCatalogue()[13].RecordPosition, kFlow);
}

TEST(MeasurementsTest, ConstantFlowOf360Over100SecondsIsOneKilogram) {
  // Many uneven steps: the trapezium sum must not depend on how the time is cut.
  std::vector<Sample> samples;
  for (int32_t t = 0; t < 100'000; t += 250 + (t / 250 % 3) * 125)
    samples.push_back({t, 130, 20, 360});
  samples.push_back({100'000, 130, 20, 360});
  const auto bytes = Records(samples);
  Measurement m;
  ASSERT_EQ(Measure(bytes.data(), CountOf(bytes), 0, CountOf(bytes) - 1, m), MeasureStatus::kOk);
  EXPECT_NEAR(m.AirMassKg, 1.0, 1e-9);
  EXPECT_EQ(m.DurationMs, 100'000);
  const std::string text = MeasurementText(m, ElapsedFormatter(), '.');
  EXPECT_NE(text.find("интегральный расход воздуха 1.0000 кг"), std::string::npos) << text;
}

TEST(MeasurementsTest, TrapeziumAndExtremesLeaveOutTheLastRecord) {
  // Flow rises linearly 0 -> 720 over 2 s: mean 360 -> 10 g/s -> 0.02 kg.
  // The last record's temperature (raw 250) and advance (-100) must not count.
  const auto bytes =
      Records({{1000, 0, -40, 0}, {2000, 100, 30, 360}, {3000, 250, -100, 720}, {4000, 90, 10, 0}});
  struct Case {
    int32_t from, to;
    double kg;
    int32_t minT, maxT, minA, maxA, first, last;
    int64_t ms;
  };
  const Case cases[] = {
      {0, 2, 0.02, -40, 60, -40, 30, 0, 2, 2000},
      {2, 0, 0.02, -40, 60, -40, 30, 0, 2, 2000},  // reversed marks: the same result
      {1, 1, 0.015, 60, 60, 30, 30, 1, 2, 1000},   // one record: it and the next one
      {3, 0, 0.03, -40, 210, -100, 30, 0, 3, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to));
    Measurement m;
    ASSERT_EQ(Measure(bytes.data(), CountOf(bytes), c.from, c.to, m), MeasureStatus::kOk);
    EXPECT_EQ(m.First, c.first);
    EXPECT_EQ(m.Last, c.last);
    EXPECT_NEAR(m.AirMassKg, c.kg, 1e-12);
    EXPECT_EQ(m.DurationMs, c.ms);
    EXPECT_EQ(m.MinTemperature, c.minT);
    EXPECT_EQ(m.MaxTemperature, c.maxT);
    EXPECT_EQ(m.MinAdvanceRaw, c.minA);
    EXPECT_EQ(m.MaxAdvanceRaw, c.maxA);
  }
}

TEST(MeasurementsTest, RefusesWhatCannotBeMeasured) {
  const auto bytes = Records({{0, 100, 0, 10}, {250, 100, 0, 10}, {500, 100, 0, 10}});
  struct Case {
    int32_t from, to;
    MeasureStatus status;
  };
  const Case cases[] = {
      {-1, 1, MeasureStatus::kNoSelection}, {1, -1, MeasureStatus::kNoSelection},
      {0, 3, MeasureStatus::kOutOfRange},   {7, 1, MeasureStatus::kOutOfRange},
      {2, 2, MeasureStatus::kNoNextRecord},  // both marks on the newest record
  };
  for (const Case& c : cases) {
    Measurement m;
    m.AirMassKg = 42;
    EXPECT_EQ(Measure(bytes.data(), 3, c.from, c.to, m), c.status) << c.from << ".." << c.to;
    EXPECT_EQ(m.AirMassKg, 42) << "left as it was";
    EXPECT_FALSE(MeasureStatusText(c.status).empty());
  }
  Measurement m;
  EXPECT_EQ(Measure(nullptr, 0, 0, 0, m), MeasureStatus::kOutOfRange);
}

TEST(MeasurementsTest, StoreNewestRecordMarkedTwiceIsNotMeasuredFromTheSlotAfterIt) {
  VirtualClock clock{1000};
  HistoryStore store{clock};
  // A longer recording first, then a reset: the slot after the newest record holds old bytes.
  auto block = kvdtest::Block({{26, 200}});  // flow low byte lies at payload 26
  for (int i = 0; i < 5; ++i) {
    clock.AdvanceMs(250);
    store.Append(block.data());
  }
  store.Reset();
  for (int i = 0; i < 2; ++i) {
    clock.AdvanceMs(250);
    store.Append(block.data());
  }
  ASSERT_TRUE(store.SetStartMark(1));
  ASSERT_TRUE(store.SetEndMark(1));
  Measurement m;
  EXPECT_EQ(Measure(store, m), MeasureStatus::kNoNextRecord);
  ASSERT_TRUE(store.SetStartMark(0));
  ASSERT_EQ(Measure(store, m), MeasureStatus::kOk);
  EXPECT_EQ(m.First, 0);
  EXPECT_EQ(m.Last, 1);
  EXPECT_EQ(m.DurationMs, 250);
}

TEST(MeasurementsTest, MessageTextAsTheUserSeesIt) {
  const auto bytes = Records({{65'070, 40, -40, 360}, {66'070, 130, 7, 360}, {3'727'560, 0, 0, 0}});
  Measurement m;
  ASSERT_EQ(Measure(bytes.data(), 3, 0, 1, m), MeasureStatus::kOk);
  EXPECT_EQ(MeasurementText(m, ElapsedFormatter(), ','),
            "Измерение в интервале 0:01:05.07 - 0:01:06.07 :\n\n\n"
            "  - время между метками - 0:00:01.00\n\n"
            "  - интегральный расход воздуха 0,0100 кг\n\n"
            "  - минимальная температура двигателя 0 град.С\n\n"
            "  - максимальная температура двигателя 0 град. С\n\n"
            "  - минимальный УОЗ -20,0 град.п.к.в.\n\n"
            "  - максимальный УОЗ -20,0 град.п.к.в.\n");
  // A raw temperature of 0 is -40 C; odd advances keep their half degree.
  const auto cold = Records({{0, 0, 7, 0}, {10, 0, -3, 0}, {20, 0, 0, 0}});
  ASSERT_EQ(Measure(cold.data(), 3, 2, 0, m), MeasureStatus::kOk);
  const std::string t = MeasurementText(m, ElapsedFormatter(), '.');
  EXPECT_NE(t.find("минимальная температура двигателя -40 град.С"), std::string::npos) << t;
  EXPECT_NE(t.find("минимальный УОЗ -1.5 град"), std::string::npos) << t;
  EXPECT_NE(t.find("максимальный УОЗ 3.5 град"), std::string::npos) << t;
  EXPECT_NE(t.find("расход воздуха 0.0000 кг"), std::string::npos) << t;
}

TEST(MeasurementsTest, HostileTimesGiveNumbersNotOverflow) {
  // Times jumping from the largest to the smallest int32: no signed overflow (UBSan), and a
  // finite mass.
  const auto bytes = Records({{INT32_MAX, 100, 0, 65535}, {INT32_MIN, 100, 0, 65535}});
  Measurement m;
  ASSERT_EQ(Measure(bytes.data(), 2, 0, 1, m), MeasureStatus::kOk);
  EXPECT_EQ(m.DurationMs, int64_t{INT32_MIN} - INT32_MAX);
  EXPECT_TRUE(std::isfinite(m.AirMassKg));
  EXPECT_FALSE(MeasurementText(m, ElapsedFormatter(), '.').empty());
}

}  // namespace
}  // namespace kvd
