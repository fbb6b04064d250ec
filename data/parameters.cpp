// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "data/history.h"

namespace kvd {

namespace {

ParameterDescriptor Entry(const char* name, int32_t position, int32_t type, int32_t mask,
                          int32_t decimals, double min, double max, double divisor,
                          double subtrahend, double multiplier, double rawOffset) {
  ParameterDescriptor d;
  d.Name = name;
  d.RecordPosition = position;
  d.ValueType = type;
  d.Decimals = decimals;
  d.Mask = mask;
  d.DefaultMin = min;
  d.DefaultMax = max;
  d.Divisor = divisor;
  d.Subtrahend = subtrahend;
  d.Multiplier = multiplier;
  d.RawOffset = rawOffset;
  return d;
}

ParameterDescriptor Flag(const char* name, int32_t position, int32_t mask) {
  return Entry(name, position, kValueFlag, mask, 0, 0, 1, 1, 0, 1, 0);
}

std::array<ParameterDescriptor, kParameterCount> BuildCatalogue() {
  constexpr int32_t B = kValueUnsignedByteMasked;
  constexpr int32_t W = kValueUnsignedWordLE;
  return {{
      Entry("Положение дросселя", 18, B, 0xFF, 0, 0, 100, 1, 0, 1, 0),
      Entry("Обороты двигателя [40]", 19, B, 0xFF, 0, 0, 10200, 1, 0, 40, 0),
      Entry("Обороты двигателя [10]", 20, B, 0xFF, 0, 0, 10200, 1, 0, 10, 0),
      Entry("Желаемые обороты ХХ", 27, B, 0xFF, 0, 0, 2550, 1, 0, 10, 0),
      Entry("Положение РХХ", 21, B, 0xFF, 0, 0, 200, 1, 0, 1, 0),
      Entry("Желаемое положение РХХ", 22, B, 0xFF, 0, 0, 200, 1, 0, 1, 0),
      Entry("Температура ОЖ", 16, B, 0xFF, 0, -40, 120, 1, 40, 1, 0),
      Entry("Состав смеси", 17, B, 0xFF, 2, 7, 20, 256, 0, 14.7, -128),
      Entry("Коэфф.корр. врем. впрыска", 23, B, 0xFF, 3, 0.5, 1.5, 256, 0, 1, -128),
      Entry("Время впрыска", 30, W, 0xFF, 3, 0, 40, 125, 0, 1, 0),
      Entry("Часовой расход топлива", 36, W, 0xFF, 2, 0, 50, 50, 0, 1, 0),
      Entry("Путевой расход топлива", 38, W, 0xFF, 2, 0, 50, 128, 0, 1, 0),
      Entry("УОЗ", 24, kValueSignedByte, 0xFF, 1, -20, 60, 2, 0, 1, 0),
      Entry("Массовый РВ", 32, W, 0x00, 1, 0, 600, 10, 0, 1, 0),
      Entry("Цикловый РВ", 34, W, 0xFF, 2, 0, 600, 6, 0, 1, 0),
      Entry("Скорость автомобиля", 25, B, 0xFF, 0, 0, 200, 1, 0, 1, 0),
      Entry("Напряжение ДК", 28, B, 0xFF, 3, 0, 1.2, 256, 0, 1.25, 0),
      Flag("Флаг остановки двигателя", 10, 0x01),
      Flag("Флаг холостого хода", 10, 0x02),
      Flag("Флаг наличия ХХ в прош. цикле", 11, 0x02),
      Flag("Флаг разр. блокировки вых. из ХХ", 11, 0x04),
      Flag("Флаг мощн. обогащения", 10, 0x04),
      Flag("Флаг откл. топлива", 10, 0x08),
      Flag("Флаг попадания в зону детонации", 10, 0x20),
      Flag("Флаг обнаружения детонации", 10, 0x20),
      Flag("Флаг попад. в зону дет. в прош. цикле", 11, 0x08),
      Flag("Флаг продувки адсорбера", 10, 0x40),
      Flag("Флаг продувки адс. в прош. цикле", 11, 0x10),
      Flag("Флаг регулирования по ДК", 10, 0x10),
      Flag("Флаг прошлого сост. ДК", 11, 0x40),
      Flag("Флаг текущего сост. ДК", 11, 0x80),
      Flag("Флаг сохранения обучения", 10, 0x80),
      Flag("Флаг готовности ДК", 29, 0x01),
      Flag("Флаг разреш. нагрева ДК", 29, 0x02),
  }};
}

}  // namespace

const std::array<ParameterDescriptor, kParameterCount>& ParameterCatalogue() {
  static const std::array<ParameterDescriptor, kParameterCount> catalogue = BuildCatalogue();
  return catalogue;
}

std::optional<ParameterDescriptor> LookupParameter(ParameterNumber number) {
  if (number < 1 || number > kParameterCount) return std::nullopt;
  return ParameterCatalogue()[static_cast<size_t>(number - 1)];
}

std::vector<std::string> ParameterNameList() {
  std::vector<std::string> names;
  names.reserve(kParameterCount);
  for (const auto& d : ParameterCatalogue()) names.push_back(d.Name);
  return names;
}

int32_t ValueTypeWidth(int32_t valueType) {
  switch (valueType) {
    case kValueUnsignedWordLE:
    case kValueSignedWordLE:
    case kValueUnsignedWordBE:
    case kValueSignedWordBE:
      return 2;
    case kValueUnsignedLong:
    case kValueSignedLong:
      return 4;
    default:
      return 1;
  }
}

double ReadRawValue(const uint8_t* r, int32_t pos, int32_t valueType, int32_t mask) {
  if (pos < 0 || pos > kRecordSize - ValueTypeWidth(valueType)) return 0.0;
  const uint8_t* p = r + pos;
  const uint8_t m = static_cast<uint8_t>(mask);
  switch (valueType) {
    case kValueUnsignedByteMasked:
    case kValueBitPattern:
      return static_cast<double>(p[0] & m);
    case kValueSignedByte:
      return static_cast<double>(static_cast<int8_t>(p[0]));
    case kValueUnsignedWordLE:
      return static_cast<double>(LoadLE16(p));
    case kValueSignedWordLE:
      return static_cast<double>(static_cast<int16_t>(LoadLE16(p)));
    case kValueUnsignedLong:
      return static_cast<double>(LoadLE32(p));
    case kValueSignedLong:
      return static_cast<double>(static_cast<int32_t>(LoadLE32(p)));
    case kValueFlag:
      return (p[0] & m) != 0 ? 1.0 : 0.0;
    case kValueUnsignedWordBE:
      return static_cast<double>(static_cast<uint16_t>((p[0] << 8) | p[1]));
    case kValueSignedWordBE:
      return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>((p[0] << 8) | p[1])));
    default:
      return static_cast<double>(p[0]);
  }
}

