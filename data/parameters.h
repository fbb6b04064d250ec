// The live-data parameters: the catalogue of the 34 values the ECU reports in its
// 36-byte data block, the one rule that decodes a value from a history record, and the
// display formatting of numbers.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvd {

struct HistoryRecord;

// The answer to 21 01: 36 payload bytes, service id 61 first. Bytes 2..35 are kept in
// every history record at record offset payload offset + 6.
inline constexpr int32_t kDataBlockSize = 36;

// Parameters are numbered 1..kParameterCount.
using ParameterNumber = int32_t;
inline constexpr int32_t kParameterCount = 34;

// How a raw value is read at RecordPosition. Any other code reads one unsigned byte
// without the mask.
enum : int32_t {
  kValueUnsignedByteMasked = 0,  // byte AND Mask
  kValueSignedByte = 1,          // byte, two's complement
  kValueUnsignedWordLE = 2,      // 16 bits, low byte first
  kValueSignedWordLE = 3,        // 16 bits, low byte first, signed
  kValueUnsignedLong = 4,        // 32 bits, low byte first
  kValueSignedLong = 5,          // 32 bits, low byte first, signed
  kValueFlag = 6,                // 1 if (byte AND Mask) != 0, else 0; never scaled
  kValueUnsignedWordBE = 7,      // 16 bits, high byte first
  kValueSignedWordBE = 8,        // 16 bits, high byte first, signed
  kValueBitPattern = 9,          // byte AND Mask, shown as eight binary digits
};

// Where and how one parameter is read from a record and scaled. Consumers (a graph
// slot, a floating window) keep their own copy, so a slot can carry its own Options.
struct ParameterDescriptor {
  std::string Name;            // caption, UTF-8
  int32_t RecordPosition = 0;  // byte offset inside a HistoryRecord (payload offset + 6)
  int32_t ValueType = kValueUnsignedByteMasked;
  int32_t Decimals = 0;   // digits after the separator when shown
  int32_t Mask = 0xFF;    // low byte used by the byte types and the flag type
  int32_t Options = 1;    // 1 in the catalogue; a slot puts its SlotOptions here
  double DefaultMin = 0;  // Y range a pane takes for this parameter
  double DefaultMax = 100;
  double Divisor = 1;
  double Subtrahend = 0;
  double ReciprocalNumerator = 0;
  double Multiplier = 1;
  double RawOffset = 0;
  double Reserved = 0;
};

// The 34 catalogue entries in order: entry i has ParameterNumber i + 1.
const std::array<ParameterDescriptor, kParameterCount>& ParameterCatalogue();

// A copy of the entry of a parameter number, nothing for a number outside 1..34.
std::optional<ParameterDescriptor> LookupParameter(ParameterNumber number);

// The parameter name list: the 34 names in catalogue order (list position + 1 is the
// ParameterNumber).
std::vector<std::string> ParameterNameList();

// Number of bytes a value type reads (1, 2 or 4).
int32_t ValueTypeWidth(int32_t valueType);

// The raw value of a value type at record[position], as a double. A position whose
// bytes would lie outside the 44-byte record reads as 0.
double ReadRawValue(const uint8_t* record, int32_t position, int32_t valueType, int32_t mask);

// The scaling formula: with a non-zero reciprocalNumerator,
// (reciprocalNumerator / raw - rawOffset) * multiplier / divisor - subtrahend (0 when
// |raw| < 1e-11); otherwise multiplier * (raw - rawOffset) / divisor - subtrahend.
// A divisor of 0 gives 0 rather than an infinite value.
double ScaleRawValue(double raw, double divisor, double subtrahend, double reciprocalNumerator,
                     double multiplier, double rawOffset);

// Decodes a parameter from a 44-byte record: the raw value, then 1.0/0.0 for a flag,
// otherwise the scaling formula.
double DecodeValue(const ParameterDescriptor& d, const uint8_t* record);
double DecodeValue(const ParameterDescriptor& d, const HistoryRecord& record);

// The flag rule of the display: a flag value above 0.5 is on ("ДА"), else off ("НЕТ").
bool FlagIsOn(double value);
std::string_view FlagText(double value);  // "ДА" or "НЕТ"

// A bit-pattern value (rounded, taken as a byte) as eight '1'/'0', most significant
// bit first.
std::string BitPatternText(double value);

// The trouble-code mask: payload bytes 6..9 of a data block, most significant first.
uint32_t ErrorMaskOfDataBlock(const uint8_t* dataBlock);
// The same four bytes as they lie in a history record (offsets 12..15).
uint32_t ErrorMaskOfRecord(const uint8_t* record);

// Fixed notation: the value rounded to `precision` significant digits and to
// `decimals` digits after the separator (whichever is coarser, ties away from zero),
// then shown with exactly `decimals` digits after `separator`. An integer part longer
// than `precision` digits falls back to exponent notation (1.23457E+06). Not-a-number
// and infinities give "NAN", "INF" and "-INF". precision is taken as 1..17 and decimals
// as 0..18.
//   FormatFixed(0.125, 6, 2, '.') == "0.13"; FormatFixed(10922.333, 6, 2, ',') == "10922,30";
//   FormatFixed(0.625, 2, 3, '.') == "0.630"
std::string FormatFixed(double value, int precision, int decimals, char separator);

// The same into a caller's buffer of at least kFormatFixedMaxChars bytes; returns the
// number of characters written (no terminating zero). Allocation-free.
inline constexpr size_t kFormatFixedMaxChars = 64;
size_t FormatFixedTo(char* out, double value, int precision, int decimals, char separator);

// The text a pane's indicator shows for a decoded value: "ДА"/"НЕТ" for a flag, eight
// binary digits for a bit pattern, otherwise FormatFixed(value, precision, d.Decimals).
std::string FormatParameterValue(const ParameterDescriptor& d, double value, int precision,
                                 char separator);

}  // namespace kvd
