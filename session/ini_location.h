// Where the program's ini file "kvddiag.ini" is found: next to the program, else for an
// installed program in the system configuration folder.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

namespace kvd {

struct IniLocations {
  std::filesystem::path ProgramDir;       // the folder of the running program file
  std::filesystem::path InstalledBinDir;  // where an installed program lives; empty: none
  std::filesystem::path SystemConfigDir;  // the installed program's defaults; empty: none
};

// The ini file to read. A file next to the program always wins. Only a program that runs from
// the installed folder falls back to the system configuration folder, so that a build tree or
// a copy elsewhere never picks up the package's defaults. When neither folder holds a file the
// path next to the program is returned (reading it then gives the defaults).
std::filesystem::path FindIniFile(const IniLocations& where);

// The same, with the folders this build installs to.
std::filesystem::path FindIniFileForProgram(const std::filesystem::path& programDir);

// The system configuration folder of this build, e.g. /etc/kvd-diag.
std::filesystem::path SystemIniDirectory();

}  // namespace kvd
