// Windows-1251 text: the code page of the files the program writes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace kvd {

// UTF-8 to Windows-1251; a character the code page lacks, or a broken UTF-8 sequence,
// becomes '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// Windows-1251 to UTF-8; the one unassigned byte (98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace kvd
