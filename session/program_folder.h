// The folder of the running program, where its ini file "kvddiag.ini" lies.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

namespace kvd {

// The folder that holds the running program's file; the current folder when the system
// cannot tell.
std::filesystem::path ProgramFolder();

}  // namespace kvd
