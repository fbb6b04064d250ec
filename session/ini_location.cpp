// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ini_location.h"

#include <system_error>

#include "session/poll_settings.h"

// The build system names the install folders; a build without them knows no installed copy.
#ifndef KVD_INSTALL_FULL_BINDIR
#define KVD_INSTALL_FULL_BINDIR ""
#endif
#ifndef KVD_SYSTEM_INI_DIR
#define KVD_SYSTEM_INI_DIR ""
#endif

namespace kvd {

namespace {

bool IsPlainFile(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec);
}

// Both name the same existing folder (symbolic links and /bin -> /usr/bin resolved).
bool SameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace

std::filesystem::path FindIniFile(const IniLocations& where) {
  const std::filesystem::path nextToProgram = where.ProgramDir / kIniFileName;
  if (IsPlainFile(nextToProgram)) return nextToProgram;
  if (!where.SystemConfigDir.empty() && SameFolder(where.ProgramDir, where.InstalledBinDir)) {
    const std::filesystem::path system = where.SystemConfigDir / kIniFileName;
    if (IsPlainFile(system)) return system;
  }
  return nextToProgram;
}

std::filesystem::path SystemIniDirectory() {
  return std::filesystem::path(KVD_SYSTEM_INI_DIR);
}

std::filesystem::path FindIniFileForProgram(const std::filesystem::path& programDir) {
  return FindIniFile(
      {programDir, std::filesystem::path(KVD_INSTALL_FULL_BINDIR), SystemIniDirectory()});
}

}  // namespace kvd
