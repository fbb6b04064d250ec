// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iomanip>
#include <limits>
#include <random>
#include <string>

#include "data/parameters.h"

namespace kvd {
namespace {

TEST(FormatFixed, RoundsToPrecisionOrDecimalsWhicheverIsCoarserTiesAway) {
  EXPECT_EQ(FormatFixed(0.125, 6, 2, '.'), "0.13");
  EXPECT_EQ(FormatFixed(0.3125, 6, 3, '.'), "0.313");
  EXPECT_EQ(FormatFixed(10922.333, 6, 2, '.'), "10922.30");
  EXPECT_EQ(FormatFixed(0.625, 2, 3, '.'), "0.630");
  EXPECT_EQ(FormatFixed(-0.125, 6, 2, '.'), "-0.13");
  EXPECT_EQ(FormatFixed(2.5, 6, 0, '.'), "3");
  EXPECT_EQ(FormatFixed(-2.5, 6, 0, '.'), "-3");
  EXPECT_EQ(FormatFixed(0.145, 6, 2, '.'), "0.15");  // decimal tie, not its binary neighbour
  EXPECT_EQ(FormatFixed(7.35, 6, 2, '.'), "7.35");
  EXPECT_EQ(FormatFixed(21.9921875, 6, 2, '.'), "21.99");
  EXPECT_EQ(FormatFixed(1.0 / 3.0, 5, 3, '.'), "0.333");
  EXPECT_EQ(FormatFixed(123.456789, 5, 3, '.'), "123.460");
}

TEST(FormatFixed, CarriesPadsAndDropsTheSignOfZero) {
  EXPECT_EQ(FormatFixed(9.995, 6, 2, '.'), "10.00");
  EXPECT_EQ(FormatFixed(99.96, 6, 1, '.'), "100.0");
  EXPECT_EQ(FormatFixed(0.0, 6, 3, '.'), "0.000");
  EXPECT_EQ(FormatFixed(-0.0, 6, 1, '.'), "0.0");
  EXPECT_EQ(FormatFixed(-0.004, 6, 2, '.'), "0.00");
  EXPECT_EQ(FormatFixed(0.005, 6, 2, '.'), "0.01");
  EXPECT_EQ(FormatFixed(0.0049, 6, 2, '.'), "0.00");
  EXPECT_EQ(FormatFixed(0.4, 6, 0, '.'), "0");
  EXPECT_EQ(FormatFixed(0.5, 6, 0, '.'), "1");
  EXPECT_EQ(FormatFixed(-40, 6, 0, '.'), "-40");
  EXPECT_EQ(FormatFixed(10200, 5, 0, '.'), "10200");
  EXPECT_EQ(FormatFixed(1e-300, 6, 3, '.'), "0.000");
}

TEST(FormatFixed, SeparatorIsAParameter) {
  EXPECT_EQ(FormatFixed(0.125, 6, 2, ','), "0,13");
  EXPECT_EQ(FormatFixed(-20.5, 6, 1, ','), "-20,5");
  EXPECT_EQ(FormatFixed(42, 6, 0, ','), "42");
}

TEST(FormatFixed, LongIntegerPartsAndOddInputsFallBackSafely) {
  EXPECT_EQ(FormatFixed(1234567, 6, 2, '.'), "1.23457E+06");
  EXPECT_EQ(FormatFixed(-1234567, 6, 0, ','), "-1,23457E+06");
  EXPECT_EQ(FormatFixed(999999.7, 6, 2, '.'), "1E+06");  // the carry adds a seventh digit
  EXPECT_EQ(FormatFixed(999999.4, 6, 0, '.'), "999999");
  EXPECT_EQ(FormatFixed(1e300, 6, 2, '.'), "1E+300");
  EXPECT_EQ(FormatFixed(std::nan(""), 6, 2, '.'), "NAN");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 6, 2, '.'), "INF");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 6, 2, '.'), "-INF");
  // Out-of-range precision and decimals are clamped, and the text fits the buffer.
  EXPECT_EQ(FormatFixed(1.5, 0, -3, '.'), "2");
  const std::string wide = FormatFixed(-1.2345678901234567e16, 100, 100, '.');
  EXPECT_LE(wide.size(), kFormatFixedMaxChars);
  EXPECT_EQ(wide.substr(0, 19), "-12345678901234568.");
  EXPECT_EQ(FormatFixed(std::numeric_limits<double>::max(), 17, 18, '.'),
            "1.7976931348623157E+308");
}

TEST(FormatFixed, SmallValuesAgreeWithTheFullDigitRoute) {
  // Below 10^(6 - decimals) the rounding place is the last decimal for any precision from
  // 6 on; precision 6 takes the quick route, precision 9 the one through all digits.
  std::mt19937 rng(3);
  for (int i = 0; i < 200000; ++i) {
    const int decimals = static_cast<int>(rng() % 4);
    double v;
    switch (i % 3) {
      case 0:  // what the decoder makes of bytes and words
        v = (static_cast<double>(rng() % 65536) - (i % 2 ? 128 : 0)) *
            std::array<double, 5>{1, 14.7, 1.25, 5, 40}[rng() % 5] /
            std::array<double, 6>{1, 2, 6, 50, 125, 256}[rng() % 6];
        break;
      case 1:  // ties at the last decimal
        v = (static_cast<double>(rng() % 200000) + 0.5) / std::pow(10.0, decimals);
        break;
      default:
        v = std::ldexp(static_cast<double>(rng()), -static_cast<int>(rng() % 40));
    }
    if (rng() % 2) v = -v;
    if (std::fabs(v) >= std::pow(10.0, 6 - decimals)) continue;
    ASSERT_EQ(FormatFixed(v, 6, decimals, '.'), FormatFixed(v, 9, decimals, '.'))
        << std::setprecision(17) << v << " decimals " << decimals;
  }
}

}  // namespace
}  // namespace kvd
