// A raw pseudo-terminal for the simulators' servers (POSIX systems).
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kvd::posix {

struct PseudoTerminal {
  int master = -1;  // non-blocking
  int slave = -1;   // kept open by the server, so that a tester never meets a hung-up line
  std::string path;
};

// Creates one, both ends raw. False with a message (nothing left open).
bool OpenPseudoTerminal(PseudoTerminal& out, std::string& error);

}  // namespace kvd::posix
