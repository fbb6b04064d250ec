// SPDX-License-Identifier: GPL-3.0-or-later
// Learn memory: cell texts, the saved table, and reading the banks from the virtual ECU.
#include "ecu/learn_memory.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <vector>

#include "data/data_file.h"
#include "data/test_util.h"
#include "ecu/ctrl_rig.h"

namespace kvd::test {
namespace {

TEST(LearnCellText, FactorRoundedToTwoSignificantDigits) {
  struct Case {
    uint8_t byte;
    const char* point;
    const char* comma;
  };
  const Case cases[] = {
      {0x00, "0.500", "0,500"}, {0x20, "0.630", "0,630"},  // 0.625, a tie, rounds up
      {0x41, "0.750", "0,750"}, {0x43, "0.760", "0,760"}, {0x7F, "1.000", "1,000"},
      {0x80, "1.000", "1,000"}, {0xA0, "1.100", "1,100"},  // 1.125
      {0xC0, "1.300", "1,300"},                            // 1.25, a tie
      {0xFF, "1.500", "1,500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(LearnCellText(c.byte, '.'), c.point);
    EXPECT_EQ(LearnCellText(c.byte, ','), c.comma);
  }
  // Every byte gives a factor within 0.5 .. 1.5 with exactly three decimals.
  for (int b = 0; b < 256; ++b) {
    const std::string t = LearnCellText(static_cast<uint8_t>(b), '.');
    ASSERT_EQ(t.size(), 5u) << b;
    const double v = std::stod(t);
    EXPECT_LE(std::abs(v - (b + 128) / 256.0), 0.0501) << b;
  }
}

TEST(LearnTableText, SeventeenLinesOfSeventeenTabTerminatedFields) {
  LearnTable t{};
  t.fill(0x80);
  t[0] = 0xFF;
  t[1] = 0x00;
  t[0x11] = 0x20;  // column 2, row 2: speed 720, load 58
  const std::string text = LearnTableText(t, ',', "\r\n");

  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0],
            "###\t600\t720\t840\t990\t1170\t1380\t1650\t1950\t2310\t2730\t3210\t3840\t4530\t"
            "5370\t6360\t7500\t");
  EXPECT_EQ(lines[1].rfind("30\t1,500\t0,500\t1,000\t", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("58\t1,000\t0,630\t1,000\t", 0), 0u) << lines[2];
  EXPECT_EQ(lines[16].rfind("450\t", 0), 0u);
  for (const std::string& line : lines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 17) << line;
    EXPECT_EQ(line.back(), '\t');
  }
}

TEST(WriteLearnFile, WindowsTextReplacingTheTargetOrAClearError) {
  kvdtest::ScratchDir dir;
  LearnTable t{};
  t.fill(0x80);
  const auto file = dir / "blm.txt";
  { std::ofstream(file) << "old"; }
  WriteLearnFile(file, t, '.');
  const std::string bytes = kvdtest::ReadAll(file);
  EXPECT_EQ(bytes, LearnTableText(t, '.', "\r\n"));
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 17);
  // Nothing but the renamed file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);

  const auto missing = dir / "no-such-folder" / "blm.txt";
  try {
    WriteLearnFile(missing, t, '.');
    FAIL() << "no error for a file that cannot be created";
  } catch (const DataFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Ошибка при создании файла " + PathText(missing));
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(LearnBlockOfAnswer, TakesOnlyAWholeBlockOfTheRightService) {
  std::vector<uint8_t> good(65);
  good[0] = 0x63;
  for (size_t i = 1; i < good.size(); ++i) good[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> longer = good;
  longer.push_back(0xEE);
  std::vector<uint8_t> shortAnswer(good.begin(), good.end() - 1);
  std::vector<uint8_t> wrongService = good;
  wrongService[0] = 0x61;
  const std::vector<uint8_t> refusal = {0x7F, 0x23, 0x31};
  const std::vector<uint8_t> empty;
  struct Case {
    const char* name;
    const std::vector<uint8_t>& answer;
    bool taken;
  };
  const Case cases[] = {{"good", good, true},          {"longer", longer, true},
                        {"short", shortAnswer, false}, {"wrong service", wrongService, false},
                        {"refusal", refusal, false},   {"empty", empty, false}};
  for (const Case& c : cases) {
    std::array<uint8_t, kLearnBlockSize> block;
    block.fill(0xAA);
    EXPECT_EQ(LearnBlockOfAnswer(c.answer, block), c.taken) << c.name;
    for (size_t i = 0; i < block.size(); ++i)
      ASSERT_EQ(block[i], c.taken ? i + 1 : 0xAA) << c.name << " byte " << i;
  }
}

TEST(LearnCaption, NamesTheBank) {
  EXPECT_EQ(LearnCaption(1), "Память обучения, банк 1");
  EXPECT_EQ(LearnCaption(2), "Память обучения, банк 2");
  EXPECT_EQ(LearnBankBase(1), 0xFD00);
  EXPECT_EQ(LearnBankBase(2), 0xFE00);
}

class LearnReadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig.ConnectByTick()); }
  CtrlRig rig;
};

