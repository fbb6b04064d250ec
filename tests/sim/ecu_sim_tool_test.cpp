// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-alone virtual ECU, served on a pseudo-terminal in real time, talked to through the
// program's own POSIX serial back-end and frame layer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/ecu_sim_options.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include "link/clock.h"
#include "link/kwp.h"

#include "link/serial_posix.h"
#include "link/termios2_posix.h"
#include "sim/sim_process.h"
#endif

namespace kvd {
namespace {

#ifndef _WIN32
using ::testing::ElementsAre;

class EcuSimToolTest : public SimTesterTest {
 protected:
  std::vector<uint8_t> Answer() const {
    return std::vector<uint8_t>(link.ResponseBuffer.begin(),
                                link.ResponseBuffer.begin() + link.ResponseDataLength);
  }
};

TEST_F(EcuSimToolTest, SessionAndLiveDataOverAPseudoTerminal) {
  SimProcess sim({});
  Open(sim);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0xC1, 0x6B, 0x8F));
  clock.Sleep(200);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x10, 0x81, 0x0A}, 0, 50), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0x50, 0x81));
  clock.Sleep(200);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}, 0, 50), kKwpPositive);

  // Live data back to back for three seconds.
  const auto start = std::chrono::steady_clock::now();
  int records = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
    ASSERT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpPositive);
    ASSERT_EQ(link.ResponseDataLength, 36);
    ASSERT_EQ(link.ResponseBuffer[1], 0x01);
    ++records;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = records / seconds;
  RecordProperty("records_per_second", std::to_string(rate));
  std::printf("live data over the pseudo-terminal: %d records in %.2f s, %.1f records/s\n", records,
              seconds, rate);
  EXPECT_GT(records, 0);

  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x82}), kKwpPositive);
  port.ClosePort();
  EXPECT_EQ(sim.Terminate(), 0);  // a clean exit on SIGTERM
}

TEST_F(EcuSimToolTest, FaultSwitchesReachTheLink) {
  {
    SimProcess sim({"--wrong-key", "--p2", "30"});
    Open(sim);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
    EXPECT_THAT(Answer(), ElementsAre(0xC1, 0xEF, 0x8F));
    port.ClosePort();
  }
  {
    SimProcess sim({"--unplugged"});
    Open(sim);
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpEchoMissing);
    port.ClosePort();
  }
  {
    // SIGUSR1 pulls the plug and puts it back.
    SimProcess sim({});
    Open(sim);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
    sim.Signal(SIGUSR1);
    usleep(200'000);
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpEchoMissing);
    sim.Signal(SIGUSR1);
    usleep(200'000);
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
    port.ClosePort();
  }
  {
    // A tester that closes and opens the line again finds it usable.
    SimProcess sim({"--refuse", "21:01=22"});
    Open(sim);
    port.ClosePort();
    Open(sim);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpNegative);
    EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x21, 0x22));
    port.ClosePort();
    EXPECT_EQ(sim.Terminate(), 0);
  }
}

// Served on a device: here the slave of a pseudo-terminal whose master plays the tester.
TEST(EcuSimDeviceTest, DeviceModeAnswersWithAndWithoutEcho) {
  for (const bool echo : {true, false}) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    std::vector<std::string> args{"--device", slave};
    if (!echo) args.push_back("--no-echo");
    SimProcess sim(args);
    ASSERT_EQ(sim.Path(), slave);
    usleep(400'000);  // an idle line is the wake-up
    const uint8_t startComm[] = {0x81, 0x10, 0xF1, 0x81, 0x03};
    ASSERT_EQ(write(master, startComm, sizeof startComm), 5);
    std::vector<uint8_t> got;
    uint8_t buf[64];
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, 300) == 1) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    std::vector<uint8_t> expected;
    if (echo) expected.assign(startComm, startComm + 5);
    for (uint8_t b : {0x83, 0xF1, 0x10, 0xC1, 0x6B, 0x8F, 0x3F}) expected.push_back(b);
    EXPECT_EQ(got, expected) << (echo ? "with echo" : "without echo");
    EXPECT_EQ(sim.Terminate(), 0);
    close(master);
  }
}

// The adapter served on a pseudo-terminal and on 127.0.0.1: a few lines of text each way, the
// first of them bringing up the K-line to the ECU behind it.
TEST(EcuSimAdapterTest, ServedOnAPseudoTerminalAndOverTcp) {
  for (const bool tcp : {false, true}) {
    std::vector<std::string> args{"--adapter", "elm327"};
    if (tcp) args.insert(args.end(), {"--tcp", "0"});
    SimProcess sim(args);
    int fd = -1;
    if (tcp) {
      ASSERT_EQ(sim.Path().rfind("127.0.0.1:", 0), 0u) << sim.Path();
      fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(static_cast<uint16_t>(std::stoi(sim.Path().substr(10))));
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    } else {
      fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
      ASSERT_GE(fd, 0) << sim.Path();
      ASSERT_TRUE(posix::MakeRaw(fd));
    }
    const auto command = [fd](const std::string& line) {
      const std::string text = line + "\r";
      EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      std::string got;
      char c = 0;
      pollfd p{fd, POLLIN, 0};
      while (poll(&p, 1, 2000) == 1 && read(fd, &c, 1) == 1 && c != '>') got += c;
      return got;
    };
    EXPECT_EQ(command("ATE0"), "ATE0\rOK\r\r") << (tcp ? "tcp" : "pty");
    for (const char* c : {"ATH1", "ATS0", "ATKW0", "ATSP5", "ATSH8110F1"}) command(c);
    EXPECT_EQ(command("ATFI"), "BUS INIT: OK\r\r");
    command("ATSH8010F1");
    EXPECT_EQ(command("21A0"), "84F11061A000A026\r\r");
    close(fd);
    EXPECT_EQ(sim.Terminate(), 0);
  }
}

