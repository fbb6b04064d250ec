// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fake_port.h"
#include "link/kwp.h"

namespace kvd {
namespace {

using test::EcuFrame;
using test::FakePort;
using test::WithSum;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Kind = FakePort::Kind;

std::vector<uint8_t> Vec(const uint8_t* p, size_t n) {
  return std::vector<uint8_t>(p, p + n);
}

class KwpTest : public ::testing::Test {
 protected:
  KwpTest() : port(clock), link(port, clock) {
    link.TargetAddress = 0x10;
    port.SetReadTimeouts(0, 5, 100);  // the session's time-outs
    port.ClearEvents();
  }

  std::vector<uint8_t> Sent() const {
    return Vec(link.RequestFrame.data(), link.RequestFrameLength);
  }
  std::vector<uint8_t> Message() const {
    return Vec(link.ResponseBuffer.data(), static_cast<size_t>(link.ResponseDataLength));
  }
  // Leaves a known previous answer in the buffer.
  void PrimeWithTesterPresent() {
    port.QueueReply(EcuFrame({0x7E, 0x01}));
    ASSERT_EQ(link.KwpTransaction({0x3E, 0x01}), kKwpPositive);
    port.ClearEvents();
  }
  double Ms(uint64_t us) const { return static_cast<double>(us) / 1000.0; }

  VirtualClock clock;
  FakePort port;
  KwpLink link;
};

// ---- Frames -------------------------------------------------------------------------------

TEST(KwpFrame, KnownRequestsByteForByte) {
  uint8_t out[264];
  size_t n = KwpLink::BuildFrame(KwpRequest{0x81}, 0, 0x10, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x81, 0x10, 0xF1, 0x81, 0x03));
  n = KwpLink::BuildFrame(KwpRequest{0x3E, 0x01}, 0, 0x10, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x82, 0x10, 0xF1, 0x3E, 0x01, 0xC2));
  n = KwpLink::BuildFrame(KwpRequest{0x21, 0x01}, 0, 0x10, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x82, 0x10, 0xF1, 0x21, 0x01, 0xA5));
  // The explicit forms without addresses.
  n = KwpLink::BuildFrame(KwpRequest{0x21, 0x01}, 1, 0x10, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x02, 0x21, 0x01, 0x24));
  n = KwpLink::BuildFrame(KwpRequest{0x21, 0x01}, 3, 0x10, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x00, 0x02, 0x21, 0x01, 0x24));
  n = KwpLink::BuildFrame(KwpRequest{0x21, 0x01}, 4, 0x33, out);
  EXPECT_THAT(Vec(out, n), ElementsAre(0x80, 0x33, 0xF1, 0x02, 0x21, 0x01, 0xC8));
}

TEST(KwpFrame, AutomaticHeaderSwitchesAt64Bytes) {
  uint8_t out[264];
  std::vector<uint8_t> msg(63, 0x01);
  size_t n = KwpLink::BuildFrame(KwpRequest(msg), 0, 0x10, out);
  ASSERT_EQ(n, 3u + 63 + 1);
  EXPECT_THAT(Vec(out, 3), ElementsAre(0xBF, 0x10, 0xF1));
  EXPECT_EQ(out[n - 1], static_cast<uint8_t>(0xBF + 0x10 + 0xF1 + 63));

  msg.push_back(0x01);
  n = KwpLink::BuildFrame(KwpRequest(msg), 0, 0x10, out);
  ASSERT_EQ(n, 4u + 64 + 1);
  EXPECT_THAT(Vec(out, 4), ElementsAre(0x80, 0x10, 0xF1, 0x40));
  EXPECT_EQ(out[n - 1], static_cast<uint8_t>(0x80 + 0x10 + 0xF1 + 0x40 + 64));

  // The longest request fills 260 bytes and no more.
  std::vector<uint8_t> longest(255, 0xFF);
  std::vector<uint8_t> big(300, 0xEE);
  n = KwpLink::BuildFrame(KwpRequest(longest), 0, 0x10, big.data());
  EXPECT_EQ(n, 260u);
  EXPECT_EQ(big[260], 0xEE);
}

