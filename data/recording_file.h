// A data file written while the recording goes: the head first, then every record as it comes,
// handed to the operating system at once and synced to disk by a helper thread at most once a
// second. A file cut anywhere still opens: a torn last record is simply not counted.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <thread>

#include "data/durable_file.h"

namespace kvd {

class RecordingFile {
 public:
  explicit RecordingFile(std::chrono::milliseconds syncInterval = std::chrono::seconds(1));
  ~RecordingFile();
  RecordingFile(const RecordingFile&) = delete;
  RecordingFile& operator=(const RecordingFile&) = delete;

  // Creates the file (an existing one is replaced): the head, then n records (n x 44 bytes),
  // synced to disk together with the folder's entry before it returns. False on failure,
  // with no file left behind.
  bool Create(const std::filesystem::path& file, const uint8_t* records = nullptr, int32_t n = 0);
  // Appends one record (44 bytes). False when it could not be written; a record that went in
  // only partly is cut off again, and after a failure the file takes no more records (what it
  // holds stays valid).
  bool Append(const uint8_t* record);
  // Writes a new MarkWord into record index of the file (one already appended). False when it
  // could not be written; the file then takes nothing more, as after a failed Append.
  bool WriteMarkWord(int32_t index, uint32_t word);
  // Syncs to disk now (waits for it). False when the file is not open or the sync failed.
  bool Sync();
  // Stops the helper thread, syncs and closes. False when a write or a sync failed on the way.
  bool Close();
  // Closes and deletes the file.
  void Remove();

  bool IsOpen() const { return file_.IsOpen(); }
  bool Failed() const;
  int32_t Records() const { return records_; }
  const std::filesystem::path& Path() const { return path_; }
  // How many syncs the helper thread has made (for tests and measuring).
  int64_t SyncCount() const;

 private:
  void SyncLoop();
  void StopSyncThread();

  std::chrono::milliseconds syncInterval_;
  std::filesystem::path path_;
  DurableFile file_;
  DurableFile syncHandle_;
  int32_t records_ = 0;
  bool writeFailed_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread syncThread_;
  bool dirty_ = false;
  bool stop_ = false;
  bool syncFailed_ = false;
  int64_t syncs_ = 0;
};

}  // namespace kvd
