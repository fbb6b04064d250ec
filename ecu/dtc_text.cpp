// SPDX-License-Identifier: GPL-3.0-or-later
// Trouble-code texts. The tables are the data files ecu/dtc/dtc_*.tsv, one "P1234<TAB>text"
// line per code, whose bytes the build embeds; each table is indexed on its first use.
#include "ecu/dtc_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "data/cp1251.h"

namespace kvd::dtc_data {
extern const unsigned char kTable_ru[];
extern const std::size_t kTableSize_ru;
extern const unsigned char kTable_en[];
extern const std::size_t kTableSize_en;
extern const unsigned char kTable_de[];
extern const std::size_t kTableSize_de;
}  // namespace kvd::dtc_data

namespace kvd {

namespace {

using Row = std::pair<uint16_t, std::string_view>;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The rows of one table, sorted by code. A line that is not "P" with four hexadecimal
// digits, a TAB and the text is skipped; of two lines with the same code the first counts.
std::vector<Row> ParseTable(std::string_view data) {
  std::vector<Row> rows;
  while (!data.empty()) {
    const size_t eol = data.find('\n');
    std::string_view line = data.substr(0, eol);
    data.remove_prefix(eol == std::string_view::npos ? data.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 6 || line[0] != 'P' || line[5] != '\t') continue;
    int32_t code = 0;
    bool ok = true;
    for (size_t i = 1; i <= 4; ++i) {
      const int d = HexDigit(line[i]);
      ok = ok && d >= 0;
      code = code * 16 + std::max(d, 0);
    }
    if (ok) rows.emplace_back(static_cast<uint16_t>(code), line.substr(6));
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.first < b.first; });
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](const Row& a, const Row& b) { return a.first == b.first; }),
             rows.end());
  return rows;
}

std::string_view Bytes(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

const std::vector<Row>& Table(DtcLanguage language) {
  static const std::array<std::vector<Row>, 3> tables = {
      ParseTable(Bytes(dtc_data::kTable_ru, dtc_data::kTableSize_ru)),
      ParseTable(Bytes(dtc_data::kTable_en, dtc_data::kTableSize_en)),
      ParseTable(Bytes(dtc_data::kTable_de, dtc_data::kTableSize_de)),
  };
  static const std::vector<Row> none;
  const auto index = static_cast<int32_t>(language);
  return index >= 0 && index < 3 ? tables[static_cast<size_t>(index)] : none;
}

}  // namespace

DtcLanguage DtcLanguageOf(std::string_view languageName) {
  std::string lower(languageName);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower.find("deutsch") != std::string::npos) return DtcLanguage::German;
  if (lower.find("english") != std::string::npos) return DtcLanguage::English;
  if (lower.find("russian") != std::string::npos) return DtcLanguage::Russian;
  return DtcLanguage::None;
}

std::string_view TroubleCodeTextUtf8(uint16_t code, DtcLanguage language) {
  const std::vector<Row>& rows = Table(language);
  const auto it = std::lower_bound(rows.begin(), rows.end(), code,
                                   [](const Row& row, uint16_t c) { return row.first < c; });
  return it != rows.end() && it->first == code ? it->second : std::string_view();
}

std::string TroubleCodeText(uint16_t code, std::string_view languageName) {
  return Utf8ToCp1251(TroubleCodeTextUtf8(code, DtcLanguageOf(languageName)));
}

std::vector<uint16_t> DtcTableCodes(DtcLanguage language) {
  std::vector<uint16_t> codes;
  for (const Row& row : Table(language)) codes.push_back(row.first);
  return codes;
}

}  // namespace kvd
