// Windows-1251 text: the code page of the files the program writes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvd {

// UTF-8 to Windows-1251; a character the code page lacks, or a broken UTF-8 sequence,
// becomes '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// UTF-8 to Windows-1251 when every character has its byte in the code page; nothing when a
// character is missing there or the UTF-8 is broken. For text that goes to the ECU as it is.
std::optional<std::string> Utf8ToCp1251Exact(std::string_view utf8);

// Whether Windows-1251 holds this Unicode code point.
bool Cp1251Holds(uint32_t codePoint);

// Windows-1251 to UTF-8; the one unassigned byte (98) becomes '?'.
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace kvd
