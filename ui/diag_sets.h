// SPDX-License-Identifier: GPL-3.0-or-later
// The ten named data sets of the diagnostic window: which parameter each of the seven panes shows
// and whether the pane starts expanded. Kept in the user store under Janvar5_E2.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "data/parameters.h"

namespace kvd {

class UserSettings;

inline constexpr int kPaneCount = 7;
inline constexpr int kDataSetCount = 10;
inline constexpr int kDataSetNameMax = 50;

struct DataSet {
  QString Name;
  std::array<int32_t, kPaneCount> SlotParameter{};  // ParameterNumber 1..34 of pane 1..7
  std::array<int32_t, kPaneCount> SlotOptions{};    // bit 0: the pane is expanded
  bool operator==(const DataSet&) const = default;
};

using SetTable = std::array<DataSet, kDataSetCount>;

// The sets a new user starts with.
SetTable DefaultSetTable();

// Key of the sets in the user store.
inline constexpr const char* kDataSetKey = "Janvar5_E2";

// The parameter of pane slot (0..6) of a set, with the set's options word for the pane; where
// the stored number names no parameter, fallback's parameter of that slot.
ParameterDescriptor SlotDescriptor(const DataSet& set, int slot, const DataSet& fallback);

// Reads the ten sets; every missing value takes the default. A name is cut to 50 characters; a
// stored parameter number outside 1..34 takes the default of its slot (it would otherwise
// address a parameter that does not exist).
SetTable LoadSetTable(const UserSettings& settings);
// Writes all ten names, seventy parameter numbers and seventy option words.
void StoreSetTable(UserSettings& settings, const SetTable& sets);

}  // namespace kvd
