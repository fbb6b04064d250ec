// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kvd::test {
namespace {

using ::testing::ElementsAre;

TEST_F(SimTest, SessionSequenceGetsTheExactAnswers) {
  const uint64_t start = clock.MicrosNow();
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0xC1, 0x6B, 0x8F));
  // 1 ms delay, 350 + 25 + 25 ms of wake-up, then the frame, its echo and the answer.
  EXPECT_GE(clock.MicrosNow() - start, 401'000u);
  EXPECT_LT(clock.MicrosNow() - start, 460'000u);
  EXPECT_TRUE(ecu.SessionOpen());

  clock.Sleep(200);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x10, 0x81, 0x0A}, 0, 50), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0x50, 0x81));
  clock.Sleep(200);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}, 0, 50), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0x7E));
  EXPECT_EQ(ecu.SessionsOpened(), 1u);
}

TEST_F(SimTest, AnswerTimingFollowsP2AndTheByteRate) {
  Connect();
  for (uint32_t p2 : {25u, 40u}) {
    ecu.Settings().p2Ms = p2;
    const uint64_t t0 = clock.MicrosNow();
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
    // 82 10 F1 3E 01 C2 out, 81 F1 10 7E E0 back, P2 in between.
    const uint64_t requestEnd = ByteEndMicros(t0, 5);
    EXPECT_EQ(clock.MicrosNow(), ByteEndMicros(requestEnd + p2 * 1000, 4)) << "P2 " << p2;
  }
  // One byte takes 10 bits at 10400 baud.
  EXPECT_EQ(ByteEndMicros(0, 0), 962u);
  EXPECT_EQ(ByteEndMicros(0, 103), 100'000u);
}

TEST_F(SimTest, LiveDataBlockHas36BytesWithServiceAndIdentifier) {
  Connect();
  ASSERT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpPositive);
  ASSERT_EQ(link.ResponseDataLength, 36);
  EXPECT_EQ(link.ResponseBuffer[0], 0x61);
  EXPECT_EQ(link.ResponseBuffer[1], 0x01);
  EXPECT_EQ(link.ResponseBuffer[2], 0xAB);  // configuration flags
  EXPECT_EQ(link.ResponseBuffer[3], 0x5E);
  // The knock-sensor code is always current: bit 0 of the mask, least significant byte 9.
  EXPECT_EQ(link.ResponseBuffer[9] & 0x01, 0x01);
}

TEST_F(SimTest, AllFourRequestHeaderFormsAreUnderstood) {
  Connect();
  for (int32_t mode = 1; mode <= 4; ++mode) {
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}, mode), kKwpPositive) << mode;
    EXPECT_EQ(link.ResponseDataLength, 36);
  }
  // Long answers use the length-byte form: 80 F1 10 41, then 65 message bytes.
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x23, 0x00, 0xFD, 0x00, 0x40}), kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 65);
  EXPECT_EQ(link.ResponseFrame[0], 0x80);
  EXPECT_EQ(link.ResponseFrame[3], 0x41);
}

TEST_F(SimTest, BadChecksumWrongTargetAndNoSessionAreIgnored) {
  Connect();
  // A request with a checksum off by one: echo only.
  EXPECT_EQ(WriteAndCollect({0x82, 0x10, 0xF1, 0x21, 0x01, 0xA6}, 200).size(), 6u);
  // Addressed to another ECU: echo only.
  EXPECT_EQ(WriteAndCollect({0x82, 0x11, 0xF1, 0x21, 0x01, 0xA6}, 200).size(), 6u);
  // The correct frame is answered: echo plus 3 + 36 + 1 bytes.
  EXPECT_EQ(WriteAndCollect({0x82, 0x10, 0xF1, 0x21, 0x01, 0xA5}, 200).size(), 6u + 40u);
  // After StopCommunication nothing but a new wake-up is answered.
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x82}), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0xC2));
  EXPECT_FALSE(ecu.SessionOpen());
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpNoResponse);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x81}), kKwpPositive);
}

