// The text export: one tab-separated Windows-1251 line per record, 29 decoded columns,
// CR LF line ends, every line ending in a tab.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "data/history.h"

namespace kvd {

// One column of the export. ValueType and the scaling follow the parameter rule, except
// that the unsigned byte type and every code the export does not know read the byte
// unsigned without the mask.
struct ExportColumn {
  std::string_view Name;  // UTF-8; written as Windows-1251
  int32_t RecordPosition = 0;
  int32_t ValueType = 0;
  int32_t Decimals = 0;
  int32_t Mask = 0xFF;
  double Divisor = 1;
  double Subtrahend = 0;
  double ReciprocalNumerator = 0;
  double Multiplier = 1;
  double RawOffset = 0;
  double Reserved = 0;
};

inline constexpr int32_t kExportColumnCount = 29;
const std::array<ExportColumn, kExportColumnCount>& ExportColumnTable();

// The decoded value of a column in a 44-byte record.
double DecodeExportValue(const ExportColumn& c, const uint8_t* record);

// Time text of a record: the time of day of ElapsedMs (modulo 24 hours) in a long time
// format, then "." and the hundredths as two digits.
//
// The format is a pattern: H or h = hours (HH/hh with a leading zero; h counts 1..12
// when an AP/ap marker is present), m/mm minutes, s/ss seconds, AP/ap (or A/a) the
// AM/PM marker, 't' (time zone) is dropped, text in single quotes is copied, other
// characters are copied as they stand. The default "H:mm:ss" shows hours without a
// leading zero: 65,070 ms gives "0:01:05.07".
inline constexpr std::string_view kDefaultLongTimeFormat = "H:mm:ss";

class ElapsedFormatter {
 public:
  explicit ElapsedFormatter(std::string_view longTimeFormat = kDefaultLongTimeFormat);
  // Writes the time text of ms to out (room for kMaxChars bytes); returns its length.
  static constexpr size_t kMaxChars = 128;
  size_t FormatTo(char* out, int32_t elapsedMs) const;
  std::string Format(int32_t elapsedMs) const;

 private:
  enum Kind : uint8_t {
    kLiteral,
    kHour,
    kHour2,
    kMinute,
    kMinute2,
    kSecond,
    kSecond2,
    kAmPm,
    kAmPmLower
  };
  struct Token {
    Kind kind;
    std::string text;         // kLiteral
    bool twelveHour = false;  // an hour counted 1..12 (lower-case h with an AM/PM marker)
  };
  std::vector<Token> tokens_;
};

std::string FormatElapsed(int32_t elapsedMs,
                          std::string_view longTimeFormat = kDefaultLongTimeFormat);

// The character set of the text: Windows-1251 as the program writes it, or UTF-8 (no
// byte-order mark) for tools that expect it. Everything else stays the same.
enum class TextEncoding { kCp1251, kUtf8 };

struct TextExportOptions {
  char DecimalSeparator = '.';
  std::string LongTimeFormat = std::string(kDefaultLongTimeFormat);
  TextEncoding Encoding = TextEncoding::kCp1251;
};

// Decimal precision (significant digits) of the exported values.
inline constexpr int kExportPrecision = 6;

// Appends the header line, and the line of one record, to out (Windows-1251 bytes unless
// encoding says UTF-8).
void AppendExportHeader(std::string& out, TextEncoding encoding = TextEncoding::kCp1251);
void AppendExportLine(std::string& out, const uint8_t* record, const ElapsedFormatter& time,
                      char separator, TextEncoding encoding = TextEncoding::kCp1251);

// The whole text of the records of range (clamped to the history).
std::string BuildTextExport(const HistoryStore& store, RecordRange range,
                            const TextExportOptions& options = {});

// Writes the text of the records of range (clamped to the history; the header alone
// for an empty range) to file, through a temporary file renamed over the target.
// Throws DataFileError with "Ошибка при создании файла %s" on failure.
void WriteTextExport(const std::filesystem::path& file, const HistoryStore& store,
                     RecordRange range, const TextExportOptions& options = {});

// The same for n raw records (n x 44 bytes).
void WriteTextExport(const std::filesystem::path& file, const uint8_t* records, int32_t n,
                     const TextExportOptions& options = {});

// The save branch of the diagnostic window: text export for a ".txt" name (any case),
// the data file otherwise.
void SaveRecords(const std::filesystem::path& file, const HistoryStore& store, RecordRange range,
                 const TextExportOptions& options = {});

}  // namespace kvd
