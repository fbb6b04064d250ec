// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli measure end to end on a data file the test writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/data_file.h"
#include "data/history.h"
#include "data/utf8_path.h"
#include "session/cli_run.h"

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;

// Ten records 1 s apart; flow raw 360 (36 kg/h) throughout, temperature raw 100 + i (60 + i C),
// advance raw 10 - 2i; optional mark bits.
std::vector<uint8_t> Records(int startMark, int endMark) {
  std::vector<uint8_t> bytes(10 * kRecordSize, 0);
  for (int i = 0; i < 10; ++i) {
    uint8_t* r = bytes.data() + i * kRecordSize;
    StoreLE32(r, static_cast<uint32_t>(5000 + i * 1000));
    uint32_t mark = 0;
    if (i == startMark) mark |= kMarkStartBit;
    if (i == endMark) mark |= kMarkEndBit;
    StoreLE32(r + 4, mark);
    r[16] = static_cast<uint8_t>(100 + i);
    r[24] = static_cast<uint8_t>(static_cast<int8_t>(10 - 2 * i));
    r[32] = 360 & 0xFF;
    r[33] = 360 >> 8;
  }
  return bytes;
}

std::string Joined(const CliRun& run) {
  std::string s;
  for (const std::string& l : run.lines) s += l + "\n";
  return s;
}

TEST(MeasureCommandTest, MeasuresTheSavedMarksOrTheGivenRecords) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("kvd-measure-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string marked = PathText(dir / "marked.kdd");
  const std::string plain = PathText(dir / "plain.kdd");
  {
    const auto m = Records(7, 2);  // end mark before the start mark
    WriteDataFile(PathFromUtf8(marked), m.data(), 10);
    const auto p = Records(-1, 4);  // only an end mark
    WriteDataFile(PathFromUtf8(plain), p.data(), 10);
  }

  // The saved marks: records 2..7, 5 s of 10 g/s = 0.05 kg; extremes over records 2..6.
  CliRun run = RunCli({"measure", marked});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Joined(run),
            "Измерение в интервале 0:00:07.00 - 0:00:12.00 :\n\n\n"
            "  - время между метками - 0:00:05.00\n\n"
            "  - интегральный расход воздуха 0.0500 кг\n\n"
            "  - минимальная температура двигателя 62 град.С\n\n"
            "  - максимальная температура двигателя 66 град. С\n\n"
            "  - минимальный УОЗ -1.0 град.п.к.в.\n\n"
            "  - максимальный УОЗ 3.0 град.п.к.в.\n");

  // Given records win over the marks; one record measures it and the next one.
  run = RunCli({"measure", marked, "--from", "3", "--to", "3", "--separator", ","});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(Joined(run).find("время между метками - 0:00:01.00"), std::string::npos);
  EXPECT_NE(Joined(run).find("расход воздуха 0,0100 кг"), std::string::npos) << Joined(run);

  struct Failure {
    std::vector<std::string> args;
    int exitCode;
    const char* message;  // part of standard error
  };
  const Failure failures[] = {
      {{"measure", plain}, 1, "no start and end marks"},
      {{"measure", plain, "--from", "9", "--to", "9"}, 1, "последней записи"},
      {{"measure", plain, "--from", "0", "--to", "10"}, 1, "record 10 is not in"},
      {{"measure", plain, "--from", "-1", "--to", "3"}, 1, "record -1 is not in"},
      {{"measure", plain, "--from", "2"}, 2, "--to"},
      {{"measure", PathText(dir / "missing.kdd")}, 1, "Ошибка при открытии файла"},
  };
  for (const Failure& f : failures) {
    run = RunCli(f.args);
    EXPECT_EQ(run.exitCode, f.exitCode) << f.args.back() << ": " << run.err;
    EXPECT_NE(run.err.find(f.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.lines.empty());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kvd
