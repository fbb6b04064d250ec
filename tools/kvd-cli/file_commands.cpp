// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder until the data-file commands land.
#include <cstdio>

#include "commands.h"

namespace kvdcli {
int CmdInfo(const Args&) { std::fputs("kvd-cli: info is not available yet\n", stderr); return 1; }
int CmdExport(const Args&) { std::fputs("kvd-cli: export is not available yet\n", stderr); return 1; }
}  // namespace kvdcli
