// The recovery file of a recording: the history as it grows, kept on disk so that a crash of the
// program loses nothing but the last moments. The window decides when it is kept or dropped; the
// launcher offers a file left over by a crash at the next start.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "data/recording_file.h"

namespace kvd {

class HistoryStore;

inline constexpr const char* kRecoveryQuestion =
    "Обнаружена запись, прерванная аварийным завершением. Открыть её?";

// A new, unused name for a recovery file in folder: "recording-YYYYMMDD-HHMMSS-NNNN.kdd".
std::filesystem::path NewRecoveryFileName(const std::filesystem::path& folder);
// The recovery files in folder, oldest name first; none when the folder does not exist.
std::vector<std::filesystem::path> FindRecoveryFiles(const std::filesystem::path& folder);
// Whether a file is a recovery file by its name.
bool IsRecoveryFileName(const std::filesystem::path& file);

class RecoveryRecorder {
 public:
  explicit RecoveryRecorder(std::filesystem::path folder,
                            std::chrono::milliseconds syncInterval = std::chrono::seconds(1));
  ~RecoveryRecorder();  // the file stays (synced): the window ended without deciding

  // The store got record index. The first record of a recording creates the file; a record
  // that does not follow the file's last one (the history was reset or loaded meanwhile)
  // starts the file again with the whole history. Returns the program's message the first
  // time writing fails (empty otherwise); recording in memory goes on without the file.
  std::string RecordAppended(const HistoryStore& store, int32_t index);
  // A mark set, moved or cancelled changed the MarkWord of record index: the file's copy of
  // that record takes it, so that a recovered recording opens with the marks it had. Nothing
  // happens when the file is not the history's (the history was reset or loaded meanwhile).
  // Returns the program's message the first time writing fails, like RecordAppended.
  std::string MarkChanged(const HistoryStore& store, int32_t index);

  // The recording was saved, cleared, or the user chose not to keep it: the file goes, and so
  // does an adopted file.
  void Discard();
  // The history is replaced (a new connection, another file): the own file goes with it; an
  // adopted file is left where it is, to be offered again at the next start.
  void DropRecording();
  // The history holds a recovery file that the launcher offered: it is removed with the
  // recording it now is (Discard).
  void Adopt(const std::filesystem::path& file);

  bool HoldsFile() const { return file_.IsOpen() || !adopted_.empty(); }
  const std::filesystem::path& Folder() const { return folder_; }
  const std::filesystem::path& CurrentFile() const { return file_.Path(); }
  const RecordingFile& File() const { return file_; }

 private:
  std::string Fail(const char* pattern, const std::filesystem::path& file);

  std::filesystem::path folder_;
  RecordingFile file_;
  std::filesystem::path adopted_;
  bool failed_ = false;
};

}  // namespace kvd
