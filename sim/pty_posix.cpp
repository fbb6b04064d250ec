// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/pty_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/termios2_posix.h"

namespace kvd::posix {

namespace {
std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

bool OpenPseudoTerminal(PseudoTerminal& out, std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error = ErrnoText("posix_openpt");
    return false;
  }
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    error = ErrnoText("grantpt/unlockpt");
    close(master);
    return false;
  }
  const char* name = ptsname(master);
  if (name == nullptr) {
    error = ErrnoText("ptsname");
    close(master);
    return false;
  }
  const std::string path = name;
  const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave) || !MakeRaw(master) ||
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    error = ErrnoText("setting up the pseudo-terminal");
    if (slave >= 0) close(slave);
    close(master);
    return false;
  }
  out.master = master;
  out.slave = slave;
  out.path = path;
  return true;
}

}  // namespace kvd::posix
