// SPDX-License-Identifier: GPL-3.0-or-later
// The frame trace: what the transaction reports, line by line and in time, and the trace file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_port.h"
#include "link/frame_trace.h"
#include "link/kwp.h"

namespace kvd {
namespace {

using test::EcuFrame;
using test::FakePort;
using test::WithSum;

std::vector<uint8_t> Vec(const uint8_t* p, size_t n) {
  return std::vector<uint8_t>(p, p + n);
}

class FrameTraceTest : public ::testing::Test {
 protected:
  FrameTraceTest()
      : port(clock),
        link(port, clock),
        trace(
            clock, [this](std::string_view line) { lines.emplace_back(line); }, "test") {
    link.TargetAddress = 0x10;
    port.SetReadTimeouts(0, 5, 100);
    link.SetTrace(&trace);
    lines.clear();  // the opening comment
  }

  // The lines without their time stamps and line ends.
  std::vector<std::string> Events() const {
    std::vector<std::string> out;
    for (const std::string& l : lines) out.push_back(l.substr(9, l.size() - 10));
    return out;
  }
  // The time stamp of line i, in ms.
  long Ms(size_t i) const { return std::stol(lines.at(i).substr(0, 8)); }

  VirtualClock clock;
  FakePort port;
  KwpLink link;
  std::vector<std::string> lines;
  FrameTrace trace;
};

TEST_F(FrameTraceTest, StartCommunicationByteForByteAndInTime) {
  clock.AdvanceMs(1000);  // the trace counts from its own start
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
  ASSERT_EQ(link.KwpTransaction({0x81}), kKwpPositive);

  const std::string sent = HexBytes(std::span(link.RequestFrame.data(), link.RequestFrameLength));
  const std::string received = HexBytes(std::span(link.ResponseFrame.data(), 7));
  EXPECT_EQ(sent, "81 10 F1 81 03");
  const std::vector<std::string> expected = {"BREAK on", "BREAK off", "TX " + sent,
                                             "RX " + received, "RESULT 0 service 81"};
  EXPECT_EQ(Events(), expected);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(Ms(0), 1350);  // 350 ms idle line
  EXPECT_EQ(Ms(1), 1375);  // 25 ms low
  EXPECT_EQ(Ms(2), 1400);  // 25 ms high, then the frame
  for (const std::string& l : lines) EXPECT_EQ(l.back(), '\n');
}

TEST_F(FrameTraceTest, EveryWayATransactionEnds) {
  struct Case {
    const char* name;
    std::vector<uint8_t> answer;
    size_t echo;
    std::vector<std::string> events;
    int32_t result;
  };
  const std::vector<uint8_t> good = EcuFrame({0x61, 0x01, 0x55});
  std::vector<uint8_t> badSum = good;
  badSum.back() = static_cast<uint8_t>(badSum.back() + 1);
  const std::string tx = "TX 82 10 F1 21 01 A5";
  const std::vector<Case> cases = {
      {"positive",
       good,
       FakePort::kFullEcho,
       {tx, "RX " + HexBytes(good), "RESULT 0 service 21"},
       kKwpPositive},
      {"no echo",
       {},
       0,
       {tx, "TIMEOUT echo (0 of 6 bytes came back)", "RESULT -3 service 21"},
       kKwpEchoMissing},
      {"half an echo",
       {},
       3,
       {tx, "TIMEOUT echo (3 of 6 bytes came back)", "RESULT -3 service 21"},
       kKwpEchoMissing},
      {"no answer",
       {},
       FakePort::kFullEcho,
       {tx, "TIMEOUT response", "RESULT -1 service 21"},
       kKwpNoResponse},
      {"cut in the body",
       {0x83, 0xF1, 0x10, 0x61},
       FakePort::kFullEcho,
       {tx, "RX 83 F1 10 61", "TIMEOUT body", "RESULT -6 service 21"},
       kKwpBodyShort},
      {"header 80 cut",
       {0x80, 0xF1},
       FakePort::kFullEcho,
       {tx, "RX 80 F1", "TIMEOUT header", "RESULT -5 service 21"},
       kKwpHeader80Short},
      {"header 00 cut",
       {0x00},
       FakePort::kFullEcho,
       {tx, "RX 00", "TIMEOUT header", "RESULT -7 service 21"},
       kKwpHeader00Short},
      {"checksum",
       badSum,
       FakePort::kFullEcho,
       {tx, "RX " + HexBytes(badSum), "RESULT 3 service 21"},
       kKwpBadChecksum},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines.clear();
    port.QueueReply(c.answer, c.echo);
    EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), c.result);
    EXPECT_EQ(Events(), c.events);
  }
}

