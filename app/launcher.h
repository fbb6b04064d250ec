// SPDX-License-Identifier: GPL-3.0-or-later
// The launcher window: one running copy, the start-up picture, the port prompt, the ECU family
// menu and the start of the diagnostic window.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "app/port_choice.h"

class QMenu;
class QToolButton;
class QLabel;

namespace kvd {

class SingleInstance;

// What the launcher needs from the rest of the program. The program passes the real dialogs and
// the diagnostic window; tests pass a scripted fake.
class LauncherServices {
 public:
  virtual ~LauncherServices() = default;
  // The port prompt; nothing when the user cancelled.
  virtual std::optional<QString> AskPort(QWidget* parent, const QString& prompt,
                                         const QStringList& entries,
                                         const QString& defaultText) = 0;
  virtual void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) = 0;
  // Creates the diagnostic window of the family with that caption, shows it modally over the
  // launcher and destroys it when it closes. autoConnect false keeps it off-line at first;
  // openFile, when not empty, is the data file it opens at creation.
  virtual void RunDiagnostics(QWidget* launcher, const PortChoice& port, int family,
                              const QString& caption, bool autoConnect,
                              const QString& openFile) = 0;
  // The open dialog of "Импорт данных"; empty when cancelled.
  virtual QString AskImportFile(QWidget* parent) = 0;
  // Shows the about window in its about form (modal).
  virtual void ShowAbout(QWidget* parent) = 0;
  // Shows the settings dialog (modal) and keeps what the user chose.
  virtual void ShowSettings(QWidget* parent) = 0;
  // Closes the serial port, if one is open.
  virtual void ClosePort() = 0;

  enum class RecoveryAnswer { Open, Keep, Delete };
  // The question about a recording left behind by a crash. By default the program's box with
  // the buttons "Да" (open it), "Нет" (keep it for later) and "Удалить".
  virtual RecoveryAnswer AskRecovery(QWidget* parent, const QString& text);
};

// The real services, with the program's dialogs. RunDiagnostics is given by the program.
class QtLauncherDialogs {
 public:
  static std::optional<QString> AskPort(QWidget* parent, const QString& prompt,
                                        const QStringList& entries, const QString& defaultText);
  static void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon);
};

struct LauncherOptions {
  int splashMs = 1500;             // how long the start-up picture stays
  bool singleInstance = true;      // enforce one running copy
  QString lockDir;                 // where the lock file lies (empty: the user's runtime dir)
  std::optional<PortChoice> port;  // chosen on the command line: no prompt
  QString recoveryDir;             // recovery files of crashed recordings; empty: none looked for
};

QString LauncherCaption();  // "KVD - Diagnostics ver.1.00"

class TMForm : public QMainWindow {
  Q_OBJECT
 public:
  TMForm(LauncherServices& services, LauncherOptions options, QWidget* parent = nullptr);
  ~TMForm() override;

  // The start sequence. False when another copy runs: the caller ends the process.
  bool FormCreate();

  void sbECUClick();
  void PopMenuECUClick(int family);
  void sbStartDiagClick(bool fromImport = false);
  void sbImportClick();
  void sbCfgClick();
  void sbHelpClick();
  void sbAboutClick();
  void sbCloseClick();
  // Offers each recording left behind by a crash: open it (as the import does), keep it for
  // later, or delete it. A file without one whole record goes without a question.
  void OfferRecovery();

  const PortChoice& Port() const { return port_; }
  bool AutoConnect() const { return autoConnect_; }
  int StartTag() const { return startTag_; }
  int ImportTag() const { return importTag_; }
  const QString& PendingFile() const { return pendingFile_; }
  QMenu* FamilyMenu() const { return popMenuECU_; }
  QToolButton* StartButton() const { return sbStartDiag_; }
  QToolButton* EcuButton() const { return sbECU_; }
  QPoint FamilyMenuPoint() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QToolButton* MakeButton(const QString& caption, const QString& hint, int kind);

  LauncherServices& services_;
  LauncherOptions options_;
  std::unique_ptr<SingleInstance> instance_;
  PortChoice port_;
  bool autoConnect_ = true;
  int startTag_ = -1;
  int importTag_ = -1;
  QString pendingFile_;  // the file of the last import

  QLabel* image1_ = nullptr;
  QToolButton* sbECU_ = nullptr;
  QToolButton* sbStartDiag_ = nullptr;
  QToolButton* sbImport_ = nullptr;
  QToolButton* sbCfg_ = nullptr;
  QToolButton* sbHelp_ = nullptr;
  QToolButton* sbAbout_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  QMenu* popMenuECU_ = nullptr;
};

}  // namespace kvd
