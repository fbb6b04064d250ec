// SPDX-License-Identifier: GPL-3.0-or-later
// The trouble-code list built from ReadDTCByStatus answers and the error mask, and its grid.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ecu/dtc.h"

namespace kvd {
namespace {

using Bytes = std::vector<uint8_t>;

// An answer 58 n with the groups of the codes (status 0xE0); count overrides n when >= 0.
Bytes Answer(const std::vector<uint16_t>& codes, int count = -1) {
  Bytes a{0x58, static_cast<uint8_t>(count >= 0 ? count : static_cast<int>(codes.size()))};
  for (uint16_t c : codes) {
    a.push_back(static_cast<uint8_t>(c >> 8));
    a.push_back(static_cast<uint8_t>(c & 0xFF));
    a.push_back(0xE0);
  }
  return a;
}

struct Shown {
  uint16_t code;
  bool current;
};

struct ListCase {
  const char* name;
  Bytes answer;
  uint32_t mask;
  std::vector<Shown> shown;  // the entries before the first zero code
};

TEST(BuildDtcListTest, EntriesFollowTheAnswerAndTheMask) {
  Bytes truncatedGroup = Answer({0x0130, 0x0325, 0x0505});
  truncatedGroup.pop_back();  // the third group lost its status byte
  const std::vector<ListCase> cases = {
      {"count 0", Answer({}), 0xFFFFFFFF, {}},
      {"no answer bytes", {}, 0xFFFFFFFF, {}},
      {"service byte only", {0x58}, 0, {}},
      {"stored, none current", Answer({0x0130, 0x0325}), 0, {{0x0130, false}, {0x0325, false}}},
      // Bit 0 is P0325, bit 2 P3999, bit 25 P1610, bit 31 P0601.
      {"current by mask bits",
       Answer({0x0130, 0x0325, 0x3999, 0x1610, 0x0601}),
       (1u << 0) | (1u << 2) | (1u << 25) | (1u << 31),
       {{0x0130, false}, {0x0325, true}, {0x3999, true}, {0x1610, true}, {0x0601, true}}},
      {"masked code not reported adds nothing", Answer({0x0130}), 1u << 4, {{0x0130, false}}},
      {"code 0000 ends the list", Answer({0x0130, 0x0000, 0x0325}), 1u, {{0x0130, false}}},
      {"code reported twice: only the first is current",
       Answer({0x0505, 0x0505}),
       1u << 7,
       {{0x0505, true}, {0x0505, false}}},
      // The count byte claims more groups than the answer carries.
      {"count 255 with two groups",
       Answer({0x0130, 0x0325}, 255),
       1u,
       {{0x0130, false}, {0x0325, true}}},
      {"last group incomplete", truncatedGroup, 0, {{0x0130, false}, {0x0325, false}}},
      {"count smaller than the groups", Answer({0x0130, 0x0325}, 1), 1u, {{0x0130, false}}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DtcList list = BuildDtcList(c.answer, c.mask);
    ASSERT_EQ(DtcCount(list), c.shown.size());
    for (size_t k = 0; k < c.shown.size(); ++k) {
      EXPECT_EQ(list[k].Code, c.shown[k].code) << k;
      EXPECT_EQ(list[k].Current, c.shown[k].current ? 1 : 0) << k;
      EXPECT_EQ(list[k].Stored, 1) << k;
    }
    // Nothing was read from beyond the answer: every entry past the codes it holds is zero.
    const size_t held = c.answer.size() < 2 ? 0 : (c.answer.size() - 2) / 3;
    for (size_t k = held; k < list.size(); ++k) EXPECT_EQ(list[k], DtcListEntry{}) << k;
  }
}

TEST(BuildDtcListTest, AFullBufferWithCount255StaysInsideTheAnswer) {
  // The largest answer the link can hold: 256 message bytes, 84 complete groups.
  Bytes a(256, 0x11);
  a[0] = 0x58;
  a[1] = 0xFF;
  const DtcList list = BuildDtcList(a, 0xFFFFFFFF);
  EXPECT_EQ(DtcCount(list), 84u);
  EXPECT_EQ(list[83].Code, 0x1111);
  EXPECT_EQ(list[84], DtcListEntry{});
}

TEST(DtcListTest, CountLooksAtNoMoreThan256Entries) {
  DtcList list{};
  for (DtcListEntry& e : list) e.Code = 0x0130;
  EXPECT_EQ(DtcCount(list), 0u);  // no end mark at all: nothing is shown
  list[3].Code = 0;
  EXPECT_EQ(DtcCount(list), 3u);
}

TEST(DtcListTest, GridRowsCarryTheCellTextsOfTheList) {
  const DtcList list =
      BuildDtcList(Answer({0x0325, 0x3999, 0x1610, 0x0100, 0x1A0F}), (1u << 0) | (1u << 25));
  const std::vector<DtcGridRow> ru = DtcGridRows(list, DtcLanguage::Russian);
  ASSERT_EQ(ru.size(), 6u);
  EXPECT_THAT(ru[0], ::testing::ElementsAre("Ошибка", "Текущая", "Сохр.", "Описание"));
  EXPECT_THAT(ru[1], ::testing::ElementsAre("P0325", "   ДА", "   ДА", "Обрыв датчика детонации"));
  // P3999 and P1610 have no Russian text; P0100 only English and German ones.
  EXPECT_THAT(ru[2], ::testing::ElementsAre("P3999", "     ", "   ДА", ""));
  EXPECT_THAT(ru[3], ::testing::ElementsAre("P1610", "   ДА", "   ДА", ""));
  EXPECT_THAT(ru[4], ::testing::ElementsAre("P0100", "     ", "   ДА", ""));
  EXPECT_EQ(ru[5][0], "P1A0F");  // upper-case hexadecimal digits

  const std::vector<DtcGridRow> en = DtcGridRows(list, DtcLanguage::English);
  EXPECT_EQ(en[4][3], "Mass Air Flow Circuit Malfunction");
  EXPECT_EQ(DtcGridRows(BuildDtcList(Answer({}), 0xFFFFFFFF), DtcLanguage::Russian).size(), 1u);
}

}  // namespace
}  // namespace kvd
