// Files that survive a crash: raw unbuffered writes, syncing to disk, and replacing a file so that
// the old or the new content is there after a power cut, never a mix.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kvd {

// A file opened for writing. Every Write goes straight to the operating system (no buffer of
// our own), so a killed process loses nothing that Write accepted. Move-only.
class DurableFile {
 public:
  enum class Mode {
    CreateNew,  // fails when the file exists
    Replace,    // created, or emptied when it exists
  };

  DurableFile() = default;
  ~DurableFile();
  DurableFile(DurableFile&& other) noexcept;
  DurableFile& operator=(DurableFile&& other) noexcept;
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  bool Open(const std::filesystem::path& file, Mode mode);
  bool IsOpen() const;
  // Writes all bytes; false when the system refused some (disk full, file size limit, I/O
  // error). Part of the bytes may have reached the file then: see Truncate.
  bool Write(const void* data, size_t size);
  // Writes all bytes at offset, over what is there; later Writes still go to the end.
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  // Its data on the disk (fdatasync / FlushFileBuffers).
  bool Sync();
  // Cuts the file to size bytes and writes on from there.
  bool Truncate(uint64_t size);
  // A second handle of the same file, for syncing it from another thread while this one
  // writes (a sync on a handle would otherwise hold up the writes through it on Windows).
  DurableFile SyncHandle() const;
  bool Close();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Syncs a folder's entries (a rename or a new file in it) to disk. POSIX only; true on Windows,
// where the file system journals names itself.
bool SyncFolder(const std::filesystem::path& folder);

// Renames from over to, replacing to, and makes the rename durable: on POSIX rename() and a
// sync of the folder, on Windows MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH. The caller syncs the file itself first.
bool ReplaceDurably(const std::filesystem::path& from, const std::filesystem::path& to);

// A free name beside target for a file that is renamed over it later (same folder, so the
// rename stays on one file system): target's name + ".tmp" + a random number.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target);

}  // namespace kvd
