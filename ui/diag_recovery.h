// SPDX-License-Identifier: GPL-3.0-or-later
// The recovery file of the diagnostic window's recording: written as records come, dropped when
// the recording is saved, cleared or not wanted at close, and left behind only by a crash.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

namespace kvd {

class RecoveryRecorder;
class TFormDiagJ5E2;

inline constexpr const char* kAskSaveAtCloseText =
    "Текущие данные не сохранены. Сохранить их в файл?";

// Where recovery files go: a folder "recovery" in the user's local application data folder
// (%LOCALAPPDATA%\KVD-Software\kvd-diag on Windows, ~/.local/share/KVD-Software/kvd-diag on
// Linux).
QString DefaultRecoveryFolder();

class DiagRecovery {
 public:
  DiagRecovery(TFormDiagJ5E2& window, const QString& folder);
  ~DiagRecovery();

  // The history got record index: into the file. The first failure is shown once (status bar and
  // message); recording goes on in memory.
  void RecordAppended(int32_t index);
  // A mark of record index changed: into the file too.
  void MarkChanged(int32_t index);
  // "Очистить накопленные данные".
  void DataCleared();
  // A save command has written a file: when it holds the whole recording the file goes.
  void Saved();
  // A data file was opened into the history: a recovery file (the launcher's offer) is kept until
  // the recording is saved, cleared or dropped at close; any other file ends the recording the
  // recovery file stood for.
  void FileOpened(const QString& name);
  // The window is about to close. With unsaved records the user is asked whether to save them:
  // Yes saves (the window closes once the file is written), No drops the recovery file, Cancel
  // keeps the window open. False: the window stays open.
  bool CloseAllowed();

  RecoveryRecorder& Recorder() { return *recorder_; }

 private:
  // The first failure of the file: in the status bar and, after the current step, a message.
  void ShowFailure(const std::string& message);

  TFormDiagJ5E2& window_;
  std::unique_ptr<RecoveryRecorder> recorder_;
};

}  // namespace kvd
