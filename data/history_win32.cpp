// SPDX-License-Identifier: GPL-3.0-or-later
// The history block on Windows: a mapping backed by the paging file, zero-filled. The
// mapping handle is closed at once; the view keeps the memory alive.
#include <windows.h>

#include "data/history.h"

namespace kvd {

uint8_t* MapHistoryBlock(size_t bytes) {
  const unsigned long long size = bytes;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(size >> 32),
                                      static_cast<DWORD>(size & 0xFFFFFFFFu), nullptr);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
  CloseHandle(mapping);
  return static_cast<uint8_t*>(view);
}

void UnmapHistoryBlock(uint8_t* p, size_t) {
  if (p != nullptr) UnmapViewOfFile(p);
}

}  // namespace kvd
