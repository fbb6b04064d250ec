// File names from UTF-8 text. A std::filesystem::path made from a plain char string reads it
// in the ANSI code page on Windows, so every name that comes as UTF-8 (the command line, the
// program's texts, the tests) is turned into a path here.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kvd {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace kvd