TEST_F(SimTest, NegativeAnswersForUnknownServiceWrongFormatAndRange) {
  Connect();
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x33, 0x01}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x33, 0x11));
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x21, 0x12));
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x55}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x21, 0x31));
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x10, 0x85}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x10, 0x12));
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x23, 0x00, 0x12, 0x00, 0x40}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x23, 0x31));
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x30, 0x07, 0x01}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x30, 0x31));
}

// ----- wake-up

TEST_F(SimTest, WakeUpThatIsTooShortOrMissingIsNotAnswered) {
  const std::vector<uint8_t> startComm{0x81, 0x10, 0xF1, 0x81, 0x03};
  auto wakeAndSend = [&](uint32_t idleMs, uint32_t lowMs) {
    line.SetReadTimeouts(0, 0, idleMs);
    uint8_t buf[256];
    line.PurgePort();
    line.ReadBytes(256, buf);
    line.SetBreak(true);
    clock.Sleep(lowMs);
    line.SetBreak(false);
    clock.Sleep(25);
    return WriteAndCollect(startComm, 300).size();
  };
  clock.Sleep(1000);
  EXPECT_EQ(wakeAndSend(350, 10), 5u);  // low too short: echo only
  EXPECT_FALSE(ecu.SessionOpen());
  EXPECT_EQ(wakeAndSend(350, 60), 5u);                        // low too long
  WriteAndCollect({0x82, 0x10, 0xF1, 0x3E, 0x01, 0xC2}, 10);  // traffic, then
  EXPECT_EQ(wakeAndSend(100, 25), 5u);                        // too little idle before it
  clock.Sleep(1000);
  EXPECT_EQ(WriteAndCollect(startComm, 300).size(), 5u);  // no pulse at all
  EXPECT_FALSE(ecu.SessionOpen());
  EXPECT_EQ(wakeAndSend(350, 25), 5u + 7u);  // the proper pattern
  EXPECT_TRUE(ecu.SessionOpen());
}

class PtyLikeLineTest : public SimTest {
 protected:
  PtyLikeLineTest() : SimTest(VirtualLine::Options{false}) {}
};

TEST_F(PtyLikeLineTest, StartCommunicationAfterAnIdleLineIsTheWakeUp) {
  const std::vector<uint8_t> startComm{0x81, 0x10, 0xF1, 0x81, 0x03};
  clock.Sleep(100);
  EXPECT_EQ(WriteAndCollect(startComm, 100).size(), 5u);  // line busy just before: ignored
  clock.Sleep(50);
  EXPECT_EQ(WriteAndCollect(startComm, 100).size(), 5u);  // 150 ms idle is not enough
  Connect();  // the link's wake-up pattern leaves the line idle for 400 ms
  EXPECT_TRUE(ecu.SessionOpen());
  EXPECT_TRUE(line.SetBreak(true));  // accepted without effect
  EXPECT_FALSE(line.BreakOn());
}

// ----- session life

TEST_F(SimTest, SessionDropsAfterFiveSecondsWithoutRequest) {
  Connect();
  clock.Sleep(4900);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
  // A request that wants no answer keeps the session alive as well.
  clock.Sleep(3000);
  EXPECT_EQ(WriteAndCollect({0x82, 0x10, 0xF1, 0x3E, 0x02, 0xC3}, 100).size(), 6u);
  clock.Sleep(3000);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
  clock.Sleep(5100);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpNoResponse);
  EXPECT_FALSE(ecu.SessionOpen());
  Connect();
  EXPECT_EQ(ecu.SessionsOpened(), 2u);
}

TEST_F(SimTest, EcuResetEndsTheSessionUntilANewWakeUp) {
  Connect();
  ASSERT_EQ(link.KwpRetry(KwpRequest{0x30, 0x09, 0x06, 0x00}), kKwpPositive);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x11, 0x01}), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0x51, 0x01));
  EXPECT_FALSE(ecu.SessionOpen());
  EXPECT_EQ(ecu.Engine().Overrides().fuelPump, -1);  // the reset hands the pump back
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpNoResponse);
  Connect();
}

// ----- faults, as the link reports them

