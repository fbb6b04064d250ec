// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli learn against kvd-ecu-sim on a pseudo-terminal, in real time.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ecu/learn_memory.h"
#include "session/cli_run.h"
#include "sim/sim_process.h"
#include "sim/virtual_ecu.h"

namespace kvd {
namespace {

using testing::RunCli;

TEST(LearnCommand, PrintsAndSavesTheBankOrFailsWithTheProgramsMessage) {
  // The simulator's learn memory is the virtual ECU's of the same seed.
  const VirtualEcu model;
  LearnTable expected{};
  for (int k = 0; k < kLearnBankSize; ++k)
    expected[static_cast<size_t>(k)] = model.LearnByte(static_cast<uint16_t>(0xFE00 + k));

  const auto file = std::filesystem::temp_directory_path() / "kvd_learn_command_test.txt";
  std::filesystem::remove(file);
  {
    SimProcess sim({});
    ASSERT_FALSE(sim.Path().empty());
    const auto run =
        RunCli({"learn", "--port", sim.Path(), "--bank", "2", "--save", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string out;
    for (const auto& l : run.lines) out += l + "\n";
    EXPECT_EQ(out, LearnTableText(expected, '.', "\n"));
    std::ifstream in(file, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, LearnTableText(expected, '.', "\r\n"));
  }
  std::filesystem::remove(file);

  // A software without the service: the program's message, exit 1, nothing printed or saved.
  {
    SimProcess sim({"--refuse", "23"});
    const auto run =
        RunCli({"learn", "--port", sim.Path(), "--bank", "1", "--save", file.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_NE(run.err.find(kLearnReadFailedText), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  // A bank that does not exist is a usage error.
  EXPECT_EQ(RunCli({"learn", "--demo", "--bank", "3"}).exitCode, 2);
}

}  // namespace
}  // namespace kvd
#endif  // !_WIN32