TEST(KwpFrame, UnframeableRequestsGiveZero) {
  uint8_t out[264];
  std::vector<uint8_t> msg(64, 0x01);
  EXPECT_EQ(KwpLink::BuildFrame(KwpRequest(msg), 1, 0x10, out), 0u);  // length needs 7 bits
  EXPECT_EQ(KwpLink::BuildFrame(KwpRequest(msg), 2, 0x10, out), 0u);
  EXPECT_EQ(KwpLink::BuildFrame(KwpRequest{0x21}, 5, 0x10, out), 0u);
  EXPECT_EQ(KwpLink::BuildFrame(KwpRequest{0x21}, -1, 0x10, out), 0u);
  EXPECT_EQ(KwpLink::BuildFrame(KwpRequest{}, 0, 0x10, out), 0u);
}

TEST(KwpFrame, RequestConstructors) {
  const uint8_t prefixed[] = {3, 0x18, 0x00, 0xFF, 0x99};
  KwpRequest r = KwpRequest::FromPrefixed(prefixed);
  EXPECT_EQ(r.Length, 3);
  EXPECT_THAT(Vec(r.Message.data(), r.Length), ElementsAre(0x18, 0x00, 0xFF));
  EXPECT_EQ(r.Message[3], 0);  // nothing beyond the stated length is taken
  EXPECT_EQ(KwpRequest::FromPrefixed(nullptr).Length, 0);

  std::vector<uint8_t> tooLong(300, 0x42);
  KwpRequest cut{std::span<const uint8_t>(tooLong)};
  EXPECT_EQ(cut.Length, 255);
  EXPECT_EQ(cut.ServiceId(), 0x42);
}

// ---- Sending ------------------------------------------------------------------------------

TEST_F(KwpTest, SendsFramePurgedFirstAndReadsEchoPerByte) {
  port.QueueReply(EcuFrame({0x61, 0x01, 0xAA}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);
  EXPECT_THAT(port.Writes(), ElementsAre(ElementsAre(0x82, 0x10, 0xF1, 0x21, 0x01, 0xA5)));
  ASSERT_FALSE(port.Events().empty());
  EXPECT_EQ(port.Events().front().kind, Kind::Purge);
  // Six echo bytes, then four header bytes... one ReadByte per byte in all.
  EXPECT_EQ(port.EventsOf(Kind::ReadByte).size(), 6u + 7u);
  EXPECT_TRUE(port.EventsOf(Kind::Break).empty());
  EXPECT_TRUE(port.EventsOf(Kind::SetTimeouts).empty());
  EXPECT_THAT(Message(), ElementsAre(0x61, 0x01, 0xAA));
  EXPECT_EQ(port.PendingInput(), 0u);
}

TEST_F(KwpTest, BadHeaderModeSendsNothing) {
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}, 5), kKwpBadHeaderMode);
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}, -1), kKwpBadHeaderMode);
  std::vector<uint8_t> msg(64, 0x01);
  EXPECT_EQ(link.KwpTransaction(KwpRequest(msg), 2), kKwpBadHeaderMode);
  EXPECT_EQ(link.KwpTransaction(KwpRequest{}), kKwpBadHeaderMode);
  EXPECT_TRUE(port.Writes().empty());
}

TEST_F(KwpTest, DelayIsSleptAfterPurgeBeforeSending) {
  port.QueueReply(EcuFrame({0x7E, 0x01}));
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpTransaction({0x3E, 0x01}, 0, 40), kKwpPositive);
  const auto writes = port.EventsOf(Kind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(port.EventsOf(Kind::Purge).front().atUs, t0);
  EXPECT_EQ(writes[0].atUs - t0, 40000u);
}

