// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/text_export.h"

#include <algorithm>
#include <cstring>

#include "data/cp1251.h"
#include "data/data_file.h"
#include "data/parameters.h"

namespace kvd {

namespace {

constexpr ExportColumn Col(std::string_view name, int32_t position, int32_t type, int32_t mask,
                           int32_t decimals, double divisor, double subtrahend, double multiplier,
                           double rawOffset) {
  ExportColumn c;
  c.Name = name;
  c.RecordPosition = position;
  c.ValueType = type;
  c.Decimals = decimals;
  c.Mask = mask;
  c.Divisor = divisor;
  c.Subtrahend = subtrahend;
  c.Multiplier = multiplier;
  c.RawOffset = rawOffset;
  return c;
}

constexpr ExportColumn FlagCol(std::string_view name, int32_t position, int32_t mask) {
  return Col(name, position, kValueFlag, mask, 0, 1, 0, 1, 0);
}

constexpr int32_t B = kValueUnsignedByteMasked;
constexpr int32_t W = kValueUnsignedWordLE;

constexpr std::array<ExportColumn, kExportColumnCount> kColumns = {{
    Col("THR", 18, B, 0xFF, 0, 1, 0, 1, 0),
    Col("RPM40", 19, B, 0xFF, 0, 1, 0, 40, 0),
    Col("RPM10", 20, B, 0xFF, 0, 1, 0, 10, 0),
    Col("UFRХХ", 27, B, 0xFF, 0, 1, 0, 10, 0),  // ends in two Cyrillic Х
    Col("FSM", 21, B, 0xFF, 0, 1, 0, 1, 0),
    Col("SSM", 22, B, 0xFF, 0, 1, 0, 1, 0),
    Col("TWAT", 16, B, 0xFF, 0, 1, 40, 1, 0),
    Col("ALF", 17, B, 0xFF, 2, 256, 0, 14.7, -128),
    Col("COINJ", 23, B, 0xFF, 3, 256, 0, 1, -128),
    Col("INJ", 30, W, 0xFF, 3, 125, 0, 1, 0),
    Col("FUEL_H", 36, W, 0xFF, 2, 50, 0, 1, 0),
    Col("FUEL_T", 38, W, 0xFF, 2, 128, 0, 1, 0),
    Col("UOZ", 24, kValueSignedByte, 0xFF, 1, 2, 0, 1, 0),
    Col("AIR", 32, W, 0x00, 1, 10, 0, 1, 0),
    Col("GBC", 34, W, 0xFF, 2, 6, 0, 1, 0),
    Col("SPEED", 25, B, 0xFF, 0, 1, 0, 1, 0),
    Col("ULAM", 28, B, 0xFF, 3, 256, 0, 5, 0),
    FlagCol("fSTP", 10, 0x01),
    FlagCol("fXX", 10, 0x02),
    FlagCol("fPOW", 10, 0x04),
    FlagCol("fNOINJ", 10, 0x08),
    FlagCol("fDET", 10, 0x20),
    FlagCol("fADS", 10, 0x40),
    FlagCol("fLAMLOOP", 10, 0x10),
    FlagCol("fLASTLAM", 11, 0x40),
    FlagCol("fLAM", 11, 0x80),
    FlagCol("fLEARN", 10, 0x80),
    FlagCol("fLAMREADY", 29, 0x01),
    FlagCol("fLAMHEAT", 29, 0x02),
}};

constexpr int32_t kMsPerDay = 86400000;

// Room for one data line: the time text and 29 values with their tabs.
constexpr size_t kLineMax =
    ElapsedFormatter::kMaxChars + 2 + kExportColumnCount * (kFormatFixedMaxChars + 1) + 2;

}  // namespace

const std::array<ExportColumn, kExportColumnCount>& ExportColumnTable() {
  return kColumns;
}

double DecodeExportValue(const ExportColumn& c, const uint8_t* record) {
  int32_t type = c.ValueType;
  // The export reads every byte type, and any code it does not know, as a plain byte.
  if (type < kValueSignedByte || type > kValueFlag) type = -1;
  const double raw = ReadRawValue(record, c.RecordPosition, type, c.Mask);
  if (type == kValueFlag) return raw;
  return ScaleRawValue(raw, c.Divisor, c.Subtrahend, c.ReciprocalNumerator, c.Multiplier,
                       c.RawOffset);
}

ElapsedFormatter::ElapsedFormatter(std::string_view f) {
  bool hasAmPm = false;
  size_t literalBudget = 64;  // keeps every time text within kMaxChars
  auto literal = [&](std::string_view text) {
    text = text.substr(0, std::min(text.size(), literalBudget));
    literalBudget -= text.size();
    if (text.empty()) return;
    if (!tokens_.empty() && tokens_.back().kind == kLiteral)
      tokens_.back().text += text;
    else
      tokens_.push_back(Token{kLiteral, std::string(text)});
  };
  size_t i = 0;
  while (i < f.size() && tokens_.size() < 24) {
    const char c = f[i];
    size_t run = 1;
    while (i + run < f.size() && f[i + run] == c) ++run;
    if (c == 'h' || c == 'H') {
      tokens_.push_back(Token{run >= 2 ? kHour2 : kHour, {}, c == 'h'});
    } else if (c == 'm') {
      tokens_.push_back(Token{run >= 2 ? kMinute2 : kMinute, {}});
    } else if (c == 's') {
      tokens_.push_back(Token{run >= 2 ? kSecond2 : kSecond, {}});
    } else if (c == 'A' || c == 'a') {
      run = (i + 1 < f.size() && (f[i + 1] == 'P' || f[i + 1] == 'p')) ? 2 : 1;
      tokens_.push_back(Token{c == 'A' ? kAmPm : kAmPmLower, {}});
      hasAmPm = true;
    } else if (c == 't' || c == 'z') {
      // Time zone and milliseconds have no place here; a space before them goes too.
      if (!tokens_.empty() && tokens_.back().kind == kLiteral) {
        std::string& t = tokens_.back().text;
        while (!t.empty() && t.back() == ' ') t.pop_back();
        if (t.empty()) tokens_.pop_back();
      }
    } else if (c == '\'') {
      size_t j = i + 1;
      std::string text;
      while (j < f.size()) {
        if (f[j] == '\'') {
          if (j + 1 < f.size() && f[j + 1] == '\'') {
            text.push_back('\'');
            j += 2;
            continue;
          }
          break;
        }
        text.push_back(f[j++]);
      }
      if (text.empty() && j == i + 1 && j < f.size()) text.push_back('\'');  // '' is a quote
      literal(text);
      run = j + 1 - i;
    } else {
      literal(f.substr(i, run));
    }
    i += run;
  }
  // Lower-case h counts 1..12 only with an AM/PM marker.
  if (!hasAmPm)
    for (auto& t : tokens_) t.twelveHour = false;
  if (tokens_.empty()) *this = ElapsedFormatter(kDefaultLongTimeFormat);
}

size_t ElapsedFormatter::FormatTo(char* out, int32_t elapsedMs) const {
  int32_t ms = elapsedMs % kMsPerDay;  // the time of day; 25 hours show as 1 hour
  if (ms < 0) ms += kMsPerDay;
  const int32_t h24 = ms / 3600000;
  const int32_t minutes = ms / 60000 % 60;
  const int32_t seconds = ms / 1000 % 60;
  const int32_t hundredths = ms / 10 % 100;
  char* o = out;
  auto number = [&](int32_t v, bool twoDigits) {
    if (v >= 10 || twoDigits) *o++ = static_cast<char>('0' + v / 10);
    *o++ = static_cast<char>('0' + v % 10);
  };
  for (const Token& t : tokens_) {
    switch (t.kind) {
      case kLiteral:
        std::memcpy(o, t.text.data(), t.text.size());
        o += t.text.size();
        break;
      case kHour:
      case kHour2:
        number(t.twelveHour ? (h24 % 12 == 0 ? 12 : h24 % 12) : h24, t.kind == kHour2);
        break;
      case kMinute:
      case kMinute2:
        number(minutes, t.kind == kMinute2);
        break;
      case kSecond:
      case kSecond2:
        number(seconds, t.kind == kSecond2);
        break;
      case kAmPm:
      case kAmPmLower:
        *o++ = h24 < 12 ? (t.kind == kAmPm ? 'A' : 'a') : (t.kind == kAmPm ? 'P' : 'p');
        *o++ = t.kind == kAmPm ? 'M' : 'm';
        break;
    }
  }
  *o++ = '.';
  number(hundredths, true);
  return static_cast<size_t>(o - out);
}

std::string ElapsedFormatter::Format(int32_t elapsedMs) const {
  char buf[kMaxChars];
  return std::string(buf, FormatTo(buf, elapsedMs));
}

std::string FormatElapsed(int32_t elapsedMs, std::string_view longTimeFormat) {
  return ElapsedFormatter(longTimeFormat).Format(elapsedMs);
}

void AppendExportHeader(std::string& out, TextEncoding encoding) {
  out += "H:MM:SS.ms\t";
  for (const ExportColumn& c : kColumns) {
    if (encoding == TextEncoding::kUtf8)
      out += c.Name;
    else
      out += Utf8ToCp1251(c.Name);
    out += '\t';
  }
  out += "\r\n";
}

void AppendExportLine(std::string& out, const uint8_t* record, const ElapsedFormatter& time,
                      char separator, TextEncoding encoding) {
  char line[kLineMax];
  char* o = line;
  const size_t timeLength = time.FormatTo(o, static_cast<int32_t>(LoadLE32(record)));
  // A locale's time pattern may carry letters beyond ASCII (UTF-8 here); the file is
  // Windows-1251 throughout. The converted text is never longer than the UTF-8 one.
  if (encoding == TextEncoding::kCp1251 &&
      std::any_of(o, o + timeLength, [](char ch) { return static_cast<uint8_t>(ch) >= 0x80; })) {
    const std::string cp = Utf8ToCp1251(std::string_view(o, timeLength));
    std::memcpy(o, cp.data(), cp.size());
    o += cp.size();
  } else {
    o += timeLength;
  }
  *o++ = '\t';
  for (const ExportColumn& c : kColumns) {
    const double v = DecodeExportValue(c, record);
    if (c.ValueType == kValueFlag)
      *o++ = v != 0.0 ? '1' : '0';
    else
      o += FormatFixedTo(o, v, kExportPrecision, c.Decimals, separator);
    *o++ = '\t';
  }
  *o++ = '\r';
  *o++ = '\n';
  out.append(line, static_cast<size_t>(o - line));
}

namespace {

std::string BuildText(const uint8_t* records, int32_t n, const TextExportOptions& options) {
  const ElapsedFormatter time(options.LongTimeFormat);
  std::string out;
  out.reserve(256 + static_cast<size_t>(n > 0 ? n : 0) * 96);
  AppendExportHeader(out, options.Encoding);
  for (int32_t k = 0; k < n; ++k)
    AppendExportLine(out, records + static_cast<size_t>(k) * kRecordSize, time,
                     options.DecimalSeparator, options.Encoding);
  return out;
}

}  // namespace

std::string BuildTextExport(const HistoryStore& store, RecordRange range,
                            const TextExportOptions& options) {
  const RecordRange r = ClampRange(range, store.RecordCount());
  return BuildText(store.RecordBytes() + static_cast<size_t>(r.First) * kRecordSize, r.Count,
                   options);
}

void WriteTextExport(const std::filesystem::path& file, const uint8_t* records, int32_t n,
                     const TextExportOptions& options) {
  // Lines are gathered in one buffer and written a megabyte at a time.
  constexpr size_t kChunk = size_t{1} << 20;
  const ElapsedFormatter time(options.LongTimeFormat);
  ReplacingFile out(file);
  bool ok = out.IsOpen();
  std::string buf;
  buf.reserve(kChunk + kLineMax);
  AppendExportHeader(buf, options.Encoding);
  for (int32_t k = 0; ok && k < n; ++k) {
    AppendExportLine(buf, records + static_cast<size_t>(k) * kRecordSize, time,
                     options.DecimalSeparator, options.Encoding);
    if (buf.size() >= kChunk) {
      ok = out.Write(buf.data(), buf.size());
      buf.clear();
    }
  }
  ok = ok && out.Write(buf.data(), buf.size()) && out.Commit();
  if (!ok) throw DataFileError(FileMessage(kMsgFileCreateFailed, file));
}

void WriteTextExport(const std::filesystem::path& file, const HistoryStore& store,
                     RecordRange range, const TextExportOptions& options) {
  const RecordRange r = ClampRange(range, store.RecordCount());
  WriteTextExport(file, store.RecordBytes() + static_cast<size_t>(r.First) * kRecordSize, r.Count,
                  options);
}

void SaveRecords(const std::filesystem::path& file, const HistoryStore& store, RecordRange range,
                 const TextExportOptions& options) {
  if (IsTextExportName(file))
    WriteTextExport(file, store, range, options);
  else
    WriteDataFile(file, store, range);
}

}  // namespace kvd
