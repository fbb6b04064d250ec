// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/column_extremes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/clock.h"
#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::Record;

// Throttle position: record byte 18 as it stands.
ParameterDescriptor Throttle() {
  return *LookupParameter(1);
}

class ColumnExtremesTest : public ::testing::Test {
 protected:
  // One record per value, 250 ms apart.
  void Load(const std::vector<uint8_t>& values) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < values.size(); ++i) {
      const auto r = Record(static_cast<int32_t>(i * 250), {{18, values[i]}});
      bytes.insert(bytes.end(), r.begin(), r.end());
    }
    store.Load(bytes.data(), static_cast<int32_t>(values.size()));
  }
  VirtualClock clock;
  HistoryStore store{clock};
};

TEST_F(ColumnExtremesTest, SmallRangesKeepEveryRecordLongOnesTheExtremesPerColumn) {
  Load({5, 9, 1, 7, 7, 3, 8, 2, 6, 4});
  struct Case {
    RecordRange range;
    int32_t columns;
    std::vector<ColumnPoint> points;
    double min, max, average;
  };
  const std::vector<Case> cases = {
      // Shorter than the columns: every record, one column each.
      {{2, 3}, 5, {{2, 0, 1}, {3, 1, 7}, {4, 2, 7}}, 1, 7, 5},
      // Ten records in three columns: 0..2, 3..5, 6..9; low and high in the order they came.
      {{0, 10}, 3, {{1, 0, 9}, {2, 0, 1}, {3, 1, 7}, {5, 1, 3}, {6, 2, 8}, {7, 2, 2}}, 1, 9, 5.2},
      // One column: the whole range's low and high; a flat column gives a single point.
      {{3, 2}, 1, {{3, 0, 7}}, 7, 7, 7},
      // Beyond the history: clamped; nothing at all.
      {{8, 100}, 1, {{8, 0, 6}, {9, 0, 4}}, 4, 6, 5},
      {{20, 5}, 3, {}, 0, 0, 0},
      // Zero columns count as one.
      {{0, 3}, 0, {{1, 0, 9}, {2, 0, 1}}, 1, 9, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.range.First << "+" << c.range.Count << "/" << c.columns);
    const ColumnExtremes e = ReduceToColumns(store, c.range, Throttle(), c.columns);
    const std::vector<ColumnPoint>& points = c.points;
    ASSERT_EQ(e.Points.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(e.Points[i].Record, points[i].Record) << i;
      EXPECT_EQ(e.Points[i].Column, points[i].Column) << i;
      EXPECT_DOUBLE_EQ(e.Points[i].Value, points[i].Value) << i;
    }
    EXPECT_DOUBLE_EQ(e.Min, c.min);
    EXPECT_DOUBLE_EQ(e.Max, c.max);
    EXPECT_NEAR(e.Average, c.average, 1e-12);
  }
}

TEST_F(ColumnExtremesTest, NoSpikeIsLostInAFullRecording) {
  // A full store of noise with one-record spikes: every column's low and high must be exactly
  // those of its records, and the spikes must be among the points.
  std::mt19937 rng(7);
  std::vector<uint8_t> values(kHistoryCapacity);
  for (auto& v : values) v = static_cast<uint8_t>(40 + rng() % 20);
  const std::vector<int32_t> spikes = {0, 1234, 400001, kHistoryCapacity - 1};
  for (int32_t s : spikes) values[static_cast<size_t>(s)] = s % 2 ? 255 : 0;
  Load(values);
  for (int32_t columns : {997, 1000, 1920}) {
    SCOPED_TRACE(columns);
    const ColumnExtremes e = ReduceToColumns(store, store.AllRecords(), Throttle(), columns);
    EXPECT_EQ(e.Columns, columns);
    EXPECT_LE(e.Points.size(), static_cast<size_t>(2 * columns));
    EXPECT_EQ(e.Min, 0);
    EXPECT_EQ(e.Max, 255);
    for (int32_t c = 0; c < columns; c += 37) {
      const int64_t from = int64_t{c} * kHistoryCapacity / columns;
      const int64_t to = (int64_t{c} + 1) * kHistoryCapacity / columns;
      const auto [lo, hi] = std::minmax_element(values.begin() + from, values.begin() + to);
      double low = 1e9, high = -1e9;
      for (const ColumnPoint& p : e.Points) {
        if (p.Column != c) continue;
        EXPECT_GE(p.Record, from);
        EXPECT_LT(p.Record, to);
        low = std::min(low, p.Value);
        high = std::max(high, p.Value);
      }
      EXPECT_EQ(low, *lo) << c;
      EXPECT_EQ(high, *hi) << c;
    }
    for (int32_t s : spikes) {
      EXPECT_TRUE(std::any_of(e.Points.begin(), e.Points.end(), [s](const ColumnPoint& p) {
        return p.Record == s;
      })) << s;
    }
    // Points run forward in time.
    EXPECT_TRUE(std::is_sorted(
        e.Points.begin(), e.Points.end(),
        [](const ColumnPoint& a, const ColumnPoint& b) { return a.Record < b.Record; }));
  }
}

TEST_F(ColumnExtremesTest, RecordsBetweenTwoTimes) {
  Load({1, 2, 3, 4, 5, 6, 7, 8});  // times 0, 250, ..., 1750
  struct Case {
    std::optional<int64_t> from, to;
    RecordRange expected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, {0, 8}},
      {250, 750, {1, 3}},
      {251, 749, {2, 1}},
      {std::nullopt, 0, {0, 1}},
      {1750, std::nullopt, {7, 1}},
      {1751, std::nullopt, {8, 0}},
      {800, 300, {4, 0}},
      {300, 310, {2, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecordsBetween(store, c.from, c.to), c.expected)
        << c.from.value_or(-1) << ".." << c.to.value_or(-1);
  }
  store.Reset();
  EXPECT_EQ(RecordsBetween(store, std::nullopt, std::nullopt).Count, 0);
}

TEST(ParseTimeText, CommandLineTimes) {
  struct Case {
    const char* text;
    std::optional<int64_t> ms;
  };
  const std::vector<Case> cases = {
      {"0", 0},
      {"90", 90000},
      {"90.5", 90500},
      {"1.25", 1250},
      {"0.007", 7},
      {"1:30", 90000},
      {"1:02:03.45", 3723450},
      {"0:00:00.00", 0},
      {"25:00:00", 90000000},
      {"576:00:00", 2073600000},
      {"576:00:00.001", std::nullopt},  // beyond 24 days
      {"1:60", std::nullopt},
      {"1:2:3:4", std::nullopt},
      {"-5", std::nullopt},
      {"", std::nullopt},
      {"1.", std::nullopt},
      {".5", std::nullopt},
      {"1.2345", std::nullopt},
      {"1:xx", std::nullopt},
      {"1::2", std::nullopt},
      {"1.5:00", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"12 ", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTimeText(c.text), c.ms) << c.text;
}

}  // namespace
}  // namespace kvd