double ScaleRawValue(double raw, double divisor, double subtrahend, double reciprocalNumerator,
                     double multiplier, double rawOffset) {
  if (divisor == 0.0) return 0.0;
  if (reciprocalNumerator != 0.0) {
    if (std::fabs(raw) < 1e-11) return 0.0;
    return (reciprocalNumerator / raw - rawOffset) * multiplier / divisor - subtrahend;
  }
  return multiplier * (raw - rawOffset) / divisor - subtrahend;
}

double DecodeValue(const ParameterDescriptor& d, const uint8_t* record) {
  const double raw = ReadRawValue(record, d.RecordPosition, d.ValueType, d.Mask);
  if (d.ValueType == kValueFlag) return raw;
  return ScaleRawValue(raw, d.Divisor, d.Subtrahend, d.ReciprocalNumerator, d.Multiplier,
                       d.RawOffset);
}

double DecodeValue(const ParameterDescriptor& d, const HistoryRecord& record) {
  return DecodeValue(d, record.Bytes);
}

bool FlagIsOn(double value) {
  return value > 0.5;
}

std::string_view FlagText(double value) {
  return FlagIsOn(value) ? "ДА" : "НЕТ";
}

std::string BitPatternText(double value) {
  double r = std::isfinite(value) ? std::round(value) : 0.0;
  if (r < 0.0) r = 0.0;
  if (r > 255.0) r = 255.0;
  const unsigned byte = static_cast<unsigned>(r);
  std::string s(8, '0');
  for (int i = 0; i < 8; ++i)
    if (byte & (0x80u >> i)) s[static_cast<size_t>(i)] = '1';
  return s;
}

uint32_t ErrorMaskOfDataBlock(const uint8_t* b) {
  return (uint32_t{b[6]} << 24) | (uint32_t{b[7]} << 16) | (uint32_t{b[8]} << 8) | uint32_t{b[9]};
}

uint32_t ErrorMaskOfRecord(const uint8_t* r) {
  return ErrorMaskOfDataBlock(r + 6);
}

