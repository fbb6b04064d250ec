// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli dtc against kvd-ecu-sim on a pseudo-terminal, through the real serial back-end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/cli_run.h"
#ifndef _WIN32
#include "session/response_codes.h"
#include "sim/sim_process.h"
#endif

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;

// These runs need kvd-ecu-sim on a pseudo-terminal: POSIX only.
#ifndef _WIN32
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kHeader = "Ошибка\tТекущая\tСохр.\tОписание";

TEST(DtcCommand, ReadsClearsAndReadsAgain) {
  SimProcess sim({});
  ASSERT_FALSE(sim.Path().empty());
  const CliRun read = RunCli({"dtc", "--port", sim.Path()});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  ASSERT_FALSE(read.lines.empty());
  EXPECT_EQ(read.lines[0], kHeader);
  // The knock sensor fault is current and stored; P0130 only stored; P3999 has no text.
  EXPECT_THAT(read.lines, Contains("P0325\t   ДА\t   ДА\tОбрыв датчика детонации"));
  EXPECT_THAT(read.lines, Contains("P0130\t     \t   ДА\tНеверный сигнал датчика кислорода"));
  EXPECT_THAT(read.lines, Contains("P3999\t     \t   ДА\t"));

  const CliRun cleared = RunCli({"dtc", "--port", sim.Path(), "--clear", "--lang", "en"});
  ASSERT_EQ(cleared.exitCode, 0) << cleared.err;
  EXPECT_THAT(cleared.lines, ElementsAre(kHeader));  // nothing stored right after the clearing
}

TEST(DtcCommand, RefusedClearAndOddAnswers) {
  {
    SimProcess sim({"--refuse", "14"});
    const CliRun run = RunCli({"dtc", "--port", sim.Path(), "--clear"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_THAT(run.err, HasSubstr(ResponseCodeText(0x22)));
  }
  {
    // A code 0000 ends the list; the count byte claims far more codes than follow.
    SimProcess sim({"--dtcs", "130,0,325", "--dtc-count", "255"});
    const CliRun run = RunCli({"dtc", "--port", sim.Path(), "--lang", "de"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.lines, ElementsAre(kHeader,
                                       "P0130\t     \t   ДА\tLambda Sonde Schaltkreis Fehlfunktion "
                                       "(Bank 1 Sensor 1)"));
  }
}

#endif  // !_WIN32

TEST(DtcCommand, UsageErrorsEndWithTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"dtc"},
                                               {"dtc", "--demo", "--lang", "fr"},
                                               {"dtc", "--demo", "--port", "1"}}) {
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, 2) << args.back();
    EXPECT_TRUE(run.lines.empty()) << args.back();
  }
}

}  // namespace
}  // namespace kvd
