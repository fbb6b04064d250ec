// Commands of kvd-cli, one function each. args[0] is the command's first argument.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kvdcli {

using Args = std::vector<std::string>;

// A file name from the command line, which is UTF-8 text.
std::filesystem::path PathOf(const std::string& arg);

int CmdInfo(const Args& args);    // info FILE.kdd
int CmdExport(const Args& args);  // export FILE.kdd OUT.txt [options]
int CmdLive(const Args& args);    // live [--demo | --port N|PATH] [--seconds N] ...

}  // namespace kvdcli
