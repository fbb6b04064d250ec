// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli live --save as a crash would meet it: the run killed outright, a full disk, a folder
// that refuses the file. The file is written as the recording goes and must open afterwards
// with every record the run had printed, each one whole.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "data/data_file.h"
#include "data/history.h"
#include "data/text_export.h"
#include "link/clock.h"
#include "session/cli_run.h"

namespace kvd {
namespace {

namespace fs = std::filesystem;

using CliResult = testing::CliRun;

// Starts kvd-cli with args. killAfterLines > 0: SIGKILL once the head line and that many record
// lines have come. fileSizeLimit > 0: the child may write no file larger than that.
CliResult Start(const std::vector<std::string>& args, size_t killAfterLines,
                rlim_t fileSizeLimit = 0) {
  return testing::RunCliPosix(
      args, {killAfterLines > 0 ? killAfterLines + 1 : 0, SIGKILL, fileSizeLimit});
}

class LiveSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("kvd-live-save-" + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "locked", fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  // Opens file with the program's reader and checks that its records are the ones the run
  // printed, in order (the time column of each printed line against the record's time), every
  // printed record present. Returns the record count.
  int32_t CheckFileAgainstOutput(const fs::path& file, const CliResult& run) {
    VirtualClock clock;
    HistoryStore store(clock);
    const DataFileInfo info = ReadDataFile(file, store);
    EXPECT_FALSE(info.PartialRecord);
    const int32_t printed = static_cast<int32_t>(run.lines.size()) - 1;  // less the head line
    EXPECT_GE(info.Records, printed);
    const ElapsedFormatter time;
    for (int32_t i = 0; i < std::min(info.Records, printed); ++i) {
      const std::string& line = run.lines[static_cast<size_t>(i) + 1];
      EXPECT_EQ(line.substr(0, line.find('\t')), time.Format(store.RecordAt(i)->ElapsedMs()))
          << "record " << i;
      if (i > 0) {
        EXPECT_GT(store.RecordAt(i)->ElapsedMs(), store.RecordAt(i - 1)->ElapsedMs());
      }
    }
    return info.Records;
  }

  std::vector<fs::path> Entries() const {
    std::vector<fs::path> all;
    for (const auto& e : fs::directory_iterator(dir_)) all.push_back(e.path());
    return all;
  }

  fs::path dir_;
};

TEST_F(LiveSaveTest, AKilledRunLeavesAValidFileWithEveryPrintedRecord) {
  const fs::path file = dir_ / "run.kdd";
  const CliResult run =
      Start({"live", "--demo", "--seconds", "60", "--interval", "50", "--save", file.string()}, 12);
  ASSERT_TRUE(run.signalled) << run.err;
  EXPECT_GE(CheckFileAgainstOutput(file, run), 12);
  EXPECT_EQ(Entries(), std::vector<fs::path>{file});  // no other file left
}

TEST_F(LiveSaveTest, AnExistingFileIsReplacedOnlyAtTheEnd) {
  const fs::path file = dir_ / "old.kdd";
  { std::ofstream(file, std::ios::binary) << "the user's old file"; }

  // Killed: the old file is untouched; the recording is in a temporary file beside it.
  const CliResult killed =
      Start({"live", "--demo", "--seconds", "60", "--interval", "50", "--save", file.string()}, 6);
  ASSERT_TRUE(killed.signalled) << killed.err;
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's old file");
  const std::vector<fs::path> entries = Entries();
  ASSERT_EQ(entries.size(), 2u);
  const fs::path temp = entries[0] == file ? entries[1] : entries[0];
  EXPECT_EQ(temp.filename().string().rfind("old.kdd.tmp", 0), 0u) << temp;
  EXPECT_GE(CheckFileAgainstOutput(temp, killed), 6);
  fs::remove(temp);

  // A run that ends: the new recording replaces the file, nothing else is left.
  const CliResult done =
      Start({"live", "--demo", "--seconds", "1", "--interval", "100", "--save", file.string()}, 0);
  EXPECT_EQ(done.exitCode, 0) << done.err;
  ASSERT_GE(done.lines.size(), 3u);
  CliResult records = done;
  records.lines.pop_back();  // the closing summary line
  EXPECT_EQ(CheckFileAgainstOutput(file, records), static_cast<int32_t>(records.lines.size()) - 1);
  EXPECT_EQ(Entries(), std::vector<fs::path>{file});
}

TEST_F(LiveSaveTest, AFullDiskKeepsWhatWasWrittenAndTheRecordingGoesOn) {
  const fs::path file = dir_ / "full.kdd";
  const CliResult run =
      Start({"live", "--demo", "--seconds", "2", "--interval", "100", "--save", file.string()}, 0,
            kDataFileHeadSize + 5 * kRecordSize + 10);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(FileMessage("Ошибка при записи в файл %s", file)), std::string::npos)
      << run.err;
  // Every record was still printed; the file holds the five that fitted, whole.
  EXPECT_GE(run.lines.size(), 10u);
  VirtualClock clock;
  HistoryStore store(clock);
  const DataFileInfo info = ReadDataFile(file, store);
  EXPECT_EQ(info.Records, 5);
  EXPECT_FALSE(info.PartialRecord);
}

TEST_F(LiveSaveTest, ANameThatCannotBeWrittenEndsTheRunBeforeConnecting) {
  // A path through a plain file, a name that is a folder, and a read-only folder (root is not
  // stopped by modes).
  std::vector<fs::path> files;
  { std::ofstream(dir_ / "plain") << "x"; }
  files.push_back(dir_ / "plain" / "sub" / "x.kdd");
  fs::create_directories(dir_ / "folder.kdd");
  files.push_back(dir_ / "folder.kdd");
  if (geteuid() != 0) {
    fs::create_directories(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    files.push_back(dir_ / "locked" / "x.kdd");
  }
  for (const fs::path& file : files) {
    const CliResult run = Start({"live", "--demo", "--seconds", "5", "--save", file.string()}, 0);
    EXPECT_EQ(run.exitCode, 1) << file;
    EXPECT_NE(run.err.find(FileMessage(kMsgFileCreateFailed, file)), std::string::npos) << run.err;
    EXPECT_TRUE(run.lines.empty());  // no head line: it never connected
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.kdd"));
  EXPECT_EQ(Entries().size(), geteuid() != 0 ? 3u : 2u);  // no temporary file left
}

}  // namespace
}  // namespace kvd
#endif  // !_WIN32
