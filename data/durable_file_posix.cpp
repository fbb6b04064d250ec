// SPDX-License-Identifier: GPL-3.0-or-later
// Durable files on POSIX: open/write/fdatasync/rename and a sync of the folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "data/durable_file.h"

namespace kvd {

namespace fs = std::filesystem;

DurableFile::~DurableFile() {
  Close();
}

DurableFile::DurableFile(DurableFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool DurableFile::Open(const fs::path& file, Mode mode) {
  Close();
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::CreateNew ? O_EXCL : O_TRUNC);
  do {
    fd_ = ::open(file.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return false;
  // Only a plain file: a fifo or device would take the data somewhere else.
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  path_ = file;
  return true;
}

bool DurableFile::IsOpen() const {
  return fd_ >= 0;
}

bool DurableFile::Write(const void* data, size_t size) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool DurableFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool DurableFile::Sync() {
  if (fd_ < 0) return false;
#if defined(__APPLE__)
  return ::fsync(fd_) == 0;
#else
  int rc;
  do {
    rc = ::fdatasync(fd_);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
#endif
}

bool DurableFile::Truncate(uint64_t size) {
  if (fd_ < 0) return false;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return false;
  return ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) == static_cast<off_t>(size);
}

DurableFile DurableFile::SyncHandle() const {
  DurableFile f;
  if (fd_ >= 0) {
    f.fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (f.fd_ >= 0) f.path_ = path_;
  }
  return f;
}

bool DurableFile::Close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  // close() after EINTR has released the descriptor on Linux; do not close it twice.
  return rc == 0 || errno == EINTR;
}

bool SyncFolder(const fs::path& folder) {
  const fs::path dir = folder.empty() ? fs::path(".") : folder;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  ::close(fd);
  // Some file systems cannot sync a folder at all; the rename itself is done.
  return rc == 0 || errno == EINVAL || errno == EROFS;
}

bool ReplaceDurably(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  return SyncFolder(to.parent_path());
}

}  // namespace kvd
