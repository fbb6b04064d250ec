// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/recording_file.h"

#include <system_error>

#include "data/data_file.h"
#include "data/history.h"

namespace kvd {

namespace fs = std::filesystem;

RecordingFile::RecordingFile(std::chrono::milliseconds syncInterval)
    : syncInterval_(syncInterval) {}

RecordingFile::~RecordingFile() {
  Close();
}

bool RecordingFile::Create(const fs::path& file, const uint8_t* records, int32_t n) {
  Close();
  path_ = file;
  records_ = 0;
  writeFailed_ = false;
  syncFailed_ = false;
  syncs_ = 0;
  if (!file_.Open(file, DurableFile::Mode::Replace)) return false;
  static constexpr auto head = DataFileHead();
  const size_t body = records && n > 0 ? static_cast<size_t>(n) * kRecordSize : 0;
  // The head and what is there already reach the disk, and the file's name with them, before
  // the first record is appended.
  if (!file_.Write(head.data(), head.size()) || (body > 0 && !file_.Write(records, body)) ||
      !file_.Sync() || !SyncFolder(file.parent_path())) {
    file_.Close();
    std::error_code ec;
    fs::remove(file, ec);
    return false;
  }
  records_ = body > 0 ? n : 0;
  syncHandle_ = file_.SyncHandle();
  stop_ = false;
  dirty_ = false;
  syncThread_ = std::thread([this] { SyncLoop(); });
  return true;
}

bool RecordingFile::Append(const uint8_t* record) {
  if (!file_.IsOpen() || writeFailed_ || record == nullptr) return false;
  if (!file_.Write(record, kRecordSize)) {
    // A full disk may have taken part of the record: cut it off, so that a record appended
    // later (there is none; the file stops here) could never land misaligned.
    file_.Truncate(static_cast<uint64_t>(kDataFileHeadSize) +
                   static_cast<uint64_t>(records_) * kRecordSize);
    writeFailed_ = true;
    return false;
  }
  ++records_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_ = true;
  }
  wake_.notify_one();
  return true;
}

bool RecordingFile::WriteMarkWord(int32_t index, uint32_t word) {
  if (!file_.IsOpen() || writeFailed_ || index < 0 || index >= records_) return false;
  uint8_t bytes[4];
  StoreLE32(bytes, word);
  // Four aligned bytes never straddle a sector: after a crash the word is the old or the new.
  const uint64_t at = static_cast<uint64_t>(kDataFileHeadSize) +
                      static_cast<uint64_t>(index) * kRecordSize + kRecordMarkOffset;
  if (!file_.WriteAt(at, bytes, sizeof bytes)) {
    writeFailed_ = true;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_ = true;
  }
  wake_.notify_one();
  return true;
}

void RecordingFile::SyncLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || dirty_; });
    if (stop_) return;
    dirty_ = false;
    lock.unlock();
    const bool ok = syncHandle_.Sync();
    lock.lock();
    if (!ok) syncFailed_ = true;
    ++syncs_;
    // At most one sync per interval: records that come meanwhile wait for the next one.
    wake_.wait_for(lock, syncInterval_, [this] { return stop_; });
  }
}

void RecordingFile::StopSyncThread() {
  if (!syncThread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  syncThread_.join();
  syncHandle_.Close();
}

bool RecordingFile::Sync() {
  if (!file_.IsOpen()) return false;
  const bool ok = file_.Sync();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ok) syncFailed_ = true;
  return ok;
}

bool RecordingFile::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writeFailed_ || syncFailed_;
}

int64_t RecordingFile::SyncCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncs_;
}

bool RecordingFile::Close() {
  if (!file_.IsOpen()) return !Failed();
  StopSyncThread();
  const bool synced = file_.Sync();
  const bool closed = file_.Close();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!synced || !closed) syncFailed_ = true;
  return !(writeFailed_ || syncFailed_);
}

void RecordingFile::Remove() {
  if (path_.empty()) return;
  StopSyncThread();
  file_.Close();
  std::error_code ec;
  fs::remove(path_, ec);
  SyncFolder(path_.parent_path());
  path_.clear();
  records_ = 0;
}

}  // namespace kvd
