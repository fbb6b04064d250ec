// SPDX-License-Identifier: GPL-3.0-or-later
// Reduction of a recording to pixel columns, and the time ranges of the command line.
#include "data/column_extremes.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kvd {

ColumnExtremes ReduceToColumns(const HistoryStore& store, RecordRange range,
                               const ParameterDescriptor& d, int32_t columns) {
  ColumnExtremes out;
  const RecordRange r = ClampRange(range, store.RecordCount());
  if (r.Count <= 0) return out;
  columns = std::max(columns, 1);
  const uint8_t* base = store.RecordBytes() + static_cast<size_t>(r.First) * kRecordSize;
  const auto valueAt = [&](int32_t k) {
    return DecodeValue(d, base + static_cast<size_t>(k) * kRecordSize);
  };

  out.Records = r.Count;
  double sum = 0.0;
  if (r.Count <= columns) {
    out.Columns = r.Count;
    out.Points.reserve(static_cast<size_t>(r.Count));
    out.Min = out.Max = valueAt(0);
    for (int32_t k = 0; k < r.Count; ++k) {
      const double v = valueAt(k);
      out.Min = std::min(out.Min, v);
      out.Max = std::max(out.Max, v);
      sum += v;
      out.Points.push_back({r.First + k, k, v});
    }
    out.Average = sum / r.Count;
    return out;
  }

  out.Columns = columns;
  out.Points.reserve(static_cast<size_t>(columns) * 2);
  out.Min = out.Max = valueAt(0);
  int32_t k = 0;
  for (int32_t c = 0; c < columns; ++c) {
    // Records k .. end-1 fall into column c; in 64 bits, as length x columns exceeds int32.
    const int32_t end = static_cast<int32_t>((int64_t{c} + 1) * r.Count / columns);
    if (k >= end) continue;
    int32_t lowAt = k;
    int32_t highAt = k;
    double low = valueAt(k);
    double high = low;
    sum += low;
    for (int32_t j = k + 1; j < end; ++j) {
      const double v = valueAt(j);
      sum += v;
      // A value that is not a number (a hostile scaling) is neither kept nor lets others go.
      if (v < low) {
        low = v;
        lowAt = j;
      } else if (v > high) {
        high = v;
        highAt = j;
      }
    }
    out.Min = std::min(out.Min, low);
    out.Max = std::max(out.Max, high);
    if (lowAt == highAt) {
      out.Points.push_back({r.First + lowAt, c, low});
    } else if (lowAt < highAt) {
      out.Points.push_back({r.First + lowAt, c, low});
      out.Points.push_back({r.First + highAt, c, high});
    } else {
      out.Points.push_back({r.First + highAt, c, high});
      out.Points.push_back({r.First + lowAt, c, low});
    }
    k = end;
  }
  out.Average = sum / r.Count;
  return out;
}

RecordRange RecordsBetween(const HistoryStore& store, std::optional<int64_t> fromMs,
                           std::optional<int64_t> toMs) {
  const int32_t n = store.RecordCount();
  const uint8_t* base = store.RecordBytes();
  const auto timeAt = [&](int32_t i) {
    return int64_t{static_cast<int32_t>(LoadLE32(base + static_cast<size_t>(i) * kRecordSize))};
  };
  int32_t first = 0;
  if (fromMs) {
    while (first < n && timeAt(first) < *fromMs) ++first;
  }
  int32_t last = n - 1;
  if (toMs) {
    while (last >= first && timeAt(last) > *toMs) --last;
  }
  if (last < first) return RecordRange{first, 0};
  return RecordRange{first, last - first + 1};
}

std::optional<int64_t> ParseTimeText(std::string_view text) {
  constexpr int64_t kLimitMs = int64_t{24} * 24 * 3600 * 1000;
  if (text.empty() || text.size() > 32) return std::nullopt;
  // Up to three whole fields separated by ':'; the last one may carry a fraction.
  int64_t fields[3] = {0, 0, 0};
  int count = 0;
  size_t pos = 0;
  int64_t fractionMs = 0;
  for (;;) {
    if (count == 3) return std::nullopt;
    const size_t colon = text.find(':', pos);
    const std::string_view field =
        text.substr(pos, colon == std::string_view::npos ? std::string_view::npos : colon - pos);
    std::string_view whole = field;
    if (colon == std::string_view::npos) {
      const size_t dot = field.find('.');
      if (dot != std::string_view::npos) {
        whole = field.substr(0, dot);
        const std::string_view frac = field.substr(dot + 1);
        if (frac.empty() || frac.size() > 3) return std::nullopt;
        for (size_t i = 0; i < 3; ++i) {
          const char ch = i < frac.size() ? frac[i] : '0';
          if (ch < '0' || ch > '9') return std::nullopt;
          fractionMs = fractionMs * 10 + (ch - '0');
        }
      }
    }
    if (whole.empty() || whole.size() > 9) return std::nullopt;
    int64_t v = 0;
    const auto [p, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), v);
    if (ec != std::errc() || p != whole.data() + whole.size() || v < 0) return std::nullopt;
    fields[count++] = v;
    if (colon == std::string_view::npos) break;
    pos = colon + 1;
  }
  // Minutes and seconds below 60 once a larger field stands before them.
  for (int i = 1; i < count; ++i)
    if (fields[i] >= 60) return std::nullopt;
  int64_t seconds = 0;
  for (int i = 0; i < count; ++i) seconds = seconds * 60 + fields[i];
  if (seconds > kLimitMs / 1000) return std::nullopt;
  const int64_t ms = seconds * 1000 + fractionMs;
  if (ms > kLimitMs) return std::nullopt;
  return ms;
}

}  // namespace kvd