TEST_F(KwpTest, WakeUpPatternOnlyForLoneStartCommunication) {
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpTransaction({0x81}), kKwpPositive);
  EXPECT_THAT(Message(), ElementsAre(0xC1, 0xEF, 0x8F));

  const auto timeouts = port.EventsOf(Kind::SetTimeouts);
  ASSERT_EQ(timeouts.size(), 4u);
  EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutConstant, 350u);
  EXPECT_EQ(timeouts[0].atUs, t0);
  EXPECT_EQ(timeouts[1].timeouts.ReadTotalTimeoutConstant, 25u);
  EXPECT_EQ(timeouts[1].atUs - t0, 350000u);
  EXPECT_EQ(timeouts[2].timeouts.ReadTotalTimeoutConstant, 1u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(timeouts[i].timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts[i].timeouts.ReadTotalTimeoutMultiplier, 0u);
  }
  // The caller's time-outs come back before the answer is awaited.
  EXPECT_EQ(timeouts[3].timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts[3].timeouts.ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(timeouts[3].timeouts.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(port.EventsOf(Kind::GetTimeouts).size(), 1u);

  const auto breaks = port.EventsOf(Kind::Break);
  ASSERT_EQ(breaks.size(), 2u);
  EXPECT_TRUE(breaks[0].on);
  EXPECT_EQ(breaks[0].atUs - t0, 350000u);
  EXPECT_FALSE(breaks[1].on);
  EXPECT_EQ(breaks[1].atUs - breaks[0].atUs, 25000u);  // held low for 25 ms
  const auto writes = port.EventsOf(Kind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].atUs - breaks[1].atUs, 25000u);  // 25 ms high, then the frame at once
  EXPECT_THAT(writes[0].bytes, ElementsAre(0x81, 0x10, 0xF1, 0x81, 0x03));
  // Purges: send point, before the idle wait, before the break.
  EXPECT_EQ(port.EventsOf(Kind::Purge).size(), 3u);
  EXPECT_FALSE(port.BreakHeld());
  // The restore happens after the 1 ms drain.
  EXPECT_EQ(timeouts[3].atUs - timeouts[2].atUs, 1000u);
}

TEST_F(KwpTest, StartCommunicationWithParametersIsNoWakeUp) {
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}));
  EXPECT_EQ(link.KwpTransaction({0x81, 0x00}), kKwpPositive);
  EXPECT_TRUE(port.EventsOf(Kind::Break).empty());
  EXPECT_TRUE(port.EventsOf(Kind::SetTimeouts).empty());
  EXPECT_TRUE(port.EventsOf(Kind::GetTimeouts).empty());
}

TEST_F(KwpTest, WakeUpWithoutAdapterStillRestoresTimeouts) {
  port.QueueReply({}, 0);  // nothing comes back at all
  EXPECT_EQ(link.KwpTransaction({0x81}), kKwpEchoMissing);
  EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutConstant, 100u);
}

TEST_F(KwpTest, UnreadableTimeoutsFallBackToSessionValues) {
  port.SetReadTimeouts(0, 0, 0);  // would be "wait forever" on Windows
  port.getTimeoutsFails = true;
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
  EXPECT_EQ(link.KwpTransaction({0x81}), kKwpPositive);
  EXPECT_EQ(port.CurrentTimeouts().ReadIntervalTimeout, 0u);
  EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutConstant, 100u);
}

TEST_F(KwpTest, MissingEchoEndsAfterOneByteTimeout) {
  PrimeWithTesterPresent();
  const int32_t lengthBefore = link.ResponseDataLength;
  port.QueueReply({}, 0);
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpEchoMissing);
  EXPECT_EQ(clock.MicrosNow() - t0, 105000u);
  EXPECT_EQ(link.ResponseDataLength, lengthBefore);
  EXPECT_THAT(Message(), ElementsAre(0x7E, 0x01));

  // Half an echo is no better.
  port.QueueReply({}, 3);
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpEchoMissing);
  EXPECT_THAT(Message(), ElementsAre(0x7E, 0x01));
}

// ---- Receiving ----------------------------------------------------------------------------

TEST_F(KwpTest, AllFourResponseHeaderForms) {
  struct Case {
    std::vector<uint8_t> frame;
    int32_t length;
  };
  const std::vector<Case> cases = {
      {WithSum({0x02, 0x61, 0x01}), 2},                    // length in the format byte
      {WithSum({0x00, 0x02, 0x61, 0x01}), 2},              // 00 L
      {WithSum({0x80, 0xF1, 0x10, 0x02, 0x61, 0x01}), 2},  // 80 T S L
      {WithSum({0x82, 0xF1, 0x10, 0x61, 0x01}), 2},        // 8L T S
      {WithSum({0xC2, 0xF1, 0x10, 0x61, 0x01}), 2},        // other address bits
      {WithSum({0x42, 0xF1, 0x10, 0x61, 0x01}), 2},
  };
  for (const Case& c : cases) {
    port.QueueReply(c.frame);
    EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive) << int(c.frame[0]);
    EXPECT_EQ(link.ResponseDataLength, c.length);
    EXPECT_THAT(Message(), ElementsAre(0x61, 0x01));
    EXPECT_THAT(Vec(link.ResponseFrame.data(), c.frame.size()), ElementsAreArray(c.frame));
    EXPECT_EQ(port.PendingInput(), 0u);
  }
}

