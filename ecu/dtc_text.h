// Description texts of trouble codes in Russian, English and German, and their lookup.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvd {

enum class DtcLanguage : int32_t { None = -1, Russian = 0, English = 1, German = 2 };

// The table a language name chooses: the name is lower-cased and searched for "deutsch", then
// "english", then "russian"; anything else chooses no table.
DtcLanguage DtcLanguageOf(std::string_view languageName);

// The description of a code in one table as UTF-8; empty when the table has no text for it.
std::string_view TroubleCodeTextUtf8(uint16_t code, DtcLanguage language);

// The description of a code in the table the language name chooses, in Windows-1251; empty
// when the name chooses no table or the table has no text for the code.
std::string TroubleCodeText(uint16_t code, std::string_view languageName);

// The codes a table holds, ascending (a code may be held with an empty text).
std::vector<uint16_t> DtcTableCodes(DtcLanguage language);

}  // namespace kvd
