// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

#include "data/read_only_file.h"

namespace kvd {

namespace {
HANDLE AsHandle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}
}  // namespace

bool ReadOnlyFile::Open(const std::filesystem::path& file) {
  Close();
  // Others may read the file while it is open here, but not write it.
  const HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

int64_t ReadOnlyFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

size_t ReadOnlyFile::Read(void* to, size_t n) {
  if (!IsOpen() || to == nullptr) return 0;
  auto* p = static_cast<unsigned char*>(to);
  size_t done = 0;
  while (done < n) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, DWORD{1} << 30));
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), p + done, chunk, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

void ReadOnlyFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNone;
}

}  // namespace kvd
