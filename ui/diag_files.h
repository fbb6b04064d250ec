// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the recording of the diagnostic window to a data file or a text export, and opening
// a data file into it: the file dialogs, the questions and the error box of both commands.
#pragma once

#include <QMessageBox>
#include <QString>
#include <filesystem>
#include <functional>

#include "data/history.h"
#include "data/text_export.h"

class QWidget;

namespace kvd {

class TFormDiagJ5E2;

// The dialogs the file commands show. The program leaves them empty and gets the real ones;
// tests script them.
struct DiagFileUi {
  // The open dialog with the given initial file name; empty when cancelled.
  std::function<QString(QWidget* parent, const QString& initialName)> askOpenFile;
  // The save dialog; empty when cancelled.
  std::function<QString(QWidget* parent)> askSaveFile;
  // A question with the given buttons; the button pressed (Cancel when the box was closed).
  std::function<QMessageBox::StandardButton(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons)>
      ask;
  // The application's error box.
  std::function<void(QWidget* parent, const QString& text)> showError;
};

// Filters of the file dialogs (Qt's notation).
QString OpenDataFileFilter();    // the diagnostic window's open dialog
QString SaveDataFileFilter();    // the diagnostic window's save dialog
QString ImportDataFileFilter();  // the launcher's import

// The real dialogs.
QString ChooseFileToOpen(QWidget* parent, const QString& filter, const QString& initialName);
QString ChooseFileToSave(QWidget* parent, const QString& filter, const QString& defaultSuffix);
QMessageBox::StandardButton AskQuestion(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons);
void ShowErrorBox(QWidget* parent, const QString& text);

// A file name as the file system wants it.
std::filesystem::path FilePath(const QString& name);

// The text export in the user's notation: decimal separator and long time format.
TextExportOptions LocaleExportOptions();

inline constexpr const char* kAskSaveAllText =
    "Область данных для записи в файл не задана. Сохранить все?\n\nЗамечание: чтобы задать "
    "область для записи, необходимо отметить на графике ее начало и конец, используйте для "
    "выделения мышь, начальную точку отмечайте, удерживая Ctrl, а конечную - удерживая Alt.";
inline constexpr const char* kAskDropUnsavedText = "Текущие данные не сохранены. Продолжить?";

// The save and open commands of one diagnostic window.
class DiagFiles {
 public:
  // pendingFile: the file the launcher's import asked for; it is opened at once by
  // OpenAtStart and is afterwards the initial name of the open dialog.
  DiagFiles(TFormDiagJ5E2& window, DiagFileUi ui, QString pendingFile);

  // "Сохранить данные в файл": the selection, or everything after a yes. False when
  // nothing was written (declined, cancelled or failed).
  bool miSaveDiagDataClick();
  // Saves the whole recording (the save dialog, no question first). False when nothing was
  // written.
  bool SaveEverything();
  // A question through the file commands' dialogs.
  QMessageBox::StandardButton Ask(const QString& text, QMessageBox::StandardButtons buttons);
  // "Открыть файл с данными". False when nothing was opened.
  bool miOpenDiagDataClick();
  // The open of the import, at the end of the window's creation; nothing without a file.
  bool OpenAtStart();

  // The recording got a record that no file holds yet (or the history came from a file that is
  // not the user's own: a recovery file).
  void RecordAppended() { unsaved_ = true; }
  // Whether the history holds records that were never saved.
  bool HasUnsavedRecords() const;
  bool OpenFileMode() const { return openFileMode_; }
  const QString& PendingFile() const { return pendingFile_; }

 private:
  bool Open(const QString& name);
  bool SaveRange(RecordRange range);
  void ShowError(const QString& text);

  TFormDiagJ5E2& window_;
  DiagFileUi ui_;
  QString pendingFile_;
  bool openFileMode_ = false;
  bool unsaved_ = false;
};

}  // namespace kvd
