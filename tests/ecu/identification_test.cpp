// SPDX-License-Identifier: GPL-3.0-or-later
// Identification: the eleven reads, the dialog's data, padding and the five writes.
#include "ecu/identification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "data/cp1251.h"
#include "ident_rig.h"
#include "link/kwp.h"

namespace kvd::test {
namespace {

const std::vector<Bytes> kReads = {{0x21, 0xA1}, {0x21, 0xA2}, {0x21, 0xA3}, {0x1A, 0x90},
                                   {0x1A, 0x91}, {0x1A, 0x92}, {0x1A, 0x94}, {0x1A, 0x97},
                                   {0x1A, 0x98}, {0x1A, 0x99}, {0x1A, 0x9A}};
constexpr size_t kVin = 3;

// The dialog: remembers what it was shown and answers with a script.
class ScriptedEditor final : public IdentEditor {
 public:
  std::function<std::optional<IdentValues>(const IdentValues&)> answer;
  std::vector<IdentValues> shown;
  bool pollEnabledWhileShown = false;
  DiagSession* session = nullptr;

  std::optional<IdentValues> EditIdentification(const IdentValues& values) override {
    shown.push_back(values);
    pollEnabledWhileShown = session && session->PollEnabled;
    return answer ? answer(values) : std::nullopt;
  }
};

Bytes Write(uint8_t id, const std::string& text) {
  Bytes b(2 + text.size());
  b[0] = 0x3B;
  b[1] = id;
  std::copy(text.begin(), text.end(), b.begin() + 2);
  return b;
}

class IdentificationTest : public IdentTest {
 protected:
  void SetUp() override {
    IdentTest::SetUp();
    editor.session = &rig.session;
  }
  std::string Record(uint8_t service, uint8_t id) {
    const std::vector<uint8_t>* v = rig.ecu.IdentValue(service, id);
    return v ? std::string(v->begin(), v->end()) : std::string("<none>");
  }
  int32_t Run() { return RunIdentification(rig.session, ui, editor); }

