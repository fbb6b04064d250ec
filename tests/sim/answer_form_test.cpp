// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual ECU as a third-party tester meets it: the header form of its answers, the address
// they go to, which services the busy and pending faults touch, and when its noise comes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sim/ecu_sim_options.h"
#include "sim_fixture.h"

namespace kvd::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<uint8_t> Head(const KwpLink& link, size_t n) {
  return {link.ResponseFrame.begin(), link.ResponseFrame.begin() + static_cast<ptrdiff_t>(n)};
}

// Every form of the answers reaches the program's own link: the session, live data, a long
// memory read and a trouble-code read, each with the header the form asks for.
TEST_F(SimTest, EveryAnswerHeaderFormIsReadByTheLink) {
  const struct {
    const char* option;
    std::vector<uint8_t> shortHead;  // of TesterPresent's answer 7E (one message byte)
    std::vector<uint8_t> longHead;   // of a 65-byte memory read
  } forms[] = {
      {"addr", {0x81, 0xF1, 0x10}, {0x80, 0xF1, 0x10, 0x41}},
      {"80", {0x80, 0xF1, 0x10, 0x01}, {0x80, 0xF1, 0x10, 0x41}},
      {"00", {0x00, 0x01}, {0x00, 0x41}},
      {"short", {0x01}, {0x00, 0x41}},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.option);
    EcuSimOptions o;
    std::string error;
    ASSERT_TRUE(ParseEcuSimOptions({"--header-form", f.option}, o, error)) << error;
    ecu.Settings().answerHeader = o.settings.answerHeader;
    clock.Sleep(6000);  // the previous session times out
    Connect();
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive);
    EXPECT_EQ(Head(link, f.shortHead.size()), f.shortHead);
    EXPECT_THAT(Answer(), ElementsAre(0x7E));
    ASSERT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpPositive);
    EXPECT_EQ(link.ResponseDataLength, 36);
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x23, 0x00, 0xFD, 0x00, 0x40}), kKwpPositive);
    EXPECT_EQ(Head(link, f.longHead.size()), f.longHead);
    EXPECT_EQ(link.ResponseDataLength, 65);
    EXPECT_EQ(link.ResponseBuffer[1], ecu.LearnByte(0xFD00));
    ASSERT_EQ(link.KwpRetry(KwpRequest{0x18, 0x00, 0x00, 0x00}), kKwpPositive);
    EXPECT_EQ(link.ResponseBuffer[0], 0x58);
  }
}

TEST_F(SimTest, RotatingHeaderFormTakesTheFourFormsInTurn) {
  ecu.Settings().answerHeader = AnswerHeader::kRotate;
  Connect();  // three answers: addr, 80, 00
  std::vector<uint8_t> firstBytes;
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(link.KwpTransaction(KwpRequest{0x3E, 0x01}), kKwpPositive) << i;
    firstBytes.push_back(link.ResponseFrame[0]);
  }
  EXPECT_THAT(firstBytes, ElementsAre(0x01, 0x81, 0x80, 0x00, 0x01, 0x81, 0x80, 0x00));
}

// The answer goes to the tester that asked; a request without addresses is answered to the
// last tester that gave its address.
TEST_F(SimTest, AnswersAreAddressedToTheSourceOfTheRequest) {
  Connect();
  const struct {
    std::vector<uint8_t> request;  // without checksum
    std::vector<uint8_t> head;     // of the answer 7E
  } cases[] = {
      {{0x82, 0x10, 0xF0, 0x3E, 0x01}, {0x81, 0xF0, 0x10, 0x7E}},
      {{0xC2, 0x33, 0x13, 0x3E, 0x01}, {0x81, 0x13, 0x10, 0x7E}},  // functional address
      {{0x02, 0x3E, 0x01}, {0x81, 0x13, 0x10, 0x7E}},              // no addresses
      {{0x80, 0x10, 0xF1, 0x02, 0x3E, 0x01}, {0x81, 0xF1, 0x10, 0x7E}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> frame = c.request;
    uint8_t sum = 0;
    for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
    frame.push_back(sum);
    const std::vector<uint8_t> got = WriteAndCollect(frame, 150);
    ASSERT_EQ(got.size(), frame.size() + c.head.size() + 1);
    EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), got.begin() + frame.size()))
        << "request from " << int(c.request[2]);
    clock.Sleep(60);
  }
  // The program's own requests still get their answers.
  ASSERT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpPositive);
  EXPECT_EQ(link.ResponseFrame[1], 0xF1);
}

