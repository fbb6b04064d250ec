// SPDX-License-Identifier: GPL-3.0-or-later
// The line faults of the virtual ECU (lost echo, the plug pulled in the middle of an answer, a
// stray byte on the wire) as the frame layer meets them, and how the line recovers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sim/ecu_sim_options.h"
#include "sim_fixture.h"

namespace kvd::test {
namespace {

class LineFaultTest : public SimTest {};

TEST_F(LineFaultTest, EachFaultEndsTheTransactionAsItsFrameDemands) {
  struct Row {
    std::string name;
    std::function<void(EcuFaults&)> inject;
    int32_t first;   // the transaction that meets the fault
    int32_t second;  // the next one, fault switch left as the first one left it
  };
  const Row rows[] = {
      // The answer's format byte is read as the last echo; its second byte F1 then announces a
      // 53-byte frame that never completes.
      {"lost echo", [](EcuFaults& f) { f.lostEchoBytes = 1; }, kKwpBodyShort, kKwpBodyShort},
      // No echo of the last two bytes: A4 F1 of the answer stand in for them, its third byte
      // 10 reads as a one-byte header of 16 message bytes whose checksum is no checksum.
      {"lost echo x2", [](EcuFaults& f) { f.lostEchoBytes = 2; }, kKwpBadChecksum, kKwpBadChecksum},
      // Header and a little of the message arrive, then nothing; afterwards not even the echo.
      {"plug pulled mid-answer", [](EcuFaults& f) { f.pullPlugAfterBytes = 5; }, kKwpBodyShort,
       kKwpEchoMissing},
      {"plug pulled before the answer", [](EcuFaults& f) { f.pullPlugAfterBytes = 0; },
       kKwpNoResponse, kKwpEchoMissing},
      // One byte garbled after the format byte: the frame is complete, its checksum wrong.
      {"garbled byte", [](EcuFaults& f) { f.noisyAnswers = true; }, kKwpBadChecksum,
       kKwpBadChecksum},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    VirtualEcu fresh;
    ecu.Faults() = fresh.Faults();
    clock.Sleep(6000);  // any session of the previous row has timed out
    line.PurgePort();
    Connect();
    const std::array<uint8_t, 256> before = link.ResponseBuffer;
    row.inject(ecu.Faults());
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), row.first);
    if (row.first != kKwpBadChecksum) {
      // The previous message stays in the buffer whenever the new one was not accepted.
      EXPECT_EQ(link.ResponseBuffer, before);
    }
    clock.Sleep(300);
    EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), row.second);
  }
}

TEST_F(LineFaultTest, PluggingBackInBringsTheSameSessionBackWithinItsTimeOut) {
  Connect();
  ecu.Faults().pullPlugAfterBytes = 10;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpBodyShort);
  EXPECT_TRUE(ecu.Faults().unplugged);
  EXPECT_EQ(ecu.Faults().pullPlugAfterBytes, -1);  // the switch fires once
  for (int i = 0; i < 3; ++i) EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), -3);
  ecu.Faults().unplugged = false;
  clock.Sleep(200);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
  EXPECT_EQ(ecu.SessionsOpened(), 1u);
  // Unplugged longer than the session's time-out: the ECU has closed it, only a new wake-up
  // and StartCommunication open it again.
  ecu.Faults().unplugged = true;
  clock.Sleep(6000);
  ecu.Faults().unplugged = false;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpNoResponse);
  clock.Sleep(400);
  Connect();
  EXPECT_EQ(ecu.SessionsOpened(), 2u);
}

TEST_F(LineFaultTest, NoiseGarblesExactlyOneByteAfterTheFormatByte) {
  Connect();
  ecu.Faults().noisyAnswers = true;
  const std::vector<uint8_t> clean = {0x81, 0xF1, 0x10, 0x7E, 0x00};  // the answer 7E
  for (int i = 0; i < 50; ++i) {
    const auto got = WriteAndCollect({0x82, 0x10, 0xF1, 0x3E, 0x01, 0xC2}, 200);
    ASSERT_EQ(got.size(), 6 + clean.size()) << i;  // the echo, then the answer
    size_t differing = 0;
    for (size_t k = 0; k < clean.size(); ++k) differing += got[6 + k] != clean[k] ? 1 : 0;
    EXPECT_EQ(differing, 1u) << i;
    EXPECT_EQ(got[6], clean[0]) << i;
    clock.Sleep(100);
  }
}

TEST(EcuSimLineFaultOptions, SwitchesAreParsedAndRangeChecked) {
  EcuSimOptions o;
  std::string error;
  ASSERT_TRUE(ParseEcuSimOptions(
      {"--pending", "6", "--pending-only", "--pull-plug-after", "12", "--garble"}, o, error))
      << error;
  EXPECT_TRUE(o.faults.pendingOnly);
  EXPECT_EQ(o.faults.pullPlugAfterBytes, 12);
  EXPECT_TRUE(o.faults.noisyAnswers);
  for (const char* bad : {"261", "-1", "x", ""}) {
    EcuSimOptions p;
    EXPECT_FALSE(ParseEcuSimOptions({"--pull-plug-after", bad}, p, error)) << bad;
    EXPECT_NE(error.find("--pull-plug-after"), std::string::npos) << bad;
  }
  EXPECT_FALSE(ParseEcuSimOptions({"--pull-plug-after"}, o, error));
  EXPECT_NE(EcuSimUsage().find("--garble"), std::string::npos);
}

}  // namespace
}  // namespace kvd::test
