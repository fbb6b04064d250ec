// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli live end to end: the session code on the virtual ECU in real time, as the user
// runs it. Few and short: each run takes the real connect time of about 2.4 s.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "data/data_file.h"
#include "data/history.h"
#include "data/text_export.h"
#include "data/utf8_path.h"
#include "link/clock.h"
#include "session/cli_run.h"

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;

// Checks the record lines and the closing line; returns the number of records.
int CheckOutput(const CliRun& run) {
  EXPECT_GE(run.lines.size(), 2u);
  if (run.lines.size() < 2) return -1;
  EXPECT_EQ(run.lines.front().rfind("time\t", 0), 0u) << run.lines.front();
  int records = 0;
  const std::regex record(R"(^\d+:\d\d:\d\d\.\d\d(\t[^\t]+){7}$)");
  for (size_t i = 1; i + 1 < run.lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(run.lines[i], record)) << run.lines[i];
    ++records;
  }
  std::smatch m;
  const std::regex summary(R"(^(\d+) records in ([0-9.]+) s \(([0-9.]+) records/s\)$)");
  EXPECT_TRUE(std::regex_match(run.lines.back(), m, summary)) << run.lines.back();
  if (m.size() == 4) {
    EXPECT_EQ(std::stoi(m[1]), records);
  }
  return records;
}

TEST(LiveCommand, PollsTheVirtualEcuAndSavesTheRecording) {
  const auto file = std::filesystem::temp_directory_path() / "kvd_live_command_test.kdd";
  std::filesystem::remove(file);
  const CliRun run =
      RunCli({"live", "--demo", "--seconds", "2", "--interval", "100", "--save", PathText(file)});
  EXPECT_EQ(run.exitCode, 0);
  const int records = CheckOutput(run);
  // 2 s at 100 ms: about 20 ticks, each reading one record.
  EXPECT_GE(records, 15);
  EXPECT_LE(records, 21);

  RealClock clock;
  HistoryStore store(clock);
  const DataFileInfo info = ReadDataFile(file, store);
  EXPECT_EQ(info.Records, records);
  ASSERT_GT(store.RecordCount(), 1);
  // The records are 100 ms apart on the ECU's own time.
  const int32_t gap = store.RecordAt(1)->ElapsedMs() - store.RecordAt(0)->ElapsedMs();
  EXPECT_GE(gap, 90);
  EXPECT_LE(gap, 200);
  std::filesystem::remove(file);
}

// Ctrl+C is SIGINT to one process here; Windows has no way to send it to just one other
// program, so this stays a POSIX test.
#ifndef _WIN32
TEST(LiveCommand, InterruptClosesTheSessionAndStillReports) {
  const CliRun run = RunCli({"live", "--demo", "--seconds", "60", "--interval", "50"}, 4);
  EXPECT_EQ(run.exitCode, 0);
  const int records = CheckOutput(run);
  EXPECT_GE(records, 2);
  EXPECT_LE(records, 10);  // ended at once, not after a minute
}
#endif

// The poll interval comes from "kvddiag.ini" in the program's own folder, wherever the
// program was started from and whatever letters that folder's name has.
TEST(LiveCommand, TakesTheIntervalFromTheIniBesideTheProgram) {
  const auto dir = std::filesystem::temp_directory_path() / PathFromUtf8("kvd_программа_ini");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto copy = dir / PathFromUtf8(std::string("kvd-cli") + testing::kExeSuffix);
  std::filesystem::copy_file(PathFromUtf8(testing::kCliPath), copy);
  std::ofstream(dir / "kvddiag.ini") << "[COM_RFRSH_INTERVALS]\nJ5E2_RFRSH=100\n";
  const CliRun run = RunCli({"live", "--demo", "--seconds", "2"}, 0, PathText(copy));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const int records = CheckOutput(run);
  // 2 s at 100 ms: about 20 records; at the default 250 ms it would be 8.
  EXPECT_GE(records, 15);
  EXPECT_LE(records, 21);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// Every command has the same help and the same usage errors: exit 2, nothing on standard
// output, nothing done (no connect: these runs end at once).
TEST(LiveCommand, UsageErrorsEndWithTwoAndHelpWithZero) {
  using Args = std::vector<std::string>;
  for (const Args& args :
       {Args{}, Args{"bogus"}, Args{"live", "--interval", "0"}, Args{"live", "--seconds", "x"},
        Args{"live", "--port"}, Args{"live", "--bogus"}, Args{"live", "--demo", "--port", "1"},
        Args{"info"}, Args{"info", "a.kdd", "b.kdd"}, Args{"export", "a.kdd"},
        Args{"export", "a.kdd", "b.txt", "--separator", "ab"}}) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(run.lines.empty()) << ::testing::PrintToString(args);
    EXPECT_FALSE(run.err.empty()) << ::testing::PrintToString(args);
  }
  for (const Args& args :
       {Args{"--help"}, Args{"live", "--help"}, Args{"info", "--help"}, Args{"export", "--help"}}) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << ::testing::PrintToString(args);
    ASSERT_FALSE(run.lines.empty());
    std::string all;
    for (const auto& l : run.lines) all += l + "\n";
    EXPECT_NE(all.find("Usage: kvd-cli"), std::string::npos) << all;
  }
}

// kvd-cli info and export on a recording of the virtual clock: the export is byte for byte the
// window's text, and a file that is not a data file is refused with the program's message.
TEST(FileCommands, InfoAndExportOfARecordingAndARefusedFile) {
  // Plain and Russian file names: the command line is UTF-8 on every system.
  for (const std::string name : {"kvd_file_commands_test", "kvd_данные_проверки"}) {
    SCOPED_TRACE(name);
    const auto dir = std::filesystem::temp_directory_path();
    const auto kdd = dir / PathFromUtf8(name + ".kdd");
    const auto txt = dir / PathFromUtf8(name + ".txt");
    VirtualClock clock;
    HistoryStore store(clock);
    uint8_t block[36] = {0x61, 0x01};
    for (int i = 0; i < 5; ++i) {
      block[2 + 10] = static_cast<uint8_t>(20 * i);  // some payload that changes
      store.Append(block);
      clock.AdvanceMs(250);
    }
    store.SetStartMark(1);
    WriteDataFile(kdd, store, store.AllRecords());

    CliRun info = RunCli({"info", PathText(kdd)});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    std::string all;
    for (const auto& l : info.lines) all += l + "\n";
    EXPECT_NE(all.find("file:      " + PathText(kdd)), std::string::npos) << all;
    EXPECT_NE(all.find("records:   5"), std::string::npos) << all;
    EXPECT_NE(all.find("0:00:01.00"), std::string::npos) << all;
    EXPECT_NE(all.find("marked:    1"), std::string::npos) << all;

    CliRun exported = RunCli({"export", PathText(kdd), PathText(txt)});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    std::ifstream in(txt, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    in.close();
    EXPECT_EQ(written, BuildTextExport(store, store.AllRecords()));

    // Not a data file: refused with the program's message naming the file, nothing written.
    std::ofstream(kdd, std::ios::binary | std::ios::trunc) << "not a recording";
    std::filesystem::remove(txt);
    const CliRun refused = RunCli({"info", PathText(kdd)});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(FileMessage(kMsgFileIncompatible, kdd)), std::string::npos)
        << refused.err;
    EXPECT_EQ(RunCli({"export", PathText(kdd), PathText(txt)}).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(txt));
    std::filesystem::remove(kdd);
  }
}

}  // namespace
}  // namespace kvd
