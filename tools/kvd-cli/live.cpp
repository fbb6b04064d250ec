// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder until the live command lands.
#include <cstdio>

#include "commands.h"

namespace kvdcli {
int CmdLive(const Args&) { std::fputs("kvd-cli: live is not available yet\n", stderr); return 1; }
}  // namespace kvdcli
