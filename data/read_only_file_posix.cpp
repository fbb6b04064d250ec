// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "data/read_only_file.h"

namespace kvd {

bool ReadOnlyFile::Open(const std::filesystem::path& file) {
  Close();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

int64_t ReadOnlyFile::Size() const {
  struct stat st {};
  if (!IsOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

size_t ReadOnlyFile::Read(void* to, size_t n) {
  if (!IsOpen() || to == nullptr) return 0;
  auto* p = static_cast<unsigned char*>(to);
  size_t done = 0;
  while (done < n) {
    // Kept below 1 GiB per call: some systems refuse larger reads.
    const size_t chunk = std::min<size_t>(n - done, size_t{1} << 30);
    const ssize_t got = ::read(static_cast<int>(handle_), p + done, chunk);
    if (got > 0) {
      done += static_cast<size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // end of file or a read error
    }
  }
  return done;
}

void ReadOnlyFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace kvd
