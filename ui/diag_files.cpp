// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/diag_files.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <exception>
#include <utility>

#include "data/data_file.h"
#include "data/history.h"
#include "session/diag_session.h"
#include "ui/diag_window.h"
#include "ui/frm_graph.h"

namespace kvd {

QString OpenDataFileFilter() {
  return QStringLiteral("Файлы KVD-Diag Data (*.kdd);;Все файлы (*)");
}

QString SaveDataFileFilter() {
  return QStringLiteral(
      "Файлы KVD-Diag Data (*.kdd);;Текстовые файлы (данные, разделенные пробелами) (*.txt);;"
      "Все файлы (*)");
}

QString ImportDataFileFilter() {
  return QStringLiteral("Файлы KVD-Diag Data (*.kdd)");
}

QString ChooseFileToOpen(QWidget* parent, const QString& filter, const QString& initialName) {
  QFileDialog dialog(parent, QStringLiteral("Открыть"), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (!initialName.isEmpty()) dialog.selectFile(initialName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QString ChooseFileToSave(QWidget* parent, const QString& filter, const QString& defaultSuffix) {
  QFileDialog dialog(parent, QStringLiteral("Сохранить как"), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(defaultSuffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

QMessageBox::StandardButton AskQuestion(QWidget* parent, const QString& text,
                                        QMessageBox::StandardButtons buttons) {
  QMessageBox box(QMessageBox::Question, parent ? parent->window()->windowTitle() : QString(), text,
                  buttons, parent);
  const std::pair<QMessageBox::StandardButton, const char*> captions[] = {
      {QMessageBox::Yes, "Да"}, {QMessageBox::No, "Нет"}, {QMessageBox::Cancel, "Отмена"}};
  for (const auto& [button, caption] : captions)
    if (QAbstractButton* b = box.button(button)) b->setText(QString::fromUtf8(caption));
  box.setDefaultButton(buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes
                                                          : QMessageBox::NoButton);
  box.setEscapeButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                            : QMessageBox::No);
  const int answer = box.exec();
  return answer == QMessageBox::Yes || answer == QMessageBox::No
             ? static_cast<QMessageBox::StandardButton>(answer)
             : QMessageBox::Cancel;
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical,
                  parent ? parent->window()->windowTitle() : QStringLiteral("KVD - Diagnostics"),
                  text, QMessageBox::Ok, parent);
  box.exec();
}

std::filesystem::path FilePath(const QString& name) {
#ifdef _WIN32
  return std::filesystem::path(name.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

TextExportOptions LocaleExportOptions() {
  TextExportOptions o;
  const QString sep = QLocale().decimalPoint();
  o.DecimalSeparator = sep.size() == 1 && sep[0].unicode() < 128 ? sep[0].toLatin1() : '.';
  o.LongTimeFormat = LongTimePattern();
  return o;
}

// ---------------------------------------------------------------------------------------

DiagFiles::DiagFiles(TFormDiagJ5E2& window, DiagFileUi ui, QString pendingFile)
    : window_(window), ui_(std::move(ui)), pendingFile_(std::move(pendingFile)) {
  openFileMode_ = !pendingFile_.isEmpty();
  if (!ui_.askOpenFile)
    ui_.askOpenFile = [](QWidget* parent, const QString& initial) {
      return ChooseFileToOpen(parent, OpenDataFileFilter(), initial);
    };
  if (!ui_.askSaveFile)
    ui_.askSaveFile = [](QWidget* parent) {
      return ChooseFileToSave(parent, SaveDataFileFilter(), QStringLiteral("kdd"));
    };
  if (!ui_.ask) ui_.ask = AskQuestion;
  if (!ui_.showError) ui_.showError = ShowErrorBox;
}

bool DiagFiles::HasUnsavedRecords() const {
  return unsaved_ && window_.History().RecordCount() > 0;
}

void DiagFiles::ShowError(const QString& text) {
  ui_.showError(&window_, text);
}

bool DiagFiles::miSaveDiagDataClick() {
  HistoryStore& history = window_.History();
  // The marked stretch, both marked records included; without one, everything after a yes.
  RecordRange range;
  if (const std::optional<RecordRange> selected = history.SelectedRange()) {
    range = *selected;
  } else {
    const QMessageBox::StandardButton answer =
        ui_.ask(&window_, QString::fromUtf8(kAskSaveAllText),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer != QMessageBox::Yes) return false;
    range = history.AllRecords();
  }
  return SaveRange(range);
}

bool DiagFiles::SaveEverything() {
  return SaveRange(window_.History().AllRecords());
}

QMessageBox::StandardButton DiagFiles::Ask(const QString& text,
                                           QMessageBox::StandardButtons buttons) {
  return ui_.ask(&window_, text, buttons);
}

bool DiagFiles::SaveRange(RecordRange range) {
  HistoryStore& history = window_.History();
  const QString name = ui_.askSaveFile(&window_);
  if (name.isEmpty()) return false;
  const std::filesystem::path file = FilePath(name);
  try {
    SaveRecords(file, history, range, LocaleExportOptions());
  } catch (const DataFileError& e) {
    ShowError(QString::fromUtf8(e.what()));
    return false;
  } catch (const std::exception&) {
    ShowError(QString::fromStdString(FileMessage(kMsgFileCreateFailed, file)));
    return false;
  }
  // Only a data file can give the recording back; a text export does not count as saved.
  if (!IsTextExportName(file) && range == history.AllRecords()) unsaved_ = false;
  return true;
}

bool DiagFiles::OpenAtStart() {
  return openFileMode_ && miOpenDiagDataClick();
}

bool DiagFiles::miOpenDiagDataClick() {
  // Records keep arriving while the session is on-line; the menu item is disabled then.
  if (window_.Session().Connected) return false;
  QString name;
  if (openFileMode_) {
    // The file of the import is opened once; later opens show the dialog.
    openFileMode_ = false;
    name = pendingFile_;
  } else {
    if (HasUnsavedRecords() && ui_.ask(&window_, QString::fromUtf8(kAskDropUnsavedText),
                                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return false;
    name = ui_.askOpenFile(&window_, pendingFile_);
    if (name.isEmpty()) return false;
  }
  return Open(name);
}

bool DiagFiles::Open(const QString& name) {
  const std::filesystem::path file = FilePath(name);
  DataFileInfo info;
  try {
    // A file that cannot be read or is not ours leaves the recording as it was.
    info = ReadDataFile(file, window_.History());
  } catch (const DataFileError& e) {
    ShowError(QString::fromUtf8(e.what()));
    return false;
  } catch (const std::exception&) {
    ShowError(QString::fromStdString(FileMessage(kMsgFileOpenFailed, file)));
    return false;
  }
  pendingFile_ = name;
  unsaved_ = false;

  // The ADC bar has nothing to show for a file.
  if (QAction* adc = window_.Action(QStringLiteral("miADC")); adc && adc->isChecked()) {
    adc->setChecked(false);
    window_.miADCClick();
  }
  window_.PanelADC()->setFixedHeight(0);
  window_.PanelADC()->setVisible(false);
  window_.LayOutPanes();

  // Every pane shows the last record of the file at its right edge.
  const int32_t newest = info.Records > 0 ? info.Records - 1 : 0;
  for (int i = 0; i < kPaneCount; ++i) {
    TfrmGraph* pane = window_.Pane(i);
    pane->SetNewestShownIndex(newest);
    pane->CursorToLast();
    pane->Refill();
  }
  if (info.Truncated)
    window_.SetStatusWarning("Файл длиннее памяти для записи данных: открыты первые " +
                             std::to_string(info.Records) + " записей.");
  return true;
}

}  // namespace kvd