TEST_F(LearnReadTest, BothBanksInFourBlocksEach) {
  for (int bank : {1, 2}) {
    SCOPED_TRACE(bank);
    LearnTable table{};
    const uint8_t hi = bank == 1 ? 0xFD : 0xFE;
    const auto sent =
        rig.Sent([&] { EXPECT_TRUE(ReadLearnMemory(rig.session, rig.ecuUi, bank, table)); });
    EXPECT_EQ(sent, (std::vector<Bytes>{{0x23, 0x00, hi, 0x00, 0x40},
                                        {0x23, 0x00, hi, 0x40, 0x40},
                                        {0x23, 0x00, hi, 0x80, 0x40},
                                        {0x23, 0x00, hi, 0xC0, 0x40}}));
    for (int k = 0; k < kLearnBankSize; ++k)
      ASSERT_EQ(table[static_cast<size_t>(k)],
                rig.ecu.LearnByte(static_cast<uint16_t>(hi * 256 + k)))
          << k;
    EXPECT_TRUE(rig.session.PollEnabled);
    EXPECT_FALSE(rig.ecuUi.busy);
  }
  EXPECT_TRUE(rig.ecuUi.messages.empty());
}

TEST_F(LearnReadTest, FailedBlockKeepsTheOldTableAndTheSession) {
  struct Case {
    const char* name;
    void (*fault)(EcuFaults&);
    size_t requests;  // requests sent before the read gave up
  };
  const Case cases[] = {
      {"refused", [](EcuFaults& f) { f.refuseService = 0x23; }, 5},
      {"short answer", [](EcuFaults& f) { f.shortMemRead = true; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.ecu.Faults() = EcuFaults{};
    c.fault(rig.ecu.Faults());
    LearnTable table{};
    table.fill(0x5A);
    rig.ecuUi.messages.clear();
    const auto sent =
        rig.Sent([&] { EXPECT_FALSE(ReadLearnMemory(rig.session, rig.ecuUi, 1, table)); });
    EXPECT_EQ(sent.size(), c.requests);
    EXPECT_EQ(rig.ecuUi.messages, std::vector<std::string>{kLearnReadFailedText});
    for (uint8_t b : table) ASSERT_EQ(b, 0x5A);
    EXPECT_TRUE(rig.session.Connected);
    EXPECT_TRUE(rig.session.PollEnabled);
    EXPECT_FALSE(rig.ecuUi.busy);
  }
}

TEST_F(LearnReadTest, ShortAnswerAfterGoodBlocksNeverShowsTheirBytes) {
  // Blocks 1 and 2 come whole, then the ECU starts to answer short: the third block's
  // answer must not be filled up with the second block's bytes.
  LearnTable table{};
  int32_t blocks = 0;
  rig.ecu.OnFrame = [&](const EcuFrameEvent& e) {
    if (e.fromTester && e.frame.size() > 4 && e.frame[3] == 0x23 && ++blocks == 3)
      rig.ecu.Faults().shortMemRead = true;
  };
  EXPECT_EQ(ReadLearnBank(rig.session, 2, table), kKwpUnexpected);
  for (uint8_t b : table) ASSERT_EQ(b, 0);
}

TEST_F(LearnReadTest, SilentEcuEndsTheReadNotTheSession) {
  rig.ecu.Faults().refuseService = 0x23;
  rig.ecu.Faults().refuseCode = 0;  // no answer at all
  LearnTable table{};
  EXPECT_LT(ReadLearnBank(rig.session, 1, table), 0);
  EXPECT_TRUE(rig.session.Connected);
  rig.ecu.Faults() = EcuFaults{};
  EXPECT_EQ(ReadLearnBank(rig.session, 1, table), kKwpPositive);
}

}  // namespace
}  // namespace kvd::test