TEST_F(SimTest, UnpluggedGivesNoEchoAndAnswerLimitNoResponse) {
  Connect();
  ecu.Faults().unplugged = true;
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpEchoMissing);
  EXPECT_EQ(clock.MicrosNow() - t0, 105'000u);
  ecu.Faults().unplugged = false;
  ecu.Faults().answerLimit = static_cast<int32_t>(ecu.AnswersSent()) + 1;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpNoResponse);
}

TEST_F(SimTest, ChecksumTruncationAndWrongServiceFaults) {
  Connect();
  ecu.Faults().badChecksum = true;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpBadChecksum);
  EXPECT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpBadChecksum);
  ecu.Faults().badChecksum = false;
  ecu.Faults().truncated = true;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpBodyShort);
  ecu.Faults().truncated = false;
  ecu.Faults().wrongService = true;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x10, 0x81, 0x0A}), kKwpUnexpected);
  EXPECT_THAT(Answer(), ElementsAre(0x51, 0x81));
  ecu.Faults().wrongService = false;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive);
}

TEST_F(SimTest, BusyAndPendingAnswersAreAbsorbedUpToFive) {
  Connect();
  ecu.Faults().busyAnswers = 5;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 36);
  ecu.Faults().busyAnswers = 6;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpTooManyBusy);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x21, 0x21));
  ecu.Faults().busyAnswers = 0;
  clock.Sleep(100);
  line.PurgePort();

  ecu.Faults().pendingAnswers = 3;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x18, 0x00, 0x00, 0x00}), kKwpPositive);
  EXPECT_EQ(link.ResponseBuffer[0], 0x58);
  ecu.Faults().pendingAnswers = 6;
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpTooManyBusy);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x21, 0x78));
}

TEST_F(SimTest, WrongKeyBytesShortLiveDataAndRefusals) {
  ecu.Faults().wrongKeyBytes = true;
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  EXPECT_THAT(Answer(), ElementsAre(0xC1, 0xEF, 0x8F));
  ecu.Faults().wrongKeyBytes = false;

  ecu.Faults().shortLiveData = true;
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 35);
  ecu.Faults().shortLiveData = false;

  ecu.Faults().refuseService = 0x1A;
  ecu.Faults().refuseId = 0x94;
  EXPECT_EQ(link.KwpRetry(KwpRequest{0x1A, 0x92}), kKwpPositive);
  EXPECT_EQ(link.KwpRetry(KwpRequest{0x1A, 0x94}), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x1A, 0x22));
  ecu.Faults().refuseCode = 0;  // refused by silence
  EXPECT_EQ(link.KwpRetry(KwpRequest{0x1A, 0x94}), kKwpNoResponse);
  ecu.Faults().refuseId = -1;
  ecu.Faults().refuseService = 0x30;
  ecu.Faults().refuseCode = 0x31;
  EXPECT_EQ(link.IoReportCurrentState(0x41), kKwpNegative);
  EXPECT_THAT(Answer(), ElementsAre(0x7F, 0x30, 0x31));
}

TEST_F(SimTest, NoiseBeforeTheWakeUpIsDrainedAndTheConnectSucceeds) {
  line.ClosePort();
  ecu.Faults().noiseBytes = 12;
  ASSERT_EQ(line.OpenPort(1), kPortOk);
  line.SetLineParameters(10400, 8, 0, 1);
  line.SetReadTimeouts(0, 5, 100);
  // The quiet-line wait of the session: the first read catches the noise, the next is silent.
  uint8_t buf[256] = {};
  ASSERT_EQ(line.ReadBytes(256, buf), 12);
  uint32_t sum = 0;
  for (int i = 0; i < 12; ++i) sum += buf[i];
  EXPECT_GT(sum, 0u);
  EXPECT_EQ(line.ReadBytes(256, buf), -1);
  Connect();
  // StopCommunication brings another burst.
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x82}), kKwpPositive);
  clock.Sleep(100);
  EXPECT_EQ(line.ReadBytes(256, buf), 12);
}