TEST_F(KwpTest, LongestAnswerFitsTheBuffers) {
  std::vector<uint8_t> frame{0x80, 0xF1, 0x10, 0xFF, 0x61};
  for (int i = 1; i < 255; ++i) frame.push_back(static_cast<uint8_t>(i));
  port.QueueReply(WithSum(frame));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(link.ResponseDataLength, 255);
  EXPECT_EQ(link.ResponseBuffer[0], 0x61);
  EXPECT_EQ(link.ResponseBuffer[254], 254);
}

TEST_F(KwpTest, IncompleteFramesKeepThePreviousMessage) {
  PrimeWithTesterPresent();

  // No answer at all: the length of the last answer stays.
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpNoResponse);
  EXPECT_EQ(link.ResponseDataLength, 2);

  port.QueueReply({0x80, 0xF1, 0x10});  // length byte missing
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpHeader80Short);
  EXPECT_EQ(link.ResponseDataLength, 0);
  EXPECT_EQ(link.ResponseBuffer[0], 0x7E);

  port.QueueReply({0x80});  // target already missing
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpHeader80Short);

  port.QueueReply({0x00});
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpHeader00Short);
  EXPECT_EQ(link.ResponseDataLength, 0);
  EXPECT_EQ(link.ResponseBuffer[0], 0x7E);

  port.QueueReply({0x84, 0xF1, 0x10, 0x61, 0x01});  // two message bytes and the sum missing
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpBodyShort);
  EXPECT_EQ(link.ResponseDataLength, 4);
  EXPECT_EQ(link.ResponseBuffer[0], 0x7E);
  EXPECT_EQ(link.ResponseBuffer[1], 0x01);

  port.QueueReply({0x82, 0xF1, 0x10, 0x61, 0x01});  // only the checksum missing
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpBodyShort);
  EXPECT_EQ(link.ResponseBuffer[0], 0x7E);
}

TEST_F(KwpTest, ChecksumOffByOneLeavesBufferUnchanged) {
  PrimeWithTesterPresent();
  for (int delta : {1, -1}) {
    std::vector<uint8_t> frame = EcuFrame({0x61, 0x01, 0x55});
    frame.back() = static_cast<uint8_t>(frame.back() + delta);
    port.QueueReply(frame);
    EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpBadChecksum);
    EXPECT_EQ(link.ResponseDataLength, 3);  // the new frame's length
    EXPECT_EQ(link.ResponseBuffer[0], 0x7E);
    EXPECT_EQ(link.ResponseBuffer[1], 0x01);
  }
}

