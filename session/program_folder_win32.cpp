// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <system_error>

#include "session/program_folder.h"

namespace kvd {

std::filesystem::path ProgramFolder() {
  // The module name may be longer than MAX_PATH: grow the buffer until it fits.
  std::wstring name(MAX_PATH, L'\0');
  for (int tries = 0; tries < 8; ++tries) {
    const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) break;
    if (n < name.size()) {
      name.resize(n);
      const std::filesystem::path self(name);
      if (self.has_parent_path()) return self.parent_path();
      break;
    }
    name.resize(name.size() * 2);
  }
  std::error_code ec;
  return std::filesystem::current_path(ec);
}

}  // namespace kvd