#endif  // !_WIN32

TEST(EcuSimOptionsTest, SwitchesAreParsed) {
  EcuSimOptions o;
  std::string error;
  ASSERT_TRUE(ParseEcuSimOptions(
      {"--p2",         "40",         "--busy",       "3",         "--pending",  "2",
       "--stop-after", "10",         "--refuse",     "1A:94=0",   "--noise",    "16",
       "-v",           "--device",   "/dev/ttyUSB0", "--no-echo", "--truncate", "--demo-schedule",
       "--dtcs",       "130,0,3999", "--dtc-count",  "255"},
      o, error))
      << error;
  EXPECT_EQ(o.settings.p2Ms, 40u);
  EXPECT_EQ(o.faults.busyAnswers, 3u);
  EXPECT_EQ(o.faults.pendingAnswers, 2u);
  EXPECT_EQ(o.faults.answerLimit, 10);
  EXPECT_EQ(o.faults.refuseService, 0x1A);
  EXPECT_EQ(o.faults.refuseId, 0x94);
  EXPECT_EQ(o.faults.refuseCode, 0);
  EXPECT_EQ(o.faults.noiseBytes, 16u);
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.faults.truncated);
  EXPECT_FALSE(o.echo);
  EXPECT_EQ(o.device, "/dev/ttyUSB0");
  EXPECT_EQ(o.schedule, EngineSchedule::kDemo);
  EXPECT_NE(EcuSimUsage().find("--demo-schedule"), std::string::npos);
  EXPECT_EQ(o.faults.dtcAnswerCodes, (std::vector<uint16_t>{0x0130, 0x0000, 0x3999}));
  EXPECT_EQ(o.faults.dtcCountByte, 255);

  EcuSimOptions r;
  ASSERT_TRUE(ParseEcuSimOptions({"--refuse", "30"}, r, error));
  EXPECT_EQ(r.faults.refuseService, 0x30);
  EXPECT_EQ(r.faults.refuseId, -1);
  EXPECT_EQ(r.faults.refuseCode, 0x22);
  EXPECT_EQ(r.schedule, EngineSchedule::kStandard);  // the tests' timing unless asked
  EXPECT_FALSE(r.elm327);

  EcuSimOptions e;
  ASSERT_TRUE(ParseEcuSimOptions(
      {"--adapter", "elm327", "--tcp", "35000", "--elm-id", "ELM327 v2.1", "--elm-no-al",
       "--elm-no-fi", "--elm-no-sp5", "--elm-dots", "--elm-delay", "80", "--elm-baud", "115200"},
      e, error))
      << error;
  EXPECT_TRUE(e.elm327);
  EXPECT_EQ(e.tcpPort, 35000);
  EXPECT_EQ(e.elm.faults.identity, "ELM327 v2.1");
  EXPECT_TRUE(e.elm.faults.refuseAllowLong && e.elm.faults.refuseFastInit &&
              e.elm.faults.refuseProtocol5 && e.elm.faults.initDots);
  EXPECT_EQ(e.elm.faults.answerDelayMs, 80u);
  EXPECT_EQ(e.elm.hostBaud, 115200u);
}

TEST(EcuSimOptionsTest, MistakesGetAMessage) {
  const std::vector<std::vector<std::string>> bad = {{"--p2"},
                                                     {"--p2", "-5"},
                                                     {"--p2", "9999"},
                                                     {"--p2", "25ms"},
                                                     {"--busy", "x"},
                                                     {"--refuse", "G1"},
                                                     {"--refuse", "21:"},
                                                     {"--refuse", "100"},
                                                     {"--device", ""},
                                                     {"--frobnicate"},
                                                     {"--p3", "50"},
                                                     {"--noise", "100001"},
                                                     {"--stop-after", "4294967296"},
                                                     {"--dtcs", "10000"},
                                                     {"--dtcs", "130,"},
                                                     {"--dtcs", "P0130"},
                                                     {"--dtc-count", "256"},
                                                     {"--adapter", "elm"},
                                                     {"--tcp", "35000"},
                                                     {"--elm-no-al"},
                                                     {"--adapter", "elm327", "--tcp", "65536"},
                                                     {"--adapter", "elm327", "--device", "/x"},
                                                     {"--adapter", "elm327", "--elm-id", ""},
                                                     {"--adapter", "elm327", "--elm-id", "a\tb"},
                                                     {"--adapter", "elm327", "--elm-delay", "5001"},
                                                     {"--adapter", "elm327", "--elm-baud", "300"}};
  for (const auto& args : bad) {
    EcuSimOptions o;
    std::string error;
    EXPECT_FALSE(ParseEcuSimOptions(args, o, error)) << args.back();
    EXPECT_FALSE(error.empty()) << args.back();
  }
}

}  // namespace
}  // namespace kvd
