// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of durable files that are the same on every system.
#include <atomic>
#include <chrono>
#include <random>
#include <string>

#include "data/durable_file.h"

namespace kvd {

std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target) {
  static std::atomic<uint32_t> counter{0};
  std::random_device rd;
  const auto ticks =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const uint64_t tag = (uint64_t{rd()} << 20) ^ ticks ^ (uint64_t{counter++} << 8);
  std::filesystem::path name = target.filename();
  name += ".tmp" + std::to_string(tag % 100000000);
  return target.parent_path() / name;
}

}  // namespace kvd
