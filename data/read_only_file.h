// A file opened for reading while others may read it too but not write it: a data file is
// not changed under the reader's feet. Windows enforces this with the open's share mode;
// POSIX systems have no such mode, and there any other writer is not held off.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kvd {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile() { Close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // False when the file cannot be opened (missing, no rights, or, on Windows, open for
  // writing elsewhere).
  bool Open(const std::filesystem::path& file);
  bool IsOpen() const { return handle_ != kNone; }
  // The size in bytes, -1 when it cannot be told.
  int64_t Size() const;
  // Reads up to n bytes from the current position; returns how many arrived (fewer only at
  // the end of the file or after a read error).
  size_t Read(void* to, size_t n);
  void Close();

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;  // a file descriptor, or a HANDLE on Windows
};

}  // namespace kvd
