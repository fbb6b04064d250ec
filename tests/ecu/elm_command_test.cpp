// SPDX-License-Identifier: GPL-3.0-or-later
// Every kvd-cli ECU command end to end through an ELM327: the real POSIX port against
// kvd-ecu-sim --adapter elm327 on a pseudo-terminal, and one live run over TCP on 127.0.0.1, in
// real time. Each run connects anew (about 2.5 s).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <string>
#include <vector>

#include "../session/cli_run.h"
#include "../sim/sim_process.h"
#include "ecu/identification.h"
#include "link/elm_link.h"

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ElmCommands, EveryEcuCommandThroughTheAdapterOnAPty) {
  SimProcess sim({"--adapter", "elm327"});
  ASSERT_FALSE(sim.Path().empty());
  const std::string port = "elm:" + sim.Path();
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    size_t minLines;      // of standard output
    const char* errPart;  // in standard error
  };
  const std::vector<Row> rows = {
      {{"live", "--seconds", "2", "--interval", "100"}, 0, 10, "Adapter: ELM327 v1.5, "},
      {{"dtc"}, 0, 2, "[ON-LINE]"},
      {{"id"}, 0, 11, "[ON-LINE]"},
      // An identification record needs a longer request than the adapter can send.
      {{"id", "--write", "4=XTA21110012345A", "--yes"}, 1, 11, "KKL-адаптер"},
      {{"flags"}, 0, 1, "[ON-LINE]"},
      {{"immo"}, 0, 1, "[ON-LINE]"},
      {{"adc"}, 0, 6, "[ON-LINE]"},
      {{"learn", "--bank", "1"}, 0, 17, "[ON-LINE]"},
      {{"reset", "--yes"}, 0, 0, "Произведен сброс ЭБУ"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.begin() + 1, {"--port", port});
    const CliRun run = RunCli(args);
    SCOPED_TRACE(args[0] + "\n" + run.err);
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_GE(run.lines.size(), row.minLines);
    EXPECT_TRUE(Has(run.err, row.errPart));
  }
}

TEST(ElmCommands, LiveOverTcpAndARefusedClone) {
  SimProcess wifi({"--adapter", "elm327", "--tcp", "0", "--elm-delay", "20"});
  ASSERT_EQ(wifi.Path().rfind("127.0.0.1:", 0), 0u) << wifi.Path();
  const CliRun live =
      RunCli({"live", "--port", "elm:tcp:" + wifi.Path(), "--seconds", "2", "--interval", "100"});
  EXPECT_EQ(live.exitCode, 0) << live.err;
  EXPECT_GE(live.lines.size(), 10u) << live.err;  // the header and about 20 records
  EXPECT_TRUE(Has(live.err, "Adapter: ELM327 v1.5")) << live.err;

  SimProcess clone({"--adapter", "elm327", "--elm-no-al", "--elm-id", "ELM327 v2.1"});
  ASSERT_FALSE(clone.Path().empty());
  const CliRun refused = RunCli({"flags", "--port", "elm:" + clone.Path()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.lines.empty());
  EXPECT_TRUE(Has(refused.err, "«ELM327 v2.1»") && Has(refused.err, "(ATAL)")) << refused.err;
  EXPECT_FALSE(Has(refused.err, "[Соединение 2]")) << refused.err;
}

}  // namespace
}  // namespace kvd
#endif
