// SPDX-License-Identifier: GPL-3.0-or-later
// The history block on POSIX systems: an anonymous private mapping, zero-filled.
#include <sys/mman.h>

#include "data/history.h"

namespace kvd {

uint8_t* MapHistoryBlock(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

void UnmapHistoryBlock(uint8_t* p, size_t bytes) {
  if (p != nullptr) munmap(p, bytes);
}

}  // namespace kvd