  ScriptedEditor editor;
};

TEST(IdentValueOfAnswer, TakesTheBytesAfterServiceAndIdentifierNeverANegativeLength) {
  struct Case {
    Bytes answer;
    std::string value;
  };
  const Case cases[] = {
      {{}, ""},
      {{0x5A}, ""},  // a positive answer of one byte: no value, not length -1
      {{0x5A, 0x90}, ""},
      {{0x5A, 0x90, 'A'}, "A"},
      {{0x61, 0xA1, '0', 0x00, 0xFF}, std::string("0\0\xFF", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(IdentValueOfAnswer(c.answer), c.value);
}

TEST(PadIdentValues, PadsWritableTextsToTheReadLengthAndLeavesEmptyRecordsAsTyped) {
  IdentValues asRead{};
  asRead[0] = "1234567";
  asRead[kVin] = std::string(17, 'X');
  asRead[1] = "";  // came back empty: not limited
  IdentValues typed = asRead;
  typed[0] = "12";
  typed[kVin] = std::string(15, 'V');
  typed[1] = "free text";
  const IdentValues padded = PadIdentValues(typed, asRead);
  EXPECT_EQ(padded[0], "12     ");
  EXPECT_EQ(padded[kVin], std::string(15, 'V') + "  ");
  EXPECT_EQ(padded[1], "free text");
  EXPECT_EQ(PadIdentText("abc", 2), "abc");  // longer than the record: left to the request
  EXPECT_EQ(PadIdentText("", 3), "   ");
}

TEST_F(IdentificationTest, ReadsElevenRecordsShowsThemAndOkSendsNothing) {
  const auto sent = Sent([&] { EXPECT_EQ(Run(), kIdentNotSaved); });
  EXPECT_EQ(sent, kReads);
  ASSERT_EQ(editor.shown.size(), 1u);
  const IdentValues& v = editor.shown[0];
  for (size_t i = 0; i < kIdentRecordCount; ++i) {
    const IdentRecordInfo& r = IdentRecordTable()[i];
    EXPECT_EQ(v[i], Record(r.ReadService, r.Id)) << r.Label;
  }
  EXPECT_EQ(v[kVin].size(), 17u);
  EXPECT_TRUE(ui.messages.empty());
  // The poll cycle is held during the reads, given back while the dialog is open.
  EXPECT_EQ(ui.cursorTurns, (std::vector<bool>{true, false}));
  EXPECT_EQ(ui.pollEnabledAtCursor, (std::vector<bool>{false, false}));  // held throughout
  EXPECT_TRUE(editor.pollEnabledWhileShown);
  EXPECT_TRUE(rig.session.PollEnabled);
}

TEST_F(IdentificationTest, RefusedSoftwareNumberStopsAfterSixRecordsWithoutDialog) {
  rig.ecu.Faults().refuseService = 0x1A;
  rig.ecu.Faults().refuseId = 0x94;
  const auto sent = Sent([&] { EXPECT_EQ(Run(), kKwpNegative); });
  std::vector<Bytes> expected(kReads.begin(), kReads.begin() + 6);
  for (int i = 0; i < 5; ++i) expected.push_back({0x1A, 0x94});  // the retries
  EXPECT_EQ(sent, expected);
  EXPECT_TRUE(editor.shown.empty());
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"Связь прервана: ReadDataByLocalIdentifier"}));
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_TRUE(rig.session.PollEnabled);
  EXPECT_EQ(ui.cursorTurns, (std::vector<bool>{true, false}));
}

TEST_F(IdentificationTest, SaveWithoutChangesWritesTheFiveWritableRecordsInOrder) {
  editor.answer = [](const IdentValues& v) { return v; };
  const std::string a1 = Record(0x21, 0xA1), a2 = Record(0x21, 0xA2), a3 = Record(0x21, 0xA3),
                    vin = Record(0x1A, 0x90), parts = Record(0x1A, 0x98);
  const auto sent = Sent([&] { EXPECT_EQ(Run(), kKwpPositive); });
  const std::vector<Bytes> writes(sent.begin() + 11, sent.end());
  EXPECT_EQ(writes, (std::vector<Bytes>{Write(0xA1, a1), Write(0xA2, a2), Write(0xA3, a3),
                                        Write(0x90, vin), Write(0x98, parts)}));
  EXPECT_TRUE(ui.messages.empty());  // no confirmation
  EXPECT_EQ(Record(0x1A, 0x90), vin);
  EXPECT_EQ(ui.cursorTurns, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(ui.pollEnabledAtCursor, (std::vector<bool>(4, false)));
}

TEST_F(IdentificationTest, EditedTextsArePaddedAndEmptyRecordsSentAsTyped) {
  rig.ecu.IdentValue(0x21, 0xA2)->clear();  // engine number came back empty
  const std::string cyrillic = *Utf8ToCp1251Exact("ВАЗ-2111");
  editor.answer = [&](IdentValues v) {
    EXPECT_EQ(v[1], "");
    v[kVin] = "XTA21110012345A";  // 15 of 17
    v[1] = "AB";
    v[8] = cyrillic;
    return std::optional<IdentValues>(v);
  };
  const auto sent = Sent([&] { EXPECT_EQ(Run(), kKwpPositive); });
  ASSERT_EQ(sent.size(), 16u);
  EXPECT_EQ(sent[12], Write(0xA2, "AB"));
  EXPECT_EQ(sent[14], Write(0x90, "XTA21110012345A  "));
  EXPECT_EQ(sent[14].size(), 2u + 17u);
  EXPECT_EQ(sent[15], Write(0x98, cyrillic + "  "));  // "1411020-01" was 10 long
  EXPECT_EQ(Record(0x1A, 0x90), "XTA21110012345A  ");
  EXPECT_EQ(Record(0x21, 0xA2), "AB");
}

TEST_F(IdentificationTest, TextLongerThanARequestHoldsIsCut) {
  rig.ecu.IdentValue(0x21, 0xA1)->clear();
  editor.answer = [](IdentValues v) {
    v[0] = std::string(300, 'Z');
    return std::optional<IdentValues>(v);
  };
  const auto sent = Sent([&] { Run(); });
  ASSERT_GE(sent.size(), 12u);
  EXPECT_EQ(sent[11], Write(0xA1, std::string(kIdentMaxWriteText, 'Z')));
  EXPECT_EQ(sent[11].size(), 255u);
}

TEST_F(IdentificationTest, RefusedWriteStopsWithAdviceAndLeavesLaterRecords) {
  rig.ecu.Faults().refuseService = 0x3B;
  rig.ecu.Faults().refuseId = 0xA3;
  const std::string vin = Record(0x1A, 0x90);
  editor.answer = [](IdentValues v) {
    v[kVin] = "NEWVIN";
    return std::optional<IdentValues>(v);
  };
  const auto sent = Sent([&] { EXPECT_EQ(Run(), kKwpNegative); });
  ASSERT_EQ(sent.size(), 11u + 2u + 5u);
  for (size_t i = 13; i < sent.size(); ++i)
    EXPECT_EQ(Bytes(sent[i].begin(), sent[i].begin() + 2), (Bytes{0x3B, 0xA3}));
  EXPECT_EQ(Record(0x1A, 0x90), vin);  // never written
  EXPECT_EQ(ui.messages,
            (std::vector<std::string>{"Связь прервана: WriteDataByLocalIdentifier\n\nПопробуйте "
                                      "остановить двигатель и повторите попытку."}));
  EXPECT_TRUE(rig.session.Connected);
  EXPECT_TRUE(rig.session.PollEnabled);
}

TEST_F(IdentificationTest, SessionLostWhileDialogOpenWritesNothingAndStaysOffline) {
  editor.answer = [&](const IdentValues& v) {
    rig.session.Disconnect();  // a poll tick lost the link meanwhile
    return std::optional<IdentValues>(v);
  };
  const size_t from = rig.port.writes.size();
  EXPECT_EQ(Run(), kIdentNotOnline);
  for (const Bytes& m : rig.port.MessagesSince(from)) EXPECT_NE(m[0], 0x3B);
  EXPECT_FALSE(rig.session.PollEnabled);  // the next tick must not reconnect by itself
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("Связь прервана: WriteDataByLocalIdentifier", 0), 0u);
}

}  // namespace
}  // namespace kvd::test
