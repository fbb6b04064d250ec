// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli --trace end to end: the frames of a live run on the virtual ECU, and a trace that
// survives the program being killed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/frame_trace.h"
#include "link/kwp.h"
#include "session/cli_run.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_line.h"

namespace kvd {
namespace {

using testing::CliRun;
using testing::RunCli;

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

// One line of a trace: time stamp, event, details.
const std::regex kTraceLine(
    R"(^ {0,7}\d+ (# .*|BREAK (on|off)|(TX|RX|NOISE)( [0-9A-F]{2})+|ECHO .*|TIMEOUT \w.*|RESULT -?\d+ service [0-9A-F]{2})$)");

// The events (time stamps and comments dropped) of the first `transactions` transactions.
std::vector<std::string> FirstTransactions(const std::vector<std::string>& lines,
                                           int transactions) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    if (transactions == 0) break;
    const std::string event = l.size() > 9 ? l.substr(9) : l;
    if (event.rfind("#", 0) == 0) continue;
    out.push_back(event);
    if (event.rfind("RESULT", 0) == 0) --transactions;
  }
  return out;
}

TEST(TraceCommand, LiveRunHoldsTheConnectFramesByteForByte) {
  const auto file = std::filesystem::temp_directory_path() / "kvd_trace_command_test.txt";
  std::filesystem::remove(file);
  const CliRun run =
      RunCli({"live", "--demo", "--seconds", "1", "--interval", "100", "--trace", file.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> lines = SplitLines(ReadAll(file));
  ASSERT_GT(lines.size(), 12u);
  for (const std::string& l : lines) EXPECT_TRUE(std::regex_match(l, kTraceLine)) << l;

  // The same connect on the same virtual ECU, on the virtual clock: StartCommunication with
  // its wake-up, StartDiagnosticSession, TesterPresent.
  VirtualClock clock;
  VirtualEcu ecu;
  VirtualLine line(ecu, clock);
  std::vector<std::string> expected;
  FrameTrace trace(clock, [&](std::string_view l) {
    const std::string event(l.substr(9, l.size() - 10));
    if (event.rfind("#", 0) != 0) expected.push_back(event);
  });
  KwpLink link(line, clock);
  link.SetTrace(&trace);
  ASSERT_EQ(line.OpenPort(1), kPortOk);
  ASSERT_EQ(line.SetLineParameters(10400, 8, 0, 1), kPortOk);
  line.SetReadTimeouts(0, 5, 100);
  link.TargetAddress = 0x10;
  ASSERT_EQ(link.KwpTransaction({0x81}), kKwpPositive);
  clock.Sleep(250);
  ASSERT_EQ(link.KwpTransaction({0x10, 0x81, 0x0A}), kKwpPositive);
  clock.Sleep(250);
  ASSERT_EQ(link.KwpTransaction({0x3E, 0x01}), kKwpPositive);
  ASSERT_GE(expected.size(), 5u);
  EXPECT_NE(std::find(expected.begin(), expected.end(), "TX 81 10 F1 81 03"), expected.end());

  EXPECT_EQ(FirstTransactions(lines, 3), expected);
  // Live data was read after the connect, and the session was closed at the end.
  const std::string all = ReadAll(file);
  EXPECT_NE(all.find("TX 82 10 F1 21 01 A5"), std::string::npos);
  EXPECT_NE(all.find("RESULT 0 service 82"), std::string::npos);  // StopCommunication
  std::filesystem::remove(file);
}

TEST(TraceCommand, KilledProgramLeavesOnlyCompleteLines) {
  const auto file = std::filesystem::temp_directory_path() / "kvd_trace_kill_test.txt";
  std::filesystem::remove(file);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    execl(testing::kCliPath.c_str(), testing::kCliPath.c_str(), "live", "--demo", "--seconds", "60",
          "--interval", "20", "--trace", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // Killed in the middle of polling, once a good number of lines is out.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  size_t seen = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    seen = SplitLines(ReadAll(file)).size();
    if (seen >= 40) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(seen, 40u) << "the trace did not grow while the program ran";

  const std::string text = ReadAll(file);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');  // no half line at the end
  const std::vector<std::string> lines = SplitLines(text);
  EXPECT_GE(lines.size(), seen);  // what was seen before the kill is all still there
  for (const std::string& l : lines) EXPECT_TRUE(std::regex_match(l, kTraceLine)) << l;
  std::filesystem::remove(file);
}

TEST(TraceCommand, TraceThatCannotBeWrittenIsAClearError) {
  const CliRun run =
      RunCli({"live", "--demo", "--seconds", "1", "--trace", "/nonexistent-folder/kvd/trace.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("cannot write the trace /nonexistent-folder/kvd/trace.txt"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace kvd
#endif
