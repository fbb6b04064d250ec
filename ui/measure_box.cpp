// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/measure_box.h"

#include "data/history.h"
#include "data/measurements.h"
#include "data/text_export.h"

namespace kvd {

std::optional<QString> MeasurementMessage(const HistoryStore& history, char separator,
                                          const std::string& timePattern) {
  Measurement m;
  const MeasureStatus status = Measure(history, m);
  if (status == MeasureStatus::kNoSelection) return std::nullopt;
  if (status != MeasureStatus::kOk) return QString::fromStdString(MeasureStatusText(status));
  return QString::fromStdString(MeasurementText(m, ElapsedFormatter(timePattern), separator));
}

}  // namespace kvd
