// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/diag_recovery.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include "data/data_file.h"
#include "data/recovery_file.h"
#include "ui/diag_files.h"
#include "ui/diag_window.h"
#include "ui/rx_timer.h"

namespace kvd {

QString DefaultRecoveryFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
  return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("recovery"));
}

DiagRecovery::DiagRecovery(TFormDiagJ5E2& window, const QString& folder)
    : window_(window), recorder_(std::make_unique<RecoveryRecorder>(FilePath(folder))) {}

DiagRecovery::~DiagRecovery() = default;

void DiagRecovery::RecordAppended(int32_t index) {
  ShowFailure(recorder_->RecordAppended(window_.History(), index));
}

void DiagRecovery::MarkChanged(int32_t index) {
  ShowFailure(recorder_->MarkChanged(window_.History(), index));
}

void DiagRecovery::ShowFailure(const std::string& message) {
  if (message.empty()) return;
  window_.SetStatusWarning(message + ". Данные сохраняются только в памяти.");
  // Shown after the poll step has returned, so the step is not held up by the box.
  QTimer::singleShot(0, &window_, [w = &window_, message] { w->ShowMessage(message); });
}

void DiagRecovery::DataCleared() {
  recorder_->Discard();
}

void DiagRecovery::Saved() {
  if (!window_.Files().HasUnsavedRecords()) recorder_->Discard();
}

void DiagRecovery::FileOpened(const QString& name) {
  const QFileInfo file(name);
  if (IsRecoveryFileName(FilePath(file.fileName())) &&
      QDir(file.absolutePath()) == QDir(QString::fromStdString(PathText(recorder_->Folder())))) {
    recorder_->Adopt(FilePath(file.absoluteFilePath()));
    // A recovery file is not a file of the user's: its records still want saving.
    window_.Files().RecordAppended();
  } else {
    recorder_->DropRecording();
  }
}

bool DiagRecovery::CloseAllowed() {
  if (!recorder_->HoldsFile()) return true;
  DiagFiles& files = window_.Files();
  if (!files.HasUnsavedRecords()) {
    recorder_->Discard();
    return true;
  }
  // No records come in while the user decides: what is saved is the whole recording.
  TRxTimer* timer = window_.ComTimer();
  const bool ticking = timer && timer->Enabled();
  if (ticking) timer->SetEnabled(false);
  const QMessageBox::StandardButton answer =
      files.Ask(QString::fromUtf8(kAskSaveAtCloseText),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  bool close = false;
  if (answer == QMessageBox::No) {
    recorder_->Discard();
    close = true;
  } else if (answer == QMessageBox::Yes && files.SaveEverything() && !files.HasUnsavedRecords()) {
    recorder_->Discard();
    close = true;
  }
  if (!close && ticking) timer->SetEnabled(true);
  return close;
}

}  // namespace kvd