size_t FormatFixedTo(char* out, double value, int precision, int decimals, char separator) {
  char* o = out;
  if (std::isnan(value)) {
    std::memcpy(o, "NAN", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *o++ = '-';
    std::memcpy(o, "INF", 3);
    return static_cast<size_t>(o - out) + 3;
  }
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;

  // Most values are small: rounding then happens at the last decimal, and the scaled
  // value decides it unless it lies within a hair of a tie (left to the exact path).
  {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
    const double mag = std::fabs(value);
    if (decimals <= 7 && precision <= 7 && precision >= decimals &&
        mag < kPow10[precision - decimals]) {
      const double x = mag * kPow10[decimals];  // below 10^7: exact to about 1e-9
      const double whole = std::floor(x);
      const double frac = x - whole;
      if (std::fabs(frac - 0.5) > 1e-6) {
        const uint64_t n = static_cast<uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
        if (n < static_cast<uint64_t>(kPow10[precision])) {
          char tmp[24];
          int len = 0;
          for (uint64_t v = n; v > 0 || len == 0; v /= 10)
            tmp[len++] = static_cast<char>('0' + v % 10);
          while (len < decimals + 1) tmp[len++] = '0';
          if (n != 0 && std::signbit(value)) *o++ = '-';
          for (int i = len - 1; i >= decimals; --i) *o++ = tmp[i];
          if (decimals > 0) {
            *o++ = separator;
            for (int i = decimals - 1; i >= 0; --i) *o++ = tmp[i];
          }
          return static_cast<size_t>(o - out);
        }
      }
    }
  }

  // Shortest decimal digits of the value: digits[0..n) with digits[0] at 10^exp.
  char digits[24];
  int n = 0;
  int exp = 0;
  const bool negative = std::signbit(value);
  const double mag = std::fabs(value);
  if (mag != 0.0) {
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific);
    const char* p = buf;
    for (; p < res.ptr && *p != 'e'; ++p)
      if (*p >= '0' && *p <= '9' && n < 20) digits[n++] = *p;
    if (p < res.ptr) {
      ++p;
      bool eneg = false;
      if (*p == '-' || *p == '+') eneg = (*p++ == '-');
      for (; p < res.ptr; ++p) exp = exp * 10 + (*p - '0');
      if (eneg) exp = -exp;
    }
    while (n > 1 && digits[n - 1] == '0') --n;
  }

  // Round at the coarser of the precision-th significant digit and the last decimal.
  if (n > 0) {
    const int lowest = std::max(exp - (precision - 1), -decimals);  // power of the last kept digit
    const int keep = exp - lowest + 1;                              // digits kept
    if (keep < 0) {
      n = 0;
    } else if (keep == 0) {
      if (digits[0] >= '5') {
        digits[0] = '1';
        n = 1;
        exp = lowest;
      } else {
        n = 0;
      }
    } else if (keep < n) {
      const bool up = digits[keep] >= '5';
      n = keep;
      if (up) {
        int i = n - 1;
        while (i >= 0 && digits[i] == '9') {
          digits[i] = '0';
          --i;
        }
        if (i >= 0) {
          ++digits[i];
        } else {
          std::memmove(digits + 1, digits, static_cast<size_t>(n));
          digits[0] = '1';
          ++n;
          ++exp;
        }
      }
      while (n > 1 && digits[n - 1] == '0') --n;
    }
  }

  if (n == 0) {  // rounds to zero: no sign
    *o++ = '0';
    if (decimals > 0) {
      *o++ = separator;
      std::memset(o, '0', static_cast<size_t>(decimals));
      o += decimals;
    }
    return static_cast<size_t>(o - out);
  }

  if (negative) *o++ = '-';
  if (exp + 1 > precision) {
    // Exponent notation: d.ddddE+XX with the significant digits kept.
    *o++ = digits[0];
    if (n > 1) {
      *o++ = separator;
      std::memcpy(o, digits + 1, static_cast<size_t>(n - 1));
      o += n - 1;
    }
    *o++ = 'E';
    *o++ = '+';
    if (exp < 10) *o++ = '0';
    auto res = std::to_chars(o, o + 8, exp);
    o = res.ptr;
    return static_cast<size_t>(o - out);
  }

  auto digitAt = [&](int power) -> char {
    const int i = exp - power;
    return (i >= 0 && i < n) ? digits[i] : '0';
  };
  if (exp < 0) {
    *o++ = '0';
  } else {
    for (int pw = exp; pw >= 0; --pw) *o++ = digitAt(pw);
  }
  if (decimals > 0) {
    *o++ = separator;
    for (int pw = -1; pw >= -decimals; --pw) *o++ = digitAt(pw);
  }
  return static_cast<size_t>(o - out);
}

std::string FormatFixed(double value, int precision, int decimals, char separator) {
  char buf[kFormatFixedMaxChars];
  return std::string(buf, FormatFixedTo(buf, value, precision, decimals, separator));
}

std::string FormatParameterValue(const ParameterDescriptor& d, double value, int precision,
                                 char separator) {
  if (d.ValueType == kValueFlag) return std::string(FlagText(value));
  if (d.ValueType == kValueBitPattern) return BitPatternText(value);
  return FormatFixed(value, precision, d.Decimals, separator);
}

}  // namespace kvd