// Busy and pending answers are for the data services; the services of the link itself answer
// at once, as testers expect of StartCommunication.
TEST_F(SimTest, BusyAndPendingFaultsLeaveTheLinkServicesAlone) {
  std::vector<std::pair<uint8_t, std::string>> negatives;  // service refused, note
  size_t plain = 0;
  ecu.OnFrame = [&](const EcuFrameEvent& e) {
    if (e.fromTester || e.frame.size() < 5) return;
    // Address form: 80+L, F1, 10, then the message; 7F answers name the service next.
    if (e.frame[3] == 0x7F) {
      negatives.push_back({e.frame[4], e.note});
    } else {
      ++plain;
    }
  };
  ecu.Faults().busyAnswers = 2;
  ecu.Faults().pendingAnswers = 1;
  Connect();
  ASSERT_EQ(link.KwpRetry(KwpRequest{0x21, 0x01}), kKwpPositive);
  ASSERT_EQ(link.KwpTransaction(KwpRequest{0x82}), kKwpPositive);
  auto notesOf = [&](uint8_t service) {
    std::vector<std::string> notes;
    for (const auto& [sid, note] : negatives)
      if (sid == service) notes.push_back(note);
    return notes;
  };
  EXPECT_TRUE(notesOf(0x81).empty());
  EXPECT_TRUE(notesOf(0x3E).empty());
  EXPECT_TRUE(notesOf(0x82).empty());
  EXPECT_THAT(notesOf(0x21), ElementsAre("busy", "busy", "pending"));
  EXPECT_THAT(notesOf(0x10), ElementsAre("busy", "busy", "pending"));
  EXPECT_EQ(plain, 5u);  // C1, 50, 7E, 61, C2
}

// Noise after a session never falls into the quiet gap after the ECU's last answer, and comes
// after each kind of end: StopCommunication, ECUReset and the P3 time-out.
TEST_F(SimTest, NoiseAfterEverySessionKeepsTheGapAfterTheLastAnswer) {
  const struct {
    const char* name;
    std::vector<uint8_t> request;  // empty: no request, the session times out
  } ends[] = {{"StopCommunication", {0x82}}, {"ECUReset", {0x11, 0x01}}, {"time-out", {}}};
  ecu.Faults().noiseBytes = 12;
  for (const auto& end : ends) {
    SCOPED_TRACE(end.name);
    uint64_t lastAnswerEnd = 0;
    uint64_t noiseAt = 0;
    ecu.OnFrame = [&](const EcuFrameEvent& e) {
      if (e.fromTester) return;
      if (e.note == "noise") {
        noiseAt = e.atUs;
      } else if (!e.frame.empty()) {
        lastAnswerEnd = ByteEndMicros(e.atUs, e.frame.size() - 1);
      }
    };
    Connect();
    if (!end.request.empty()) {
      ASSERT_EQ(link.KwpTransaction(KwpRequest(end.request)), kKwpPositive);
    }
    // The tester listens for ten seconds: the burst arrives, whole, and nothing else.
    line.SetReadTimeouts(0, 0, 10'000);
    uint8_t buf[256];
    EXPECT_EQ(line.ReadBytes(256, buf), 12);
    line.SetReadTimeouts(0, 5, 100);
    EXPECT_FALSE(ecu.SessionOpen());
    ASSERT_NE(noiseAt, 0u);
    // Well clear of P2max (50 ms), while the tester may still wait for another frame.
    EXPECT_GE(noiseAt, lastAnswerEnd + 80'000);
    if (end.request.empty()) {
      // At the time-out, 5 s after the last answer.
      EXPECT_LT(noiseAt, lastAnswerEnd + 5'000'000 + 100'000);
    } else {
      EXPECT_LT(noiseAt, lastAnswerEnd + 100'000);
    }
  }
}

TEST(EcuSimOptionsTest, HeaderFormSwitch) {
  const struct {
    const char* text;
    bool ok;
    AnswerHeader form;
  } cases[] = {
      {"addr", true, AnswerHeader::kAddress},  {"80", true, AnswerHeader::k80},
      {"00", true, AnswerHeader::k00},         {"short", true, AnswerHeader::kShort},
      {"rotate", true, AnswerHeader::kRotate}, {"0", false, AnswerHeader::kAddress},
      {"ADDR", false, AnswerHeader::kAddress}, {"", false, AnswerHeader::kAddress},
  };
  for (const auto& c : cases) {
    EcuSimOptions o;
    std::string error;
    EXPECT_EQ(ParseEcuSimOptions({"--header-form", c.text}, o, error), c.ok) << c.text;
    EXPECT_EQ(o.settings.answerHeader, c.form) << c.text;
    if (!c.ok) {
      EXPECT_NE(error.find("--header-form"), std::string::npos) << c.text;
    }
  }
  EcuSimOptions o;
  std::string error;
  EXPECT_FALSE(ParseEcuSimOptions({"--header-form"}, o, error));
  EXPECT_NE(EcuSimUsage().find("--header-form"), std::string::npos);
}

}  // namespace
}  // namespace kvd::test
