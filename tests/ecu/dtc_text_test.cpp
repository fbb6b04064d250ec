// SPDX-License-Identifier: GPL-3.0-or-later
// The three trouble-code text tables: their exact code sets, the rows whose wording is fixed,
// the language rule and the Windows-1251 result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "data/cp1251.h"
#include "ecu/dtc_text.h"

namespace kvd {
namespace {

// "P0100-P0126" and "P0128" style ranges: the four digits count in decimal, the code is their
// hexadecimal reading.
std::vector<uint16_t> Codes(const std::vector<std::pair<int, int>>& ranges) {
  std::vector<uint16_t> codes;
  for (const auto& [from, to] : ranges) {
    for (int d = from; d <= to; ++d) {
      const int code = (d / 1000) << 12 | (d / 100 % 10) << 8 | (d / 10 % 10) << 4 | d % 10;
      codes.push_back(static_cast<uint16_t>(code));
    }
  }
  return codes;
}

const std::vector<std::pair<int, int>> kRussianRanges = {
    {102, 103},   {112, 113},   {115, 118},   {122, 123},   {130, 138},   {140, 141},
    {171, 172},   {201, 204},   {261, 262},   {264, 265},   {267, 268},   {270, 271},
    {300, 304},   {325, 325},   {327, 328},   {335, 338},   {340, 340},   {342, 343},
    {422, 422},   {443, 445},   {480, 481},   {500, 501},   {503, 503},   {505, 507},
    {560, 560},   {562, 563},   {601, 601},   {603, 604},   {1102, 1102}, {1115, 1115},
    {1123, 1124}, {1127, 1128}, {1136, 1137}, {1140, 1140}, {1171, 1172}, {1386, 1386},
    {1410, 1410}, {1425, 1426}, {1500, 1502}, {1509, 1509}, {1513, 1514}, {1541, 1541},
    {1570, 1570}, {1600, 1600}, {1602, 1603}, {1606, 1606}, {1612, 1612}, {1616, 1617},
    {1620, 1622}, {1640, 1640}, {1689, 1689}};

const std::vector<std::pair<int, int>> kEnglishRanges = {
    {100, 126},   {128, 128},   {130, 147},   {150, 161},   {170, 193},   {195, 225},
    {227, 296},   {300, 312},   {320, 323},   {325, 344},   {350, 362},   {370, 382},
    {385, 389},   {400, 408},   {410, 424},   {426, 428},   {430, 434},   {436, 438},
    {440, 455},   {460, 485},   {500, 503},   {505, 507},   {510, 510},   {520, 523},
    {530, 534},   {550, 554},   {560, 563},   {565, 573},   {600, 606},   {608, 609},
    {620, 622},   {650, 650},   {700, 728},   {730, 736},   {740, 790},   {801, 801},
    {803, 804},   {1000, 1001}, {1100, 1144}, {1150, 1159}, {1167, 1178}, {1180, 1199},
    {1201, 1206}, {1209, 1278}, {1280, 1309}, {1313, 1317}, {1336, 1336}, {1340, 1341},
    {1345, 1376}, {1380, 1409}, {1411, 1411}, {1413, 1430}, {1433, 1457}, {1460, 1487},
    {1490, 1495}, {1500, 1540}, {1549, 1550}, {1565, 1568}, {1571, 1589}, {1600, 1645},
    {1650, 1655}, {1660, 1663}, {1667, 1668}, {1670, 1670}, {1680, 1694}, {1700, 1709},
    {1711, 1718}, {1720, 1749}, {1751, 1751}, {1754, 1756}, {1760, 1762}, {1765, 1765},
    {1767, 1770}, {1775, 1886}, {1890, 1891}, {1900, 1918}};

const std::vector<std::pair<int, int>> kGermanRanges = {
    {100, 126}, {130, 147}, {150, 167}, {170, 296}, {300, 312}, {320, 323}, {325, 344},
    {350, 362}, {370, 382}, {385, 389}, {400, 408}, {410, 424}, {430, 434}, {440, 455},
    {460, 485}, {500, 503}, {505, 507}, {510, 510}, {520, 523}, {530, 534}, {550, 554},
    {560, 563}, {565, 580}, {600, 606}, {608, 609}, {620, 622}, {650, 650}, {654, 656},
    {700, 728}, {730, 736}, {740, 774}, {780, 790}, {801, 801}, {803, 804}};

TEST(TroubleCodeTextTest, TablesHoldExactlyTheirCodeSets) {
  struct Table {
    DtcLanguage language;
    const std::vector<std::pair<int, int>>& ranges;
    size_t rows;
  };
  for (const Table& t : {Table{DtcLanguage::Russian, kRussianRanges, 103},
                         Table{DtcLanguage::English, kEnglishRanges, 1142},
                         Table{DtcLanguage::German, kGermanRanges, 472}}) {
    SCOPED_TRACE(static_cast<int>(t.language));
    const std::vector<uint16_t> expected = Codes(t.ranges);
    EXPECT_EQ(expected.size(), t.rows);
    EXPECT_EQ(DtcTableCodes(t.language), expected);
    // Every code has a text, except the two English codes no source knows.
    for (uint16_t code : expected) {
      const bool unknown = t.language == DtcLanguage::English && (code == 0x1178 || code == 0x1357);
      EXPECT_EQ(TroubleCodeTextUtf8(code, t.language).empty(), unknown) << std::hex << code;
    }
  }
  EXPECT_TRUE(DtcTableCodes(DtcLanguage::None).empty());
}

TEST(TroubleCodeTextTest, FixedRowsAreWordForWord) {
  struct Row {
    DtcLanguage language;
    uint16_t code;
    const char* text;
  };
  const DtcLanguage en = DtcLanguage::English, de = DtcLanguage::German, ru = DtcLanguage::Russian;
  const std::vector<Row> rows = {
      {en, 0x0100, "Mass Air Flow Circuit Malfunction"},
      {en, 0x0102, "MAF Circuit Low Input"},
      {en, 0x0130, "Heated O2 Sensor Circuit Malfunction (Bank 1, Sensor 1)"},
      {en, 0x0171, "System Too Lean (Bank 1)"},
      {en, 0x0172, "System Too Rich (Bank 1)"},
      {en, 0x0300, "Random Misfire Detected"},
      {en, 0x0325, "Knock Sensor 1 Circuit Malfunction"},
      {en, 0x0601, "Internal Control Module Memory Check Sum Error"},
      {en, 0x1000, "Check of all OBDII Systems Not Complete"},
      {en, 0x1140, "Water In Fuel Condition"},
      {en, 0x1600, "Loss of KAM Power; Open Circuit"},
      {en, 0x1602, "Immobilizer/ECM Communication Error"},
      {en, 0x1918, "Transmission Range Display Circuit Malfunction"},
      {de, 0x0100, "Massen- oder Volumen-Luftmengenmesser Fehlfunktion"},
      {de, 0x0102, "Massen- oder Volumen-Luftmengenmesser Schaltkreis zu niedriger Eingang"},
      {de, 0x0130, "Lambda Sonde Schaltkreis Fehlfunktion (Bank 1 Sensor 1)"},
      {de, 0x0171, "Gemisch zu mager (Bank 1)"},
      {de, 0x0172, "Gemisch zu fett (Bank 1)"},
      {de, 0x0300, "Zufallsbedingte/mehrere Zylinder Fehlzündung detektiert"},
      {de, 0x0325, "Klopfsensor 1 Schaltkreis Fehlfunktion (Bank 1 oder einzelner Sensor)"},
      {de, 0x0601, "Internes Kontrollmodul Speicherkontrolle Prüfsummenfehler"},
      {de, 0x0804,
       "1. - 4. Hochschaltung (Schaltüberspringung) Lampen Kontroll-Schaltkreis Fehlfunktion"},
      {ru, 0x0102, "Низкий уровень сигнала ДМРВ"},
      {ru, 0x0118, "Высокий уровень ДТОЖ"},
      {ru, 0x0300, "Cлучайные/множественные пропуски воспламенения"},
      {ru, 0x0480, "Неисправность цепи управления вентилятором №1"},
      {ru, 0x1140, "Измеренная нагрузка отличается от расчётной"},
      {ru, 0x1600, "Нет связи с иммобилизатором"},
      {ru, 0x1689, "Неверные значения в памяти ошибок"},
      // Texts that repeat within the Russian table.
      {ru, 0x0115, "Выход сигнала ДТОЖ за допустимый диапазон"},
      {ru, 0x0116, "Выход сигнала ДТОЖ за допустимый диапазон"},
      {ru, 0x1603, "Ошибка EEPROM"},
      {ru, 0x1622, "Ошибка EEPROM"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(TroubleCodeTextUtf8(r.code, r.language), r.text)
        << static_cast<int>(r.language) << " " << std::hex << r.code;
}

TEST(TroubleCodeTextTest, LanguageNameChoosesTheTable) {
  struct Case {
    const char* language;
    uint16_t code;
    const char* utf8;  // expected text before the conversion to Windows-1251
  };
  const std::vector<Case> cases = {
      {"russian", 0x0325, "Обрыв датчика детонации"},
      {"RUSSIAN", 0x0325, "Обрыв датчика детонации"},
      {"Lang=Russian.1251", 0x0325, "Обрыв датчика детонации"},
      {"ru", 0x0325, ""},
      {"", 0x0325, ""},
      {"english", 0x1600, "Loss of KAM Power; Open Circuit"},
      {"English (UK)", 0x1918, "Transmission Range Display Circuit Malfunction"},
      {"deutsch", 0x0804,
       "1. - 4. Hochschaltung (Schaltüberspringung) Lampen Kontroll-Schaltkreis Fehlfunktion"},
      // Both names: German wins; English and German come before Russian.
      {"english+deutsch", 0x0171, "Gemisch zu mager (Bank 1)"},
      {"russian english", 0x0171, "System Too Lean (Bank 1)"},
      // Codes without a row in the chosen table.
      {"russian", 0x0100, ""},
      {"russian", 0x3999, ""},
      {"russian", 0x1610, ""},
      {"deutsch", 0x1918, ""},
      {"deutsch", 0x0805, ""},
      {"english", 0x1178, ""},
      {"english", 0x1357, ""},
      {"russian", 0x0000, ""},
      {"english", 0x0000, ""},
      {"deutsch", 0x0000, ""},
  };
  for (const Case& c : cases) {
    const std::string text = TroubleCodeText(c.code, c.language);
    EXPECT_EQ(text, Utf8ToCp1251(c.utf8)) << c.language << " " << std::hex << c.code;
  }
  // Windows-1251 bytes, not UTF-8: "Нет" is CD E5 F2, "№" B9; the code page has no "ü".
  EXPECT_EQ(TroubleCodeText(0x1600, "russian").substr(0, 3), "\xCD\xE5\xF2");
  EXPECT_EQ(Cp1251ToUtf8(TroubleCodeText(0x0480, "russian")),
            "Неисправность цепи управления вентилятором №1");
  EXPECT_EQ(TroubleCodeText(0x0300, "deutsch"),
            "Zufallsbedingte/mehrere Zylinder Fehlz?ndung detektiert");
}

}  // namespace
}  // namespace kvd