TEST_F(KwpTest, PositiveUnexpectedAndNegativeAnswers) {
  port.QueueReply(EcuFrame({0x50, 0x81}));
  EXPECT_EQ(link.KwpTransaction({0x10, 0x81, 0x0A}), kKwpPositive);
  port.QueueReply(EcuFrame({0x51, 0x01}));
  EXPECT_EQ(link.KwpTransaction({0x10, 0x81, 0x0A}), kKwpUnexpected);
  EXPECT_THAT(Message(), ElementsAre(0x51, 0x01));  // the answer stays for the caller

  port.QueueReply(EcuFrame({0x7F, 0x21, 0x12}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpNegative);
  EXPECT_EQ(link.ResponseBuffer[2], 0x12);
  EXPECT_EQ(port.Writes().size(), 3u);

  // 78 in byte 2 but byte 1 names another service: judged by byte 1 (3E).
  port.QueueReply(EcuFrame({0x7F, 0x3E, 0x78}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpNegative);
  EXPECT_EQ(port.Writes().size(), 4u);
}

TEST_F(KwpTest, ShortAnswersAreNotJudgedByLeftovers) {
  // A previous busy-looking answer must not make an empty or cut answer look busy.
  port.QueueReply(EcuFrame({0x7F, 0x21, 0x21, 0x99}));
  port.QueueReply(EcuFrame({0x61, 0x01}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);

  port.QueueReply(WithSum({0x00, 0x00}));  // message of no bytes
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpUnexpected);
  EXPECT_EQ(link.ResponseDataLength, 0);
  EXPECT_EQ(port.Writes().size(), 3u);

  port.QueueReply(EcuFrame({0x7F, 0x21}));  // negative answer without its code
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpNegative);
  EXPECT_EQ(link.ResponseBuffer[2], 0x00);
  EXPECT_EQ(link.ResponseBuffer[3], 0x00);
  EXPECT_EQ(port.Writes().size(), 4u);
}

// ---- Busy and pending ---------------------------------------------------------------------

TEST_F(KwpTest, BusyAnswersResendUntilTheSixthEndsWithFour) {
  for (int i = 0; i < 6; ++i) port.QueueReply(EcuFrame({0x7F, 0x21, 0x21}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}, 0, 20), kKwpTooManyBusy);
  const auto writes = port.EventsOf(Kind::Write);
  ASSERT_EQ(writes.size(), 6u);
  for (const auto& w : writes)
    EXPECT_THAT(w.bytes, ElementsAre(0x82, 0x10, 0xF1, 0x21, 0x01, 0xA5));
  // Every resend is purged and delayed again: 20 ms + 5 ms answer time per round.
  for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(writes[i].atUs - writes[i - 1].atUs, 25000u);
  EXPECT_EQ(port.EventsOf(Kind::Purge).size(), 6u);
  EXPECT_THAT(Message(), ElementsAre(0x7F, 0x21, 0x21));
}

TEST_F(KwpTest, FiveBusyAnswersAreAbsorbed) {
  port.QueueReply(EcuFrame({0x7F, 0x21, 0x77}));
  for (int i = 0; i < 4; ++i) port.QueueReply(EcuFrame({0x7F, 0x21, 0x21}));
  port.QueueReply(EcuFrame({0x61, 0x01, 0x02}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(port.Writes().size(), 6u);
}

TEST_F(KwpTest, SixthNegativeOfAnyKindEndsWithFour) {
  for (int i = 0; i < 5; ++i) port.QueueReply(EcuFrame({0x7F, 0x21, 0x21}));
  port.QueueReply(EcuFrame({0x7F, 0x21, 0x31}));
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpTooManyBusy);
  EXPECT_EQ(link.ResponseBuffer[2], 0x31);
}

TEST_F(KwpTest, BusyStartCommunicationWakesAgain) {
  port.QueueReply(EcuFrame({0x7F, 0x81, 0x21}), FakePort::kFullEcho, 30);
  port.QueueReply(EcuFrame({0xC1, 0xEF, 0x8F}), FakePort::kFullEcho, 30);
  EXPECT_EQ(link.KwpTransaction({0x81}), kKwpPositive);
  EXPECT_EQ(port.EventsOf(Kind::Break).size(), 4u);
  EXPECT_EQ(port.Writes().size(), 2u);
}

TEST_F(KwpTest, PendingAnswerWaitsWithoutResending) {
  std::vector<uint8_t> answer = EcuFrame({0x7F, 0x21, 0x78});
  const std::vector<uint8_t> real = EcuFrame({0x61, 0x01, 0x42});
  answer.insert(answer.end(), real.begin(), real.end());
  port.QueueReply(answer);
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(port.Writes().size(), 1u);
  EXPECT_EQ(port.EventsOf(Kind::Purge).size(), 1u);
  EXPECT_THAT(Message(), ElementsAre(0x61, 0x01, 0x42));
}

TEST_F(KwpTest, PendingThatNeverEndsGivesFour) {
  std::vector<uint8_t> answer;
  for (int i = 0; i < 6; ++i) {
    const auto f = EcuFrame({0x7F, 0x21, 0x78});
    answer.insert(answer.end(), f.begin(), f.end());
  }
  port.QueueReply(answer);
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpTooManyBusy);
  EXPECT_EQ(port.Writes().size(), 1u);
}

TEST_F(KwpTest, PendingFollowedBySilenceIsNoResponse) {
  port.QueueReply(EcuFrame({0x7F, 0x21, 0x78}));
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpNoResponse);
  EXPECT_EQ(clock.MicrosNow() - t0, 5000u + 105000u);
  EXPECT_THAT(Message(), ElementsAre(0x7F, 0x21, 0x78));
}

