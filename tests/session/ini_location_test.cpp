// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ini_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "session/poll_settings.h"

namespace kvd {
namespace {

namespace fs = std::filesystem;

class IniLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        fs::temp_directory_path() /
        ("kvd-ini-location-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "usr/bin");
    fs::create_directories(root_ / "etc/kvd-diag");
    fs::create_directories(root_ / "build");
  }
  void TearDown() override { fs::remove_all(root_); }

  static void Write(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }

  fs::path root_;
};

TEST_F(IniLocationTest, NextToTheProgramFirstThenTheSystemFolderOnlyWhenInstalled) {
  enum Where { kNext, kSystem };
  struct Case {
    const char* name;
    const char* programDir;  // below the test folder
    bool iniNextToProgram;
    bool folderNextToProgram;  // a folder of the ini's name instead of a file
    bool iniInSystemFolder;
    bool knowsInstallFolder;
    Where expected;
  };
  const Case cases[] = {
      {"installed, both files: the program's own wins", "usr/bin", true, false, true, true, kNext},
      {"installed, only the system file", "usr/bin", false, false, true, true, kSystem},
      {"installed, no file anywhere", "usr/bin", false, false, false, true, kNext},
      {"build tree never reads the package's defaults", "build", false, false, true, true, kNext},
      {"a folder named like the ini is no ini", "usr/bin", false, true, true, true, kSystem},
      {"a build without install folders", "usr/bin", false, false, true, false, kNext},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path programDir = root_ / c.programDir;
    const fs::path next = programDir / kIniFileName;
    const fs::path system = root_ / "etc/kvd-diag" / kIniFileName;
    fs::remove_all(next);
    fs::remove_all(system);
    if (c.iniNextToProgram) Write(next, "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=100\n");
    if (c.folderNextToProgram) fs::create_directory(next);
    if (c.iniInSystemFolder) Write(system, "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=500\n");

    IniLocations where{programDir, c.knowsInstallFolder ? root_ / "usr/bin" : fs::path(),
                       c.knowsInstallFolder ? root_ / "etc/kvd-diag" : fs::path()};
    const fs::path found = FindIniFile(where);
    EXPECT_EQ(found, c.expected == kNext ? next : system);
    // What the program then reads: the chosen file's interval, or the default.
    const int32_t interval = ReadPollSettingsFile(found.string()).IntervalMs;
    EXPECT_EQ(interval, c.iniNextToProgram ? 100 : c.expected == kSystem ? 500 : 250);
  }
}

TEST_F(IniLocationTest, InstalledFolderIsRecognisedThroughALink) {
  // Debian's /bin is a link to /usr/bin: the program may see either name of its folder.
  std::error_code ec;
  fs::create_directory_symlink(root_ / "usr/bin", root_ / "bin", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  Write(root_ / "etc/kvd-diag" / kIniFileName, "[COMMON]\nComThreaded=1\n");
  const fs::path found = FindIniFile({root_ / "bin", root_ / "usr/bin", root_ / "etc/kvd-diag"});
  EXPECT_EQ(found, root_ / "etc/kvd-diag" / kIniFileName);
  EXPECT_TRUE(ReadPollSettingsFile(found.string()).Threaded);
}

TEST_F(IniLocationTest, ProgramOutsideTheInstallFolderReadsNextToItself) {
  EXPECT_EQ(FindIniFileForProgram(root_ / "build"), root_ / "build" / kIniFileName);
  EXPECT_EQ(SystemIniDirectory().filename(), "kvd-diag");
}

}  // namespace
}  // namespace kvd
