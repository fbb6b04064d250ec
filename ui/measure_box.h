// SPDX-License-Identifier: GPL-3.0-or-later
// The text of the "Измерения" message over the marked stretch of the recording.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace kvd {

class HistoryStore;

// The measurement between the two marks, or what prevents it (both marks on the newest record,
// a mark beyond the records); nothing when a mark is missing. Numbers with `separator`, times in
// the long time format `timePattern`.
std::optional<QString> MeasurementMessage(const HistoryStore& history, char separator,
                                          const std::string& timePattern);

}  // namespace kvd
