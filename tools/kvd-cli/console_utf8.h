// The command line and the console in UTF-8 on every system.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kvdcli {

// The program's arguments (program name first) as UTF-8 text.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes a console show the UTF-8 that the program writes (Windows; nothing elsewhere).
void UseUtf8Console();

}  // namespace kvdcli