// ---- Retries ------------------------------------------------------------------------------

TEST_F(KwpTest, RetryWaitsNothingFourTimesThen150) {
  // The echo comes back but the ECU is silent: each attempt ends after 105 ms.
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.KwpRetry({0x21, 0x01}), kKwpNoResponse);
  const auto writes = port.EventsOf(Kind::Write);
  ASSERT_EQ(writes.size(), 5u);
  std::vector<double> at;
  for (const auto& w : writes) at.push_back(Ms(w.atUs - t0));
  EXPECT_THAT(at, ElementsAre(0, 105, 210, 315, 420 + 150));
}

TEST_F(KwpTest, RetryStopsAtFirstSuccessAndReportsTheLastResult) {
  port.QueueReply(EcuFrame({0x7F, 0x21, 0x12}));
  port.QueueReply(EcuFrame({0x61, 0x01}));
  EXPECT_EQ(link.KwpRetry({0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(port.Writes().size(), 2u);

  port.ClearEvents();
  for (int i = 0; i < 5; ++i) port.QueueReply(EcuFrame({0x7F, 0x21, 0x12}));
  EXPECT_EQ(link.KwpRetry({0x21, 0x01}), kKwpNegative);
  EXPECT_EQ(port.Writes().size(), 5u);
}

TEST_F(KwpTest, IoWrappersSendTheirRequestsWith50And150) {
  const uint64_t t0 = clock.MicrosNow();
  EXPECT_EQ(link.IoReportCurrentState(0x09), kKwpNoResponse);
  const auto writes = port.EventsOf(Kind::Write);
  ASSERT_EQ(writes.size(), 5u);
  std::vector<double> at;
  for (const auto& w : writes) at.push_back(Ms(w.atUs - t0));
  EXPECT_THAT(at, ElementsAre(50, 205, 360, 515, 620 + 150));
  EXPECT_THAT(writes[0].bytes, ElementsAre(0x83, 0x10, 0xF1, 0x30, 0x09, 0x01, 0xBE));

  port.ClearEvents();
  port.QueueReply(EcuFrame({0x70, 0x09, 0x00}));
  EXPECT_EQ(link.IoReturnControlToEcu(0x09), kKwpPositive);
  EXPECT_EQ(Vec(link.RequestFrame.data() + 3, 3), (std::vector<uint8_t>{0x30, 0x09, 0x00}));
  port.QueueReply(EcuFrame({0x70, 0x0A, 0x07, 0x80}));
  EXPECT_EQ(link.IoShortTermAdjustment(0x0A, 0x80), kKwpPositive);
  EXPECT_EQ(Vec(link.RequestFrame.data() + 3, 4), (std::vector<uint8_t>{0x30, 0x0A, 0x07, 0x80}));
  port.QueueReply(EcuFrame({0x7F, 0x30, 0x31}));
  port.QueueReply(EcuFrame({0x70, 0x0B, 0x06, 0x01}));
  EXPECT_EQ(link.IoExecuteControlOption(0x0B, 0x01), kKwpPositive);
  EXPECT_EQ(Vec(link.RequestFrame.data() + 3, 4), (std::vector<uint8_t>{0x30, 0x0B, 0x06, 0x01}));
  EXPECT_EQ(port.Writes().size(), 4u);
}

// ---- Hostile lines ------------------------------------------------------------------------

TEST_F(KwpTest, RandomAnswersNeverOverrunOrHang) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> len(0, 300);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> junk(static_cast<size_t>(len(rng)));
    for (auto& b : junk) b = static_cast<uint8_t>(byte(rng));
    // Several replies, in case the junk looks busy and the transaction sends again.
    for (int i = 0; i < 6; ++i) port.QueueReply(junk);
    const int32_t r = link.KwpTransaction({0x21, 0x01});
    EXPECT_TRUE(r >= -7 && r <= 4 && r != -4 && r != -2) << r;
    EXPECT_GE(link.ResponseDataLength, 0);
    EXPECT_LE(link.ResponseDataLength, 255);
    while (port.UnusedReplies() > 0) port.WriteBytes(1, link.RequestFrame.data());
    port.PurgePort();
    clock.AdvanceMs(1000);
    port.ClearEvents();
  }
}

}  // namespace
}  // namespace kvd

