// SPDX-License-Identifier: GPL-3.0-or-later
// Durable files on Windows: CreateFileW/WriteFile/FlushFileBuffers and MoveFileExW with
// MOVEFILE_WRITE_THROUGH.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

#include "data/durable_file.h"

namespace kvd {

namespace fs = std::filesystem;

namespace {
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}  // namespace

DurableFile::~DurableFile() {
  Close();
}

DurableFile::DurableFile(DurableFile&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool DurableFile::Open(const fs::path& file, Mode mode) {
  Close();
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                           mode == Mode::CreateNew ? CREATE_NEW : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return false;
  }
  handle_ = h;
  path_ = file;
  return true;
}

bool DurableFile::IsOpen() const {
  return handle_ != nullptr;
}

bool DurableFile::Write(const void* data, size_t size) {
  if (!handle_) return false;
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(static_cast<HANDLE>(handle_), p, chunk, &written, nullptr) || written == 0)
      return false;
    p += written;
    size -= written;
  }
  return true;
}

bool DurableFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (!handle_) return false;
  HANDLE h = static_cast<HANDLE>(handle_);
  const auto* p = static_cast<const char*>(data);
  bool ok = true;
  while (ok && size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    ok = ::WriteFile(h, p, chunk, &written, &at) && written > 0;
    p += written;
    offset += written;
    size -= written;
  }
  // A positioned write on a synchronous handle moves the file pointer: back to the end.
  LARGE_INTEGER zero{};
  return ::SetFilePointerEx(h, zero, nullptr, FILE_END) && ok;
}

bool DurableFile::Sync() {
  return handle_ && ::FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
}

bool DurableFile::Truncate(uint64_t size) {
  if (!handle_) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(static_cast<HANDLE>(handle_));
}

DurableFile DurableFile::SyncHandle() const {
  DurableFile f;
  if (!handle_) return f;
  HANDLE h = ::CreateFileW(path_.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return f;
  f.handle_ = h;
  f.path_ = path_;
  return f;
}

bool DurableFile::Close() {
  if (!handle_) return true;
  const BOOL ok = ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  return ok != 0;
}

bool SyncFolder(const fs::path&) {
  return true;
}

bool ReplaceDurably(const fs::path& from, const fs::path& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace kvd
