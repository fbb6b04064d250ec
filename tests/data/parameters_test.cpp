// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_util.h"

namespace kvd {
namespace {

using kvdtest::Record;

ParameterDescriptor Raw(int32_t type, int32_t position, int32_t mask = 0xFF) {
  ParameterDescriptor d;
  d.ValueType = type;
  d.RecordPosition = position;
  d.Mask = mask;
  return d;
}

TEST(ParamCatalogue, HoldsThirtyFourEntriesInOrderWithTheirFields) {
  const auto& c = ParameterCatalogue();
  ASSERT_EQ(c.size(), 34u);
  EXPECT_EQ(c[0].Name, "Положение дросселя");
  EXPECT_EQ(c[1].Name, "Обороты двигателя [40]");
  EXPECT_EQ(c[33].Name, "Флаг разреш. нагрева ДК");
  for (const auto& d : c) {
    EXPECT_EQ(d.Options, 1) << d.Name;
    EXPECT_EQ(d.ReciprocalNumerator, 0) << d.Name;
    EXPECT_EQ(d.Reserved, 0) << d.Name;
    EXPECT_TRUE(d.ValueType == kValueUnsignedByteMasked || d.ValueType == kValueSignedByte ||
                d.ValueType == kValueUnsignedWordLE || d.ValueType == kValueFlag)
        << d.Name;
    EXPECT_LE(d.RecordPosition + ValueTypeWidth(d.ValueType), 42) << d.Name;
  }
  // Telling entries.
  const auto mixture = *LookupParameter(8);
  EXPECT_EQ(mixture.Name, "Состав смеси");
  EXPECT_EQ(mixture.RecordPosition, 17);
  EXPECT_EQ(mixture.Multiplier, 14.7);
  EXPECT_EQ(mixture.RawOffset, -128);
  EXPECT_EQ(mixture.Divisor, 256);
  EXPECT_EQ(mixture.Decimals, 2);
  EXPECT_EQ(mixture.DefaultMin, 7);
  EXPECT_EQ(mixture.DefaultMax, 20);
  const auto coinj = *LookupParameter(9);
  EXPECT_EQ(coinj.RecordPosition, 23);
  EXPECT_EQ(coinj.Decimals, 3);
  EXPECT_EQ(coinj.DefaultMin, 0.5);
  const auto uoz = *LookupParameter(13);
  EXPECT_EQ(uoz.ValueType, kValueSignedByte);
  EXPECT_EQ(uoz.Divisor, 2);
  const auto air = *LookupParameter(14);
  EXPECT_EQ(air.Mask, 0x00);
  EXPECT_EQ(air.ValueType, kValueUnsignedWordLE);
  EXPECT_EQ(air.RecordPosition, 32);
  const auto a = *LookupParameter(24), b = *LookupParameter(25);
  EXPECT_NE(a.Name, b.Name);
  EXPECT_EQ(a.RecordPosition, b.RecordPosition);
  EXPECT_EQ(a.Mask, 0x20);
  EXPECT_EQ(b.Mask, 0x20);
  EXPECT_EQ(LookupParameter(7)->Subtrahend, 40);
  EXPECT_EQ(LookupParameter(17)->Multiplier, 1.25);
}

TEST(ParamCatalogue, LookupOutsideTheNumbersGivesNothingAndNameListFollowsCatalogue) {
  EXPECT_FALSE(LookupParameter(0));
  EXPECT_FALSE(LookupParameter(35));
  EXPECT_FALSE(LookupParameter(-1));
  const auto names = ParameterNameList();
  ASSERT_EQ(names.size(), 34u);
  for (int n = 1; n <= 34; ++n) EXPECT_EQ(names[n - 1], LookupParameter(n)->Name);
  // A copy is the consumer's own: changing it leaves the catalogue alone.
  auto copy = *LookupParameter(1);
  copy.Options = 7;
  EXPECT_EQ(ParameterCatalogue()[0].Options, 1);
}

TEST(ParamDecode, EveryValueTypeReadsItsBytesAndSign) {
  const auto r =
      Record(0, {{20, 0xFE}, {21, 0xFF}, {22, 0x34}, {23, 0x12}, {24, 0x80}, {25, 0x00}});
  EXPECT_EQ(ReadRawValue(r.data(), 20, kValueUnsignedByteMasked, 0x0F), 0x0E);
  EXPECT_EQ(ReadRawValue(r.data(), 20, kValueSignedByte, 0xFF), -2);
  EXPECT_EQ(ReadRawValue(r.data(), 22, kValueUnsignedWordLE, 0), 0x1234);
  EXPECT_EQ(ReadRawValue(r.data(), 20, kValueSignedWordLE, 0), -2);  // FFFE
  EXPECT_EQ(ReadRawValue(r.data(), 22, kValueUnsignedLong, 0), 0x00801234u);
  EXPECT_EQ(ReadRawValue(r.data(), 20, kValueSignedLong, 0), static_cast<double>(0x1234FFFE));
  EXPECT_EQ(ReadRawValue(r.data(), 22, kValueFlag, 0x04), 1.0);
  EXPECT_EQ(ReadRawValue(r.data(), 22, kValueFlag, 0x08), 0.0);
  EXPECT_EQ(ReadRawValue(r.data(), 22, kValueUnsignedWordBE, 0), 0x3412);
  EXPECT_EQ(ReadRawValue(r.data(), 24, kValueSignedWordBE, 0), -32768);  // 80 00
  EXPECT_EQ(ReadRawValue(r.data(), 20, kValueBitPattern, 0xF0), 0xF0);
  EXPECT_EQ(ReadRawValue(r.data(), 20, 42, 0x0F), 0xFE);  // unknown code: byte, no mask
  const auto neg = Record(0, {{30, 0x00}, {31, 0x00}, {32, 0x00}, {33, 0x80}});
  EXPECT_EQ(ReadRawValue(neg.data(), 30, kValueSignedLong, 0), -2147483648.0);
  EXPECT_EQ(ReadRawValue(neg.data(), 30, kValueUnsignedLong, 0), 2147483648.0);
}

TEST(ParamDecode, PositionsOutsideTheRecordReadAsZero) {
  const auto r = Record(0, {{43, 0xFF}, {42, 0xFF}});
  EXPECT_EQ(ReadRawValue(r.data(), 43, kValueUnsignedByteMasked, 0xFF), 255);
  EXPECT_EQ(ReadRawValue(r.data(), 43, kValueUnsignedWordLE, 0), 0);
  EXPECT_EQ(ReadRawValue(r.data(), 41, kValueUnsignedLong, 0), 0);
  EXPECT_EQ(ReadRawValue(r.data(), 44, kValueUnsignedByteMasked, 0xFF), 0);
  EXPECT_EQ(ReadRawValue(r.data(), -1, kValueSignedByte, 0xFF), 0);
  EXPECT_EQ(DecodeValue(Raw(kValueUnsignedWordLE, 1000000), r.data()), 0);
}

TEST(ParamDecode, CatalogueScalingExamples) {
  auto value = [](int number, std::initializer_list<std::pair<int, uint8_t>> bytes) {
    const auto r = Record(0, bytes);
    return DecodeValue(*LookupParameter(number), r.data());
  };
  EXPECT_DOUBLE_EQ(value(7, {{16, 0}}), -40);
  EXPECT_DOUBLE_EQ(value(7, {{16, 130}}), 90);
  EXPECT_DOUBLE_EQ(value(8, {{17, 0}}), 7.35);
  EXPECT_NEAR(value(8, {{17, 255}}), 21.99, 0.005);
  EXPECT_DOUBLE_EQ(value(9, {{23, 128}}), 1.0);
  EXPECT_DOUBLE_EQ(value(10, {{30, 0xE8}, {31, 0x03}}), 8.0);  // 1000 / 125, low byte first
  EXPECT_DOUBLE_EQ(value(13, {{24, 0xFF}}), -0.5);
  EXPECT_DOUBLE_EQ(value(13, {{24, 0x7F}}), 63.5);
  EXPECT_DOUBLE_EQ(value(2, {{19, 20}}), 800);
  EXPECT_DOUBLE_EQ(value(14, {{32, 0x10}, {33, 0x27}}), 1000.0);  // mask 00 ignored by words
  // Entries 24 and 25 read the same bit.
  for (uint8_t b : {uint8_t{0x00}, uint8_t{0x20}, uint8_t{0xDF}, uint8_t{0xFF}})
    EXPECT_EQ(value(24, {{10, b}}), value(25, {{10, b}})) << int(b);
  EXPECT_EQ(value(24, {{10, 0x20}}), 1.0);
  EXPECT_EQ(value(33, {{29, 0x01}}), 1.0);
  EXPECT_EQ(value(34, {{29, 0x01}}), 0.0);
}

TEST(ParamDecode, FlagsSkipScalingAndReciprocalIsGuarded) {
  auto flag = Raw(kValueFlag, 10, 0x06);
  flag.Divisor = 7;
  flag.Multiplier = 100;
  flag.Subtrahend = 3;
  flag.RawOffset = 9;
  flag.ReciprocalNumerator = 5;
  EXPECT_EQ(DecodeValue(flag, Record(0, {{10, 0x04}}).data()), 1.0);
  EXPECT_EQ(DecodeValue(flag, Record(0, {{10, 0x01}}).data()), 0.0);

  auto rec = Raw(kValueUnsignedByteMasked, 20);
  rec.ReciprocalNumerator = 1000;
  rec.Multiplier = 2;
  rec.Divisor = 4;
  rec.RawOffset = 1;
  rec.Subtrahend = 0.5;
  EXPECT_EQ(DecodeValue(rec, Record(0, {{20, 0}}).data()), 0.0);
  EXPECT_DOUBLE_EQ(DecodeValue(rec, Record(0, {{20, 10}}).data()), (1000.0 / 10 - 1) * 2 / 4 - 0.5);
  EXPECT_EQ(ScaleRawValue(5e-12, 1, 0, 1, 1, 0), 0.0);
  EXPECT_DOUBLE_EQ(ScaleRawValue(2e-11, 1, 0, 1, 1, 0), 5e10);
  // A zero divisor from odd settings gives 0, not infinity.
  EXPECT_EQ(ScaleRawValue(3, 0, 0, 0, 1, 0), 0.0);
}

TEST(ParamDecode, ErrorMaskIsMostSignificantByteFirst) {
  auto b = kvdtest::Block({{6, 0x80}, {7, 0x01}, {8, 0x02}, {9, 0x03}});
  EXPECT_EQ(ErrorMaskOfDataBlock(b.data()), 0x80010203u);
  const auto r = Record(0, {{12, 0x11}, {13, 0x22}, {14, 0x33}, {15, 0x44}});
  EXPECT_EQ(ErrorMaskOfRecord(r.data()), 0x11223344u);
}

TEST(ParamDisplay, FlagAndBitPatternTexts) {
  EXPECT_EQ(FlagText(1.0), "ДА");
  EXPECT_EQ(FlagText(0.5), "НЕТ");
  EXPECT_TRUE(FlagIsOn(0.51));
  EXPECT_EQ(BitPatternText(0xA5), "10100101");
  EXPECT_EQ(BitPatternText(0.0), "00000000");
  EXPECT_EQ(BitPatternText(1.6), "00000010");
  EXPECT_EQ(BitPatternText(1e9), "11111111");
  EXPECT_EQ(BitPatternText(std::nan("")), "00000000");
  auto d = *LookupParameter(18);
  EXPECT_EQ(FormatParameterValue(d, 1.0, 5, '.'), "ДА");
  d.ValueType = kValueBitPattern;
  EXPECT_EQ(FormatParameterValue(d, 3.0, 5, '.'), "00000011");
  EXPECT_EQ(FormatParameterValue(*LookupParameter(8), 14.7, 5, ','), "14,70");
}

}  // namespace
}  // namespace kvd