namespace kvd {
namespace {

using test::EcuFrame;
using test::FakePort;
using Kind = FakePort::Kind;

// ---- The wait hook ------------------------------------------------------------------------

// Where the hook runs, by the number of port events before it, and what it may never split:
// the break, the 25 ms after it and the frame, and the echo of a wake-up and its drain.
TEST(KwpWaitHook, RunsAfterEveryWaitButNeverInsideTheWakeUp) {
  VirtualClock clock;
  FakePort port(clock);
  KwpLink link(port, clock);
  link.TargetAddress = 0x10;
  port.SetReadTimeouts(0, 5, 100);
  port.ClearEvents();
  std::vector<size_t> calls;  // number of port events when the hook ran
  link.WaitHook = [&] {
    calls.push_back(port.Events().size());
    return true;
  };
  port.QueueReply(EcuFrame({0xC1, 0x6B, 0x8F}), FakePort::kFullEcho, 30);
  ASSERT_EQ(link.KwpTransaction({0x81}, 0, 1), kKwpPositive);
  port.QueueReply(EcuFrame({0x61, 0x01, 0xAA}));
  ASSERT_EQ(link.KwpTransaction({0x21, 0x01}), kKwpPositive);

  const auto& ev = port.Events();
  size_t breakOn = 0, write = 0, drain = 0;
  for (size_t i = 0; i < ev.size(); ++i) {
    if (ev[i].kind == Kind::Break && ev[i].on) breakOn = i;
    if (ev[i].kind == Kind::Write && write == 0) write = i;
    if (ev[i].kind == Kind::SetTimeouts && ev[i].timeouts.ReadTotalTimeoutConstant == 1) drain = i;
  }
  ASSERT_TRUE(breakOn && write && drain);
  for (size_t at : calls) {
    EXPECT_FALSE(at > breakOn && at <= write) << "between the break and the frame, at " << at;
    EXPECT_FALSE(at > write && at <= drain + 1) << "between the echo and the drain, at " << at;
  }
  // After the delay, the idle time, the drain, each of the 3 + 4 answer bytes; then after
  // the delay, each of the 6 echo bytes and each of the 7 answer bytes.
  EXPECT_EQ(calls.size(), 3u + 7u + 1u + 6u + 7u);
}

// A hook that says stop at its n-th call ends the transaction there, with the port as the
// caller left it and nothing sent after the moment.
TEST(KwpWaitHook, StopAtAnyPointEndsTheTransactionCleanly) {
  for (const bool wakeUp : {true, false}) {
    for (int stopAt = 1; stopAt <= (wakeUp ? 10 : 14); ++stopAt) {
      SCOPED_TRACE((wakeUp ? "StartCommunication, stop at call " : "21 01, stop at call ") +
                   std::to_string(stopAt));
      VirtualClock clock;
      FakePort port(clock);
      KwpLink link(port, clock);
      link.TargetAddress = 0x10;
      port.SetReadTimeouts(0, 5, 100);
      int calls = 0;
      size_t writesAtStop = 0;
      link.WaitHook = [&] {
        if (++calls < stopAt) return true;
        writesAtStop = port.Writes().size();
        return false;
      };
      // Busy first, so that a resend would show as a second write.
      port.QueueReply(EcuFrame(wakeUp ? std::vector<uint8_t>{0x7F, 0x81, 0x21}
                                      : std::vector<uint8_t>{0x7F, 0x21, 0x21}));
      const int32_t result =
          wakeUp ? link.KwpTransaction({0x81}, 0, 1) : link.KwpRetry(KwpRequest{0x21, 0x01});
      EXPECT_EQ(result, kKwpCancelled);
      EXPECT_EQ(calls, stopAt);  // KwpRetry does not try again after a stop
      EXPECT_EQ(port.Writes().size(), writesAtStop);
      EXPECT_FALSE(port.BreakHeld());
      EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutMultiplier, 5u);
      EXPECT_EQ(port.CurrentTimeouts().ReadTotalTimeoutConstant, 100u);
    }
  }
}

}  // namespace
}  // namespace kvd
