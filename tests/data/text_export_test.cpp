// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/text_export.h"

#include <gtest/gtest.h>

#include <optional>

#include <string>
#include <vector>

#include "data/cp1251.h"
#include "data/data_file.h"
#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::Record;

const std::string kHeader =
    "H:MM:SS.ms\tTHR\tRPM40\tRPM10\tUFR\xD5\xD5\tFSM\tSSM\tTWAT\tALF\tCOINJ\tINJ\tFUEL_H\tFUEL_T\t"
    "UOZ\tAIR\tGBC\tSPEED\tULAM\tfSTP\tfXX\tfPOW\tfNOINJ\tfDET\tfADS\tfLAMLOOP\tfLASTLAM\tfLAM\t"
    "fLEARN\tfLAMREADY\tfLAMHEAT\t\r\n";

// A quiet record: everything 0 but the ignition advance (FF) and three flags.
std::array<uint8_t, 44> Quiet() {
  return Record(3723450, {{24, 0xFF}, {10, 0x21}, {29, 0x02}});
}
const std::string kQuietLine =
    "1:02:03.45\t0\t0\t0\t0\t0\t0\t-40\t7.35\t0.500\t0.000\t0.00\t0.00\t-0.5\t0.0\t0.00\t0\t"
    "0.000\t1\t0\t0\t0\t1\t0\t0\t0\t0\t0\t0\t1\t\r\n";

// A busy record 25 hours after the first one.
std::array<uint8_t, 44> Busy() {
  return Record(90000000, {{18, 100},  {19, 20},   {20, 85},   {27, 90},   {21, 30},   {22, 31},
                           {16, 130},  {17, 255},  {23, 200},  {30, 0xE8}, {31, 0x03}, {36, 0x71},
                           {37, 0x02}, {38, 100},  {24, 30},   {32, 0x23}, {33, 0x01}, {34, 100},
                           {25, 60},   {28, 0x80}, {10, 0xDE}, {11, 0xC0}, {29, 0x01}});
}
const std::string kBusyLine =
    "1:00:00.00\t100\t800\t850\t900\t30\t31\t90\t21.99\t1.281\t8.000\t12.50\t0.78\t15.0\t29.1\t"
    "16.67\t60\t2.500\t0\t1\t1\t1\t0\t1\t1\t1\t1\t1\t1\t0\t\r\n";

class TextExportTest : public ::testing::Test {
 protected:
  void LoadRecords(const std::vector<std::array<uint8_t, 44>>& recs) {
    std::vector<uint8_t> bytes;
    for (const auto& r : recs) bytes.insert(bytes.end(), r.begin(), r.end());
    store.Load(bytes.data(), static_cast<int32_t>(recs.size()));
  }
  VirtualClock clock;
  HistoryStore store{clock};
  kvdtest::ScratchDir dir;
};

TEST_F(TextExportTest, ExactBytesOfASmallRecording) {
  LoadRecords({Quiet(), Busy()});
  const auto file = dir / "out.txt";
  WriteTextExport(file, store, store.AllRecords());
  EXPECT_EQ(kvdtest::ReadAll(file), kHeader + kQuietLine + kBusyLine);
  EXPECT_EQ(BuildTextExport(store, store.AllRecords()), kHeader + kQuietLine + kBusyLine);
}

TEST_F(TextExportTest, RangesEndAtTheirLastRecord) {
  LoadRecords({Quiet(), Busy(), Quiet()});
  EXPECT_EQ(BuildTextExport(store, RecordRange{1, 1}), kHeader + kBusyLine);
  EXPECT_EQ(BuildTextExport(store, RecordRange{1, 10}), kHeader + kBusyLine + kQuietLine);
  // A slot beyond the history holds old bytes; it never becomes a line.
  store.Reset();
  const auto b = kvdtest::Block();
  store.Append(b.data());
  const std::string text = BuildTextExport(store, RecordRange{0, 3});
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(BuildTextExport(store, RecordRange{5, 2}), kHeader);
}

TEST_F(TextExportTest, SeparatorAndTimeFormatAreOptions) {
  LoadRecords({Busy()});
  TextExportOptions o;
  o.DecimalSeparator = ',';
  o.LongTimeFormat = "HH:mm:ss";
  const std::string text = BuildTextExport(store, store.AllRecords(), o);
  std::string expected = kBusyLine;
  for (char& c : expected)
    if (c == '.') c = ',';
  expected.replace(0, 10, "01:00:00.00");
  EXPECT_EQ(text, kHeader + expected);
  // Letters of the time pattern are written in the file's code page, like everything else.
  o.LongTimeFormat = "H'ч'mm";
  EXPECT_EQ(BuildTextExport(store, store.AllRecords(), o).substr(kHeader.size(), 8),
            "1\xF7"
            "00.00\t");
}