TEST_F(SimTest, LongNoiseKeepsTheLineBusyForItsWholeLength) {
  line.ClosePort();
  ecu.Faults().noiseBytes = 20000;  // about 19 s of bytes
  const uint64_t t0 = clock.MicrosNow();
  ASSERT_EQ(line.OpenPort(1), kPortOk);
  line.SetLineParameters(10400, 8, 0, 1);
  line.SetReadTimeouts(0, 5, 100);
  uint8_t buf[256];
  uint32_t total = 0;
  int32_t n;
  while ((n = line.ReadBytes(256, buf)) > 0) total += static_cast<uint32_t>(n);
  EXPECT_EQ(total, 20000u);
  EXPECT_GT(clock.MicrosNow() - t0, 19'000'000u);
}

TEST_F(SimTest, ReadTimeOutsFollowTheWindowsRules) {
  uint8_t buf[256];
  // Total time-out: multiplier x count + constant.
  uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(line.ReadByte(), -1);
  EXPECT_EQ(clock.MicrosNow() - t0, 105'000u);
  line.SetReadTimeouts(0, 0, 25);
  t0 = clock.MicrosNow();
  EXPECT_EQ(line.ReadBytes(256, buf), -1);
  EXPECT_EQ(clock.MicrosNow() - t0, 25'000u);
  // Interval time-out: the read ends at the first gap longer than the interval, after the
  // echo of a frame has come in.
  line.SetReadTimeouts(5, 0, 0);
  const uint8_t frame[] = {0x82, 0x11, 0xF1, 0x3E, 0x01, 0xC3};  // not for our ECU
  line.WriteBytes(6, frame);
  t0 = clock.MicrosNow();
  EXPECT_EQ(line.ReadBytes(256, buf), 6);
  EXPECT_EQ(clock.MicrosNow() - t0, ByteEndMicros(0, 5) + 5'000);
  // MAXDWORD interval without totals: only what is there already.
  line.SetReadTimeouts(0xFFFFFFFF, 0, 0);
  line.WriteBytes(6, frame);
  t0 = clock.MicrosNow();
  EXPECT_EQ(line.ReadBytes(256, buf), -1);
  EXPECT_EQ(clock.MicrosNow(), t0);
  clock.Sleep(10);
  EXPECT_EQ(line.ReadBytes(256, buf), 6);
  // A closed line reads and writes nothing.
  line.ClosePort();
  EXPECT_FALSE(line.Rts());
  EXPECT_EQ(line.ReadByte(), -1);
  EXPECT_EQ(line.WriteBytes(6, frame), -1);
  EXPECT_FALSE(line.SetBreak(true));
  EXPECT_EQ(line.OpenPort(65530), kPortNumberRefused);
  EXPECT_EQ(line.OpenDevice(""), kPortOsRefused);
  EXPECT_EQ(line.OpenPort(3), kPortOk);
  EXPECT_EQ(line.OpenPort(4), kPortAlreadyOpen);
  EXPECT_EQ(line.DeviceName(), "COM3");
}

TEST_F(SimTest, WrongLineSettingsReachNoEcu) {
  ASSERT_EQ(line.SetLineParameters(9600, 8, 0, 1), kPortOk);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x81}), kKwpNoResponse);  // the echo still comes
  ASSERT_EQ(line.SetLineParameters(10400, 8, 2, 1), kPortOk);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x81}), kKwpNoResponse);
  ASSERT_EQ(line.SetLineParameters(10400, 8, 0, 1), kPortOk);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{0x81}), kKwpPositive);
  EXPECT_TRUE(line.Rts());
  EXPECT_FALSE(line.Dtr());
}

TEST(VirtualLineRealTimeTest, ConnectTakesLineTimeOnTheRealClock) {
  RealClock clock;
  VirtualEcu ecu;
  VirtualLine line(ecu, clock);
  KwpLink link(line, clock);
  ASSERT_EQ(line.OpenPort(1), kPortOk);
  line.SetLineParameters(10400, 8, 0, 1);
  line.SetReadTimeouts(0, 5, 100);
  link.TargetAddress = 0x10;
  const uint64_t t0 = clock.MicrosNow();
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x81}, 0, 1), kKwpPositive);
  EXPECT_GE(clock.MicrosNow() - t0, 400'000u);  // the wake-up alone is 400 ms
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 36);
}

}  // namespace
}  // namespace kvd::test
