// A long stretch of a recording reduced to what a picture of it can show: for each pixel column
// the smallest and the largest value of the records that fall into it.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "data/history.h"
#include "data/parameters.h"

namespace kvd {

// One point of the reduced trace: the record behind it, its value and the column it falls in.
struct ColumnPoint {
  int32_t Record = 0;
  int32_t Column = 0;
  double Value = 0.0;
};

struct ColumnExtremes {
  // In time order. A range of no more records than columns keeps every record, column = its
  // place in the range; a longer one keeps two points per column (the smallest and the largest
  // value, in the order they came; one when both are the same record).
  std::vector<ColumnPoint> Points;
  int32_t Columns = 0;  // columns used (the range's length when it is shorter)
  // Over every record of the range, not only the kept ones.
  double Min = 0.0;
  double Max = 0.0;
  double Average = 0.0;
  int32_t Records = 0;
};

// Reduces the records of range (clamped to the history) of parameter d to at most `columns`
// columns (at least 1). Record r of the range falls into column r * columns / length.
ColumnExtremes ReduceToColumns(const HistoryStore& store, RecordRange range,
                               const ParameterDescriptor& d, int32_t columns);

// The records whose time (ElapsedMs) lies between fromMs and toMs, both included; a missing end
// is the recording's. Records are taken in order from the first one at or after fromMs to the
// last one at or before toMs. An empty range (Count 0) when none lies there or from > to.
RecordRange RecordsBetween(const HistoryStore& store, std::optional<int64_t> fromMs,
                           std::optional<int64_t> toMs);

// A time on the command line, in ms: "H:MM:SS[.hh]", "M:SS[.hh]" or seconds "S[.fff]"
// (non-negative, at most 24 days). Nothing for anything else.
std::optional<int64_t> ParseTimeText(std::string_view text);

}  // namespace kvd
