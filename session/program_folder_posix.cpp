// SPDX-License-Identifier: GPL-3.0-or-later
#include <system_error>

#include "session/program_folder.h"

namespace kvd {

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path();
  return std::filesystem::current_path(ec);
}

}  // namespace kvd
