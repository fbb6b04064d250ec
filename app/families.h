// SPDX-License-Identifier: GPL-3.0-or-later
// The ECU families the launcher knows. Only family 1 has a diagnostic window.
#pragma once

#include <QString>
#include <array>

namespace kvd {

struct EcuFamily {
  const char* longName;   // caption of the menu entry and of the diagnostic window
  const char* shortName;  // two lines, caption of the "Выбор ЭБУ" button
};

inline constexpr int kEcuFamilyCount = 8;
inline constexpr int kDiagnosableFamily = 1;

inline const std::array<EcuFamily, kEcuFamilyCount> kEcuFamilies = {{
    {"Январь-5.1 / VS-5.1 / Bosch M1.5.4  РОССИЯ-83", "Январь-5.1\nРОССИЯ-83"},
    {"Январь-5.1 / VS-5.1 / Bosch M1.5.4  ЕВРО-2", "Январь-5.1\nЕВРО-2"},
    {"Январь-5.1 / VS-5.1 Terva", "Январь-5.1\nTRV"},
    {"Январь-7.2  ЕВРО-2", "Январь-7.2\nЕВРО-2"},
    {"Bosch MP7.0  ЕВРО-2", "Bosch MP7.0\nЕВРО-2"},
    {"Bosch MP7.0  ЕВРО-3", "Bosch MP7.0\nЕВРО-3"},
    {"Bosch M7.9.7  ЕВРО-2", "Bosch M7.9.7\nЕВРО-2"},
    {"МИКАС-7.1, МИКАС-5.4", "МИКАС-7.1\nМИКАС-5.4"},
}};

inline QString FamilyLongName(int index) {
  if (index < 0 || index >= kEcuFamilyCount) return {};
  return QString::fromUtf8(kEcuFamilies[static_cast<size_t>(index)].longName);
}
inline QString FamilyShortName(int index) {
  if (index < 0 || index >= kEcuFamilyCount) return {};
  return QString::fromUtf8(kEcuFamilies[static_cast<size_t>(index)].shortName);
}

}  // namespace kvd
