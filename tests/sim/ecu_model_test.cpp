// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "data/parameters.h"
#include "sim/virtual_ecu.h"

namespace kvd {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSecond = 1'000'000;

Bytes Ask(VirtualEcu& ecu, Bytes request, uint64_t atUs) {
  std::optional<Bytes> a = ecu.Answer(request, atUs);
  return a ? *a : Bytes{};
}

// A history-record image of a data block (payload byte k at record offset k + 6), the form the
// catalogue's positions refer to.
std::array<uint8_t, 44> Record(const std::array<uint8_t, 36>& block) {
  std::array<uint8_t, 44> r{};
  for (size_t k = 0; k < block.size(); ++k) r[k + 6] = block[k];
  return r;
}

double Value(const std::array<uint8_t, 44>& record, int number) {
  return DecodeValue(*LookupParameter(number), record.data());
}

TEST(EngineModelTest, LiveDataDecodeToAPlausibleDriveOverSixMinutes) {
  VirtualEcu ecu;
  std::map<int, std::pair<bool, bool>> flagSeen;  // parameter -> (seen 0, seen 1)
  double coolantFirst = 0, coolantLast = 0, maxSpeed = 0, minAdvance = 100, maxRpm = 0;
  double lambdaMin = 9, lambdaMax = 0, lambdaSum = 0;
  int closedLoop = 0, warmIdle = 0, idleRun = 0;
  uint32_t maskOr = 0, maskAnd = 0xFFFFFFFF;
  for (uint64_t t = 0; t <= 360 * kSecond; t += kSecond / 4) {
    const auto block = ecu.LiveDataBlock(t);
    ASSERT_EQ(block[0], 0x61);
    ASSERT_EQ(block[1], 0x01);
    const auto rec = Record(block);
    for (int p = 18; p <= 34; ++p) {
      (Value(rec, p) > 0.5 ? flagSeen[p].second : flagSeen[p].first) = true;
    }
    const double coolant = Value(rec, 7);
    if (t == 0) coolantFirst = coolant;
    coolantLast = coolant;
    const double rpm = Value(rec, 3 - 1);  // [40] resolution covers the whole range
    maxRpm = std::max(maxRpm, rpm);
    maxSpeed = std::max(maxSpeed, Value(rec, 16));
    minAdvance = std::min(minAdvance, Value(rec, 13));
    const uint32_t mask = ErrorMaskOfDataBlock(block.data());
    maskOr |= mask;
    maskAnd &= mask;
    const bool idle = Value(rec, 19) > 0.5;
    const bool running = Value(rec, 18) < 0.5;
    if (Value(rec, 29) > 0.5) {  // closed loop on the oxygen sensor
      ++closedLoop;
      const double v = Value(rec, 17);
      lambdaMin = std::min(lambdaMin, v);
      lambdaMax = std::max(lambdaMax, v);
      lambdaSum += v;
      EXPECT_NEAR(Value(rec, 8), 14.7, 0.6);  // mixture
      EXPECT_NEAR(Value(rec, 9), 1.0, 0.1);   // injection correction
    }
    if (running && Value(rec, 23) < 0.5) {
      // Consistency of load and fuel: injection time, air mass, hourly consumption.
      EXPECT_GT(Value(rec, 10), 0.9) << "t " << t;
      EXPECT_GT(Value(rec, 14), 2.0) << "t " << t;
      const double fuel = Value(rec, 14) / Value(rec, 8) / 0.745;
      EXPECT_NEAR(Value(rec, 11), fuel, 0.05 + 0.1 * fuel) << "t " << t;
    }
    idleRun = running && idle && Value(rec, 16) < 1 ? idleRun + 1 : 0;
    if (idleRun > 8 && coolant > 85) {  // settled after 2 s of idle
      ++warmIdle;
      EXPECT_NEAR(Value(rec, 3), Value(rec, 4), 250) << "idle speed near the set point, t " << t;
    }
  }
  for (int p = 18; p <= 34; ++p) {
    if (p == 25) continue;  // reads the same bit as 24
    EXPECT_TRUE(flagSeen[p].first && flagSeen[p].second) << "flag parameter " << p;
  }
  EXPECT_LT(coolantFirst, 20);
  EXPECT_GT(coolantLast, 85);
  EXPECT_GT(maxSpeed, 40);
  EXPECT_GT(maxRpm, 2500);
  EXPECT_LT(minAdvance, 0);  // overrun fuel cut retards past zero
  EXPECT_GT(warmIdle, 20);
  ASSERT_GT(closedLoop, 100);
  EXPECT_LT(lambdaMin, 0.2);
  EXPECT_GT(lambdaMax, 0.7);
  EXPECT_NEAR(lambdaSum / closedLoop, 0.45, 0.08);
  EXPECT_EQ(maskAnd & 0x1u, 0x1u);   // the knock sensor code is always current
  EXPECT_NE(maskOr & ~maskAnd, 0u);  // and some bits come and go
}

TEST(EngineModelTest, SameSeedSameEngine) {
  VirtualEcu a(EcuSettings{}, 7), b(EcuSettings{}, 7), c(EcuSettings{}, 8);
  bool differs = false;
  for (uint64_t t = 0; t < 60 * kSecond; t += 3 * kSecond) {
    EXPECT_EQ(a.LiveDataBlock(t), b.LiveDataBlock(t));
    differs |= a.LiveDataBlock(t) != c.LiveDataBlock(t);
  }
  EXPECT_TRUE(differs);
}

TEST(EngineModelTest, LongJumpsOfTheClockStayCheapAndKeepTheEngineRunning) {
  VirtualEcu ecu;
  ecu.LiveDataBlock(0);
  const uint64_t tenDays = 10ull * 24 * 3600 * kSecond;
  const auto block = ecu.LiveDataBlock(tenDays);
  EXPECT_EQ(block[4] & 0x01, 0);       // running
  EXPECT_NEAR(block[10] - 40, 95, 8);  // warm
  EXPECT_NEAR(ecu.Engine().State().seconds, tenDays / 1e6, 1.0);
  EXPECT_EQ(ecu.LiveDataBlock(tenDays - kSecond), block);  // no way back in time
}

TEST(EcuServicesTest, TroubleCodesAreStoredClearedAndStoredAgainWhenPresent) {
  VirtualEcu ecu;
  ecu.LiveDataBlock(0);
  Bytes a = Ask(ecu, {0x18, 0x00, 0x00, 0x00}, 10 * kSecond);
  ASSERT_GE(a.size(), 2u);
  EXPECT_EQ(a[0], 0x58);
  ASSERT_EQ(a.size(), 2u + 3u * a[1]);
  std::vector<uint16_t> codes;
  for (size_t j = 0; j < a[1]; ++j)
    codes.push_back(static_cast<uint16_t>(a[2 + 3 * j] << 8 | a[3 + 3 * j]));
  // Codes with Russian texts (P0130, P0325, P0505, P1602) and one without (P3999).
  EXPECT_THAT(codes, ::testing::IsSupersetOf({0x0130, 0x0325, 0x0505, 0x1602, 0x3999}));

  EXPECT_THAT(Ask(ecu, {0x14, 0x00, 0x00}, 11 * kSecond), ElementsAre(0x54, 0x00, 0x00));
  EXPECT_THAT(Ask(ecu, {0x18, 0x00, 0x00, 0x00}, 12 * kSecond), ElementsAre(0x58, 0x00));
  // The always-present knock sensor fault is stored again a few seconds later.
  a = Ask(ecu, {0x18, 0x00, 0x00, 0x00}, 16 * kSecond);
  ASSERT_GE(a.size(), 5u);
  EXPECT_EQ(a[1], 1);
  EXPECT_THAT(Bytes(a.begin() + 2, a.begin() + 5), ElementsAre(0x03, 0x25, 0xE0));

  EXPECT_THAT(Ask(ecu, {0x14, 0x12, 0x00}, 17 * kSecond), ElementsAre(0x7F, 0x14, 0x31));
  EXPECT_THAT(Ask(ecu, {0x14, 0x00}, 17 * kSecond), ElementsAre(0x7F, 0x14, 0x12));
  EXPECT_THAT(Ask(ecu, {0x18, 0x00, 0x00}, 17 * kSecond), ElementsAre(0x7F, 0x18, 0x12));
}

TEST(EcuServicesTest, IdentificationIsReadAndWrittenBack) {
  VirtualEcu ecu;
  const Bytes reads[] = {{0x21, 0xA1}, {0x21, 0xA2}, {0x21, 0xA3}, {0x1A, 0x90},
                         {0x1A, 0x91}, {0x1A, 0x92}, {0x1A, 0x94}, {0x1A, 0x97},
                         {0x1A, 0x98}, {0x1A, 0x99}, {0x1A, 0x9A}};
  for (const Bytes& r : reads) {
    const Bytes a = Ask(ecu, r, 0);
    ASSERT_GT(a.size(), 2u) << int(r[1]);
    EXPECT_EQ(a[0], r[0] + 0x40);
    EXPECT_EQ(a[1], r[1]);
  }
  EXPECT_EQ(Ask(ecu, {0x1A, 0x90}, 0).size(), 2u + 17u);  // a VIN has 17 characters

  Bytes write{0x3B, 0x90};
  for (char c : std::string("TESTVIN1234567   ")) write.push_back(static_cast<uint8_t>(c));
  EXPECT_THAT(Ask(ecu, write, 0), ElementsAre(0x7B, 0x90));
  Bytes expected{0x5A, 0x90};
  expected.insert(expected.end(), write.begin() + 2, write.end());
  EXPECT_EQ(Ask(ecu, {0x1A, 0x90}, 0), expected);
  EXPECT_THAT(Ask(ecu, {0x3B, 0xA3, '0', '1'}, 0), ElementsAre(0x7B, 0xA3));
  EXPECT_THAT(Ask(ecu, {0x21, 0xA3}, 0), ElementsAre(0x61, 0xA3, '0', '1'));

  EXPECT_THAT(Ask(ecu, {0x3B, 0x91, 'X'}, 0), ElementsAre(0x7F, 0x3B, 0x31));  // read-only
  EXPECT_THAT(Ask(ecu, {0x3B, 0xA1}, 0), ElementsAre(0x7F, 0x3B, 0x12));
  Bytes tooLong{0x3B, 0xA1};
  tooLong.resize(2 + 65, 'X');
  EXPECT_THAT(Ask(ecu, tooLong, 0), ElementsAre(0x7F, 0x3B, 0x12));
  EXPECT_THAT(Ask(ecu, {0x1A, 0x93}, 0), ElementsAre(0x7F, 0x1A, 0x31));
}

TEST(EcuServicesTest, LearnMemoryBanksHoldFactorsNearOne) {
  VirtualEcu ecu;
  std::vector<uint8_t> bank[2];
  for (int b = 0; b < 2; ++b) {
    for (uint8_t block = 0; block < 4; ++block) {
      const Bytes a = Ask(ecu, {0x23, 0x00, uint8_t(0xFD + b), uint8_t(block * 0x40), 0x40}, 0);
      ASSERT_EQ(a.size(), 65u);
      EXPECT_EQ(a[0], 0x63);
      bank[b].insert(bank[b].end(), a.begin() + 1, a.end());
    }
    for (uint8_t v : bank[b]) {
      EXPECT_GE(v, 0x60);
      EXPECT_LE(v, 0xA0);
    }
    EXPECT_GT(std::set<uint8_t>(bank[b].begin(), bank[b].end()).size(), 8u);
  }
  EXPECT_NE(bank[0], bank[1]);
  EXPECT_EQ(bank[1][5], ecu.LearnByte(0xFE05));
  EXPECT_THAT(Ask(ecu, {0x23, 0x00, 0xFE, 0xC1, 0x40}, 0), ElementsAre(0x7F, 0x23, 0x31));
  EXPECT_THAT(Ask(ecu, {0x23, 0x01, 0xFD, 0x00, 0x40}, 0), ElementsAre(0x7F, 0x23, 0x31));
  EXPECT_THAT(Ask(ecu, {0x23, 0x00, 0xFD, 0x00, 0x00}, 0), ElementsAre(0x7F, 0x23, 0x31));
  EXPECT_THAT(Ask(ecu, {0x23, 0x00, 0xFD, 0x00}, 0), ElementsAre(0x7F, 0x23, 0x12));
}

TEST(EcuServicesTest, ActuatorsAreDrivenReportedAndHandedBack) {
  VirtualEcu ecu;
  uint64_t t = 0;
  ecu.LiveDataBlock(t);
  t = 200 * kSecond;  // warm and idling between blips
  ecu.LiveDataBlock(t);

  // Idle air valve: set value in byte 3 of the report.
  EXPECT_THAT(Ask(ecu, {0x30, 0x41, 0x07, 0x50}, t),
              ElementsAre(0x70, 0x41, 0x07, 0x50, 1, 0x50, ::testing::_));
  EXPECT_THAT(Ask(ecu, {0x30, 0x41, 0x01}, t + kSecond),
              ElementsAre(0x70, 0x41, 0x01, 0x50, 1, 0x50, ::testing::_));
  EXPECT_NEAR(ecu.Engine().At(t + 5 * kSecond).iacPos, 0x50, 2);
  // Idle speed set point: byte 6 is the set point / 10.
  Bytes a = Ask(ecu, {0x30, 0x42, 0x07, 0x55}, t + 5 * kSecond);
  ASSERT_EQ(a.size(), 7u);
  EXPECT_EQ(a[6], 0x55);
  EXPECT_DOUBLE_EQ(ecu.Engine().At(t + 6 * kSecond).idleSetRpm, 850);
  // Handing back: the ECU's own values return.
  Ask(ecu, {0x30, 0x41, 0x00}, t + 6 * kSecond);
  Ask(ecu, {0x30, 0x42, 0x00}, t + 6 * kSecond);
  EXPECT_EQ(ecu.Engine().Overrides().iacSetPos, -1);
  EXPECT_EQ(ecu.Engine().Overrides().idleSetRpm, -1);

  // Fuel pump off: the engine stalls; handed back, it starts again.
  t += 10 * kSecond;
  EXPECT_THAT(Ask(ecu, {0x30, 0x09, 0x06, 0x00}, t),
              ElementsAre(0x70, 0x09, 0x06, 0, 1, ::testing::_, ::testing::_));
  EXPECT_FALSE(ecu.Engine().At(t + 3 * kSecond).running);
  EXPECT_EQ(ecu.LiveDataBlock(t + 3 * kSecond)[4] & 0x01, 0x01);  // engine stop flag
  EXPECT_THAT(Ask(ecu, {0x30, 0x09, 0x00}, t + 3 * kSecond),
              ElementsAre(0x70, 0x09, 0x00, ::testing::_, 0, ::testing::_, ::testing::_));
  EXPECT_TRUE(ecu.Engine().At(t + 5 * kSecond).running);
  // Fan switched on by hand, reported on.
  EXPECT_THAT(Ask(ecu, {0x30, 0x0A, 0x06, 0x01}, t + 5 * kSecond),
              ElementsAre(0x70, 0x0A, 0x06, 1, 1, ::testing::_, ::testing::_));

  // Wrong formats and ranges.
  EXPECT_THAT(Ask(ecu, {0x30, 0x01, 0x06, 0x02}, t), ElementsAre(0x7F, 0x30, 0x31));
  EXPECT_THAT(Ask(ecu, {0x30, 0x41, 0x06, 0x01}, t), ElementsAre(0x7F, 0x30, 0x12));
  EXPECT_THAT(Ask(ecu, {0x30, 0x09, 0x07, 0x01}, t), ElementsAre(0x7F, 0x30, 0x12));
  EXPECT_THAT(Ask(ecu, {0x30, 0x41}, t), ElementsAre(0x7F, 0x30, 0x12));
  EXPECT_THAT(Ask(ecu, {0x30, 0x41, 0x05}, t), ElementsAre(0x7F, 0x30, 0x12));
  EXPECT_THAT(Ask(ecu, {0x30, 0x0E, 0x01}, t), ElementsAre(0x7F, 0x30, 0x31));
  EXPECT_THAT(Ask(ecu, {0x30, 0x41, 0x01, 0x00}, t), ElementsAre(0x7F, 0x30, 0x12));
}

TEST(EcuServicesTest, AdcImmobilizerAndTesterPresentForms) {
  VirtualEcu ecu;
  ecu.LiveDataBlock(0);
  const Bytes adc = Ask(ecu, {0x21, 0x03}, 100 * kSecond);
  ASSERT_EQ(adc.size(), 8u);
  EXPECT_THAT(Bytes(adc.begin(), adc.begin() + 2), ElementsAre(0x61, 0x03));
  EXPECT_NEAR(adc[5] * 0.093, 14.0, 0.6);  // battery while running
  EXPECT_THAT(Ask(ecu, {0x21, 0xA0}, 0), ElementsAre(0x61, 0xA0, 0x00, 0xA0));
  EXPECT_THAT(Ask(ecu, {0x3E}, 0), ElementsAre(0x7E));
  EXPECT_THAT(Ask(ecu, {0x3E, 0x01}, 0), ElementsAre(0x7E));
  EXPECT_FALSE(ecu.Answer(Bytes{0x3E, 0x02}, 0).has_value());  // no answer wanted
  EXPECT_THAT(Ask(ecu, {0x3E, 0x05}, 0), ElementsAre(0x7F, 0x3E, 0x12));
  EXPECT_THAT(Ask(ecu, {0x11, 0x02}, 0), ElementsAre(0x7F, 0x11, 0x12));
  EXPECT_THAT(Ask(ecu, {0x81, 0x00}, 0), ElementsAre(0x7F, 0x81, 0x12));
  EXPECT_FALSE(ecu.Answer(Bytes{}, 0).has_value());
}

}  // namespace
}  // namespace kvd
