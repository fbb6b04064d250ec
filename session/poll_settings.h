// SPDX-License-Identifier: GPL-3.0-or-later
// Poll timing from the program's ini file "kvddiag.ini" (read only, never written).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kvd {

// Poll timing from the ini file. A missing file or key gives the default.
struct PollSettings {
  int32_t IntervalMs = 250;  // [COM_RFRSH_INTERVALS] J5E2_RFRSH; 0 = the timer never ticks
  bool Threaded = false;     // [COMMON] ComThreaded
};

// Largest poll interval accepted from the ini file: one minute. Anything above is a typing
// error that would freeze the display, and gives the default instead.
inline constexpr int32_t kMaxPollIntervalMs = 60000;

// Name of the ini file; it lies next to the program.
inline constexpr const char* kIniFileName = "kvddiag.ini";

// The integer value of key in section of an ini text: section and key names without regard
// to case (as on Windows), the first matching key of the first section of that name, a whole
// number with an optional sign and blanks around it. Nothing when the key is missing or its
// value is anything else ("abc", "1e3", "250 ms"), so that the caller keeps its default.
std::optional<int64_t> IniInteger(std::string_view text, std::string_view section,
                                  std::string_view key);

// Poll timing from an ini text. Values that are not numbers, negative intervals and intervals
// above kMaxPollIntervalMs give the default.
PollSettings ParsePollSettings(std::string_view iniText);

// Poll timing from the ini file at path; a missing or unreadable file gives the defaults.
PollSettings ReadPollSettingsFile(const std::filesystem::path& path);

}  // namespace kvd
