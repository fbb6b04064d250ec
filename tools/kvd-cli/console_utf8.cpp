// SPDX-License-Identifier: GPL-3.0-or-later
// The command line and the console in UTF-8. Windows hands main its arguments in the ANSI
// code page and shows console output in the OEM code page; kvd-cli takes and writes UTF-8,
// so there the arguments are taken again from the wide command line and the console is
// switched to UTF-8 output.
#include "console_utf8.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

namespace kvdcli {

#ifdef _WIN32
namespace {
std::string Utf8Of(const wchar_t* w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.pop_back();  // the terminating zero
  return s;
}
}  // namespace
#endif

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide != nullptr) {
    std::vector<std::string> args;
    args.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) args.push_back(Utf8Of(wide[i]));
    LocalFree(wide);
    if (!args.empty()) return args;
  }
#endif
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return args;
}

void UseUtf8Console() {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
#endif
}

}  // namespace kvdcli