TEST_F(FrameTraceTest, BusyAnswersShowEachSendingAndNoiseDuringTheWakeUp) {
  const std::vector<uint8_t> busy = EcuFrame({0x7F, 0x21, 0x21});
  const std::vector<uint8_t> good = EcuFrame({0x61, 0x01, 0x55});
  port.QueueReply(busy);
  port.QueueReply(good);
  ASSERT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);
  const std::string tx = "TX 82 10 F1 21 01 A5";
  const std::vector<std::string> expected = {tx, "RX " + HexBytes(busy), tx, "RX " + HexBytes(good),
                                             "RESULT 0 service 21"};
  EXPECT_EQ(Events(), expected);

  // A byte on the line while the wake-up waits is thrown away; the trace says so.
  lines.clear();
  port.Inject({0x55}, 100);
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
  ASSERT_EQ(link.KwpTransaction({0x81}), kKwpPositive);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(Events().front(), "NOISE 55");
}

TEST_F(FrameTraceTest, TracingChangesNothingOnTheLink) {
  // The same script with and without the trace: same results, same port operations, same time.
  const auto run = [](bool traced) {
    VirtualClock c;
    FakePort p(c);
    KwpLink l(p, c);
    FrameTrace t(c, [](std::string_view) {});
    if (traced) l.SetTrace(&t);
    l.TargetAddress = 0x10;
    p.SetReadTimeouts(0, 5, 100);
    p.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
    p.QueueReply(EcuFrame({0x7F, 0x21, 0x78}));
    p.QueueReply({}, 2);
    std::vector<int32_t> results = {l.KwpTransaction({0x81}), l.KwpTransaction({0x21, 0x01}),
                                    l.KwpTransaction({0x3E, 0x01})};
    std::ostringstream ops;
    for (const auto& e : p.Events()) {
      ops << static_cast<int>(e.kind) << '@' << e.atUs << ':' << HexBytes(e.bytes) << ';';
    }
    return std::make_tuple(results, ops.str(), Vec(l.ResponseBuffer.data(), 8));
  };
  EXPECT_EQ(run(true), run(false));
}

TEST(FrameTraceFile, LinesReachTheFileAsTheyAreMade) {
  const auto file = std::filesystem::temp_directory_path() / "kvd_frame_trace_test.txt";
  VirtualClock clock;
  std::string error;
  auto trace = FrameTrace::OpenFile(file, clock, "kvd-cli", error);
  ASSERT_TRUE(trace) << error;
  const uint8_t frame[] = {0x82, 0x10, 0xF1, 0x3E, 0x01, 0xC2};
  clock.AdvanceMs(12);
  trace->Sent(frame);
  trace->Comment("two\nlines");
  // Read while the trace is still open: nothing may wait in a buffer.
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "       0 # kvd-cli frame trace; times in ms since the trace began\n"
            "      12 TX 82 10 F1 3E 01 C2\n"
            "      12 # two lines\n");
  in.close();  // Windows removes no file that is still open
  trace.reset();
  std::filesystem::remove(file);

  // A folder that does not exist: no trace and a reason.
  error.clear();
  EXPECT_FALSE(
      FrameTrace::OpenFile(file.parent_path() / "no such folder" / "t.txt", clock, "x", error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kvd