TEST_F(TextExportTest, Utf8TextEqualsTheWindows1251TextConverted) {
  LoadRecords({Quiet(), Busy(), Quiet()});
  struct Case {
    char separator;
    const char* timeFormat;
  };
  for (const Case c : {Case{'.', "H:mm:ss"}, Case{',', "HH:mm:ss"}, Case{'.', "H'ч'mm'м'ss"}}) {
    SCOPED_TRACE(c.timeFormat);
    TextExportOptions o;
    o.DecimalSeparator = c.separator;
    o.LongTimeFormat = c.timeFormat;
    const std::string cp1251 = BuildTextExport(store, store.AllRecords(), o);
    o.Encoding = TextEncoding::kUtf8;
    const std::string utf8 = BuildTextExport(store, store.AllRecords(), o);
    EXPECT_NE(utf8, cp1251);  // the header's two Cyrillic letters at least
    EXPECT_EQ(utf8, Cp1251ToUtf8(cp1251));
    // The file is the same text, without a byte-order mark.
    const auto file = dir / "utf8.txt";
    WriteTextExport(file, store, store.AllRecords(), o);
    EXPECT_EQ(kvdtest::ReadAll(file), utf8);
  }
  TextExportOptions o;
  o.Encoding = TextEncoding::kUtf8;
  const std::string utf8 = BuildTextExport(store, RecordRange{0, 0}, o);
  EXPECT_EQ(utf8.substr(0, 11), "H:MM:SS.ms\t");
  EXPECT_NE(utf8.find("\tUFR\xD0\xA5\xD0\xA5\t"), std::string::npos);
}

TEST_F(TextExportTest, ColumnTableDiffersFromTheCatalogueWhereItShould) {
  const auto& t = ExportColumnTable();
  ASSERT_EQ(t.size(), 29u);
  EXPECT_EQ(t[3].Name, "UFRХХ");
  EXPECT_EQ(Utf8ToCp1251(t[3].Name), "UFR\xD5\xD5");
  EXPECT_EQ(t[16].Name, "ULAM");
  EXPECT_EQ(t[16].Multiplier, 5);
  EXPECT_EQ(t[13].Mask, 0);
  // The export reads plain bytes without the mask, whatever the column's mask says.
  ExportColumn c = t[0];
  c.Mask = 0x0F;
  EXPECT_EQ(DecodeExportValue(c, Record(0, {{18, 0xF3}}).data()), 0xF3);
  c.ValueType = kValueUnsignedWordBE;  // not an export type: a plain byte
  EXPECT_EQ(DecodeExportValue(c, Record(0, {{18, 0xF3}, {19, 1}}).data()), 0xF3);
  c.ValueType = kValueSignedWordLE;
  EXPECT_EQ(DecodeExportValue(c, Record(0, {{18, 0xFF}, {19, 0xFF}}).data()), -1);
}

TEST(FormatElapsedTest, TimeOfDayAndHundredths) {
  EXPECT_EQ(FormatElapsed(65070), "0:01:05.07");
  EXPECT_EQ(FormatElapsed(3723450), "1:02:03.45");
  EXPECT_EQ(FormatElapsed(0), "0:00:00.00");
  EXPECT_EQ(FormatElapsed(90000000), "1:00:00.00");
  EXPECT_EQ(FormatElapsed(86399999), "23:59:59.99");
  EXPECT_EQ(FormatElapsed(65070, "HH:mm:ss"), "00:01:05.07");
  EXPECT_EQ(FormatElapsed(50400000 + 5000, "h:mm:ss AP"), "2:00:05 PM.00");
  EXPECT_EQ(FormatElapsed(5000, "hh:mm:ss ap"), "12:00:05 am.00");
  EXPECT_EQ(FormatElapsed(3723450, "HH:mm:ss t"), "01:02:03.45");
  EXPECT_EQ(FormatElapsed(3723450, "H'h'mm"), "1h02.45");
  EXPECT_EQ(FormatElapsed(3723450, ""), "1:02:03.45");  // empty pattern: the default
  // Odd values from a broken file give a time, never garbage.
  EXPECT_EQ(FormatElapsed(-10), "23:59:59.99");
  EXPECT_EQ(FormatElapsed(INT32_MAX), FormatElapsed(INT32_MAX % 86400000));
  const std::string longFormat(1000, 'x');
  EXPECT_LE(FormatElapsed(1, longFormat + "H").size(), ElapsedFormatter::kMaxChars);
}

TEST(Cp1251, ConvertsBothWaysAndMarksWhatItCannot) {
  EXPECT_EQ(Utf8ToCp1251("Ёж ёж АЯая №"), "\xA8\xE6 \xB8\xE6 \xC0\xDF\xE0\xFF \xB9");
  EXPECT_EQ(Cp1251ToUtf8("\xA8\xE6 \xB8\xE6 \xC0\xDF\xE0\xFF \xB9"), "Ёж ёж АЯая №");
  EXPECT_EQ(Utf8ToCp1251("a€b"),
            "a\x88"
            "b");
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");          // cut sequence
  EXPECT_EQ(Utf8ToCp1251("\x80x"), "?x");        // stray continuation byte
  EXPECT_EQ(Utf8ToCp1251("\xC0\x80"), "?");      // overlong
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "?");  // surrogate
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "?");
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (b != 0x98) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(Cp1251, ExactConversionRefusesWhatTheCodePageCannotHold) {
  struct Case {
    const char* utf8;
    std::optional<std::string> cp1251;
  };
  const Case cases[] = {
      {"ВАЗ-2111 №5", std::string("\xC2\xC0\xC7-2111 \xB9"
                                  "5")},
      {"", std::string()},
      {"?", std::string("?")},      // a real question mark is no failure
      {"a\xC3\xBF", std::nullopt},  // ÿ: not in the code page
      {"日", std::nullopt},
      {"\xD0", std::nullopt},
      {"\xC0\x80", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp1251Exact(c.utf8), c.cp1251) << c.utf8;
  EXPECT_TRUE(Cp1251Holds(U'Ё'));
  EXPECT_TRUE(Cp1251Holds(0x20AC));  // €
  EXPECT_FALSE(Cp1251Holds(0x00FF));
  EXPECT_FALSE(Cp1251Holds(0x10000));
}

}  // namespace
}  // namespace kvd
