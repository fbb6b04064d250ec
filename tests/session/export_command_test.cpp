// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli export --encoding: the UTF-8 text is the Windows-1251 text converted, nothing else.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/cp1251.h"
#include "data/data_file.h"
#include "data/history.h"
#include "link/clock.h"
#include "session/cli_run.h"

namespace kvd {
namespace {

using testing::RunCli;

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ExportCommand, EncodingOptionGivesTheSameTextInUtf8) {
  const auto dir = std::filesystem::temp_directory_path() / "kvd_export_command_test";
  std::filesystem::create_directories(dir);
  VirtualClock clock;
  HistoryStore store(clock);
  for (int i = 0; i < 50; ++i) {
    std::vector<uint8_t> block(36, 0);
    block[0] = 0x61;
    block[1] = 0x01;
    for (size_t b = 2; b < block.size(); ++b) block[b] = static_cast<uint8_t>(i * 7 + b * 13);
    clock.AdvanceMs(250);
    store.Append(block.data());
  }
  const auto kdd = dir / "rec.kdd";
  WriteDataFile(kdd, store, store.AllRecords());

  struct Case {
    std::vector<std::string> extra;
    bool utf8;
  };
  const std::vector<Case> cases = {
      {{}, false},
      {{"--encoding", "windows-1251"}, false},
      {{"--encoding", "UTF-8"}, true},
      {{"--encoding", "utf8"}, true},
  };
  std::string cp1251;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", kdd.string(), (dir / "out.txt").string()};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const auto run = RunCli(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string text = ReadAll(dir / "out.txt");
    if (cp1251.empty()) cp1251 = text;
    EXPECT_EQ(text, c.utf8 ? Cp1251ToUtf8(cp1251) : cp1251);
  }
  EXPECT_NE(cp1251.find("UFR\xD5\xD5"), std::string::npos);
  EXPECT_EQ(std::count(cp1251.begin(), cp1251.end(), '\n'), 51);

  // A character set it does not know is a usage error, and nothing is written.
  std::filesystem::remove(dir / "bad.txt");
  const auto bad =
      RunCli({"export", kdd.string(), (dir / "bad.txt").string(), "--encoding", "koi8-r"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.txt"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kvd
#endif
