// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli id, flags, immo, adc and reset end to end: the real POSIX port against kvd-ecu-sim on
// a pseudo-terminal, in real time. Few runs: each one connects anew (about 2.5 s).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <regex>
#include <string>
#include <vector>

#include "../session/cli_run.h"
#include "../sim/sim_process.h"

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;
using Lines = std::vector<std::string>;

const std::string kVinLabel = "VIN\t";

std::string VinLine(const CliRun& run) {
  for (const std::string& line : run.lines)
    if (line.rfind(kVinLabel, 0) == 0) return line.substr(kVinLabel.size());
  return "<none>";
}

TEST(IdCommand, ReadsWritesOnlyWithAYesAndRefusesBadTextsBeforeSending) {
  SimProcess sim({});
  ASSERT_FALSE(sim.Path().empty());
  const std::string port = sim.Path();

  // Mistakes on the command line: nothing is opened, exit 2.
  for (const char* bad : {"5=J5E2", "12=x", "4=日本", "x=1", "4"}) {
    const CliRun run = RunCli({"id", "--port", port, "--write", bad, "--yes"});
    EXPECT_EQ(run.exitCode, 2) << bad << ": " << run.err;
    EXPECT_TRUE(run.lines.empty()) << bad;
  }

  const CliRun read = RunCli({"id", "--port", port});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  ASSERT_EQ(read.lines.size(), 11u);
  EXPECT_EQ(read.lines[0], "Номер кузова\t0123456");
  EXPECT_EQ(VinLine(read), "KVD5E2S1M00000001");
  EXPECT_EQ(read.lines[10], "Идентификатор программного обеспечения\tKVDSIM 1.0");

  // No terminal to ask and no --yes: the answer is No and nothing is written.
  const CliRun declined = RunCli({"id", "--port", port, "--write", "4=XTA21110012345A"});
  EXPECT_EQ(declined.exitCode, 1);
  // Longer than the 17 characters the VIN was read with: refused after reading.
  const CliRun tooLong = RunCli({"id", "--port", port, "--write", "4=XTA21110012345ABCD", "--yes"});
  EXPECT_EQ(tooLong.exitCode, 2) << tooLong.err;
  EXPECT_EQ(VinLine(tooLong), "KVD5E2S1M00000001");  // still as it was

  const CliRun written =
      RunCli({"id", "--port", port, "--write", "4=XTA21110012345A", "--write", "9=ВАЗ", "--yes"});
  EXPECT_EQ(written.exitCode, 0) << written.err;
  const CliRun after = RunCli({"id", "--port", port});
  EXPECT_EQ(VinLine(after), "XTA21110012345A  ");
  ASSERT_EQ(after.lines.size(), 11u);
  EXPECT_EQ(after.lines[8], "Код запасных частей\tВАЗ       ");  // padded to 10
  EXPECT_EQ(after.lines[0], read.lines[0]);                      // written back as read
}

TEST(StatusCommands, FlagsImmobilizerAndAdcOfTheSimulator) {
  SimProcess sim({"--flags", "0580", "--immo", "30"});
  ASSERT_FALSE(sim.Path().empty());
  const std::string port = sim.Path();

  const CliRun flags = RunCli({"flags", "--port", port});
  EXPECT_EQ(flags.exitCode, 0) << flags.err;
  EXPECT_EQ(flags.lines, (Lines{"* флаг комплектации датчиком кислорода",
                                "* флаг комплектации клапаном рециркуляции", "* резерв"}));

  const CliRun immo = RunCli({"immo", "--port", port});
  EXPECT_EQ(immo.exitCode, 0) << immo.err;
  EXPECT_EQ(immo.lines, (Lines{"Статус иммобилайзера:", "* ошибка связи с иммобилизатором",
                               "* разрешение запуска"}));

  const CliRun adc = RunCli({"adc", "--port", port});
  EXPECT_EQ(adc.exitCode, 0) << adc.err;
  ASSERT_EQ(adc.lines.size(), 6u);
  const char* labels[] = {"ДМРВ", "ДПДЗ", "ДД", "ДК", "ДТОЖ", "АКБ"};
  for (size_t i = 0; i < 6; ++i) {
    const std::regex line(std::string(labels[i]) + (i == 5 ? "\t\\d+\\.\\d\\d" : "\t\\d\\.\\d{3}"));
    EXPECT_TRUE(std::regex_match(adc.lines[i], line)) << adc.lines[i];
  }
}

TEST(ResetCommand, AsksAndResetsOnlyWithAYes) {
  SimProcess sim({});
  ASSERT_FALSE(sim.Path().empty());
  const CliRun declined = RunCli({"reset", "--port", sim.Path()});
  EXPECT_EQ(declined.exitCode, 1);
  EXPECT_NE(declined.err.find("Вы уверены, что хотите произвести сброс ЭБУ?"), std::string::npos);
  EXPECT_EQ(declined.err.find("Произведен сброс ЭБУ"), std::string::npos);

  const CliRun reset = RunCli({"reset", "--port", sim.Path(), "--yes"});
  EXPECT_EQ(reset.exitCode, 0) << reset.err;
  EXPECT_NE(reset.err.find("Произведен сброс ЭБУ"), std::string::npos) << reset.err;

  SimProcess refusing({"--refuse", "11"});
  ASSERT_FALSE(refusing.Path().empty());
  const CliRun refused = RunCli({"reset", "--port", refusing.Path(), "--yes"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Ошибка KWP - ECUReset"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace kvd
#endif  // !_WIN32
