// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/poll_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kvd {
namespace {

TEST(IniReaderTest, FindsKeysLikeTheWindowsProfileFunctions) {
  const char* ini =
      "; poll timing\r\n"
      "[common]\r\n"
      "comthreaded = 1\r\n"
      "[Com_Rfrsh_Intervals]\r\n"
      "J5E2_RFRSH= 100 \r\n"
      "J5E2_RFRSH=300\r\n"
      "[COM_RFRSH_INTERVALS]\r\n"
      "J5E2_RFRSH=400\r\n";
  // Names without regard to case; the first key of the first section of that name counts.
  EXPECT_EQ(IniInteger(ini, "COM_RFRSH_INTERVALS", "J5E2_RFRSH"), 100);
  EXPECT_EQ(IniInteger(ini, "COMMON", "ComThreaded"), 1);
  EXPECT_EQ(IniInteger(ini, "COMMON", "J5E2_RFRSH"), std::nullopt);
  EXPECT_EQ(IniInteger(ini, "OTHER", "ComThreaded"), std::nullopt);
  const PollSettings s = ParsePollSettings(ini);
  EXPECT_EQ(s.IntervalMs, 100);
  EXPECT_TRUE(s.Threaded);
}

TEST(IniReaderTest, OddValuesAndFilesKeepTheDefaults) {
  for (const char* value : {"", "abc", "1e3", "250 ms", "-5", "60001", "99999999999999999999"}) {
    const std::string ini = std::string("[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=") + value + "\n";
    EXPECT_EQ(ParsePollSettings(ini).IntervalMs, 250) << value;
  }
  EXPECT_EQ(ParsePollSettings("[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=0").IntervalMs, 0);

  const auto dir = std::filesystem::temp_directory_path();
  EXPECT_EQ(ReadPollSettingsFile(dir / "kvd-no-such.ini").IntervalMs, 250);
  EXPECT_EQ(ReadPollSettingsFile(dir).IntervalMs, 250);  // a folder
  const auto path = dir / "kvd-poll-settings-test.ini";
  std::ofstream(path) << "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=125\n";
  EXPECT_EQ(ReadPollSettingsFile(path).IntervalMs, 125);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace kvd
