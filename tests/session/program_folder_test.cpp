// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own folder, where "kvddiag.ini" is looked for.
#include "session/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kvd {
namespace {

TEST(ProgramFolderTest, IsTheFolderOfTheRunningTestProgram) {
#ifdef _WIN32
  const std::string self = "kvd_session_tests.exe";
#else
  const std::string self = "kvd_session_tests";
#endif
  const std::filesystem::path folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.is_absolute()) << folder;
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / self, ec)) << folder;
  EXPECT_TRUE(
      std::filesystem::equivalent(folder, std::filesystem::path(KVD_BINARY_DIR) / "tests", ec))
      << folder;
}

}  // namespace
}  // namespace kvd
