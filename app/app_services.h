// SPDX-License-Identifier: GPL-3.0-or-later
// What the launcher uses in the running program: the real dialogs, the one serial port (a real
// port, or the virtual ECU behind a virtual K-line in real time), the settings and the
// diagnostic window.
#pragma once

#include <memory>

#include "app/launcher.h"
#include "link/clock.h"
#include "settings/settings_store.h"

namespace kvd {

class FrameTrace;
class EcuLink;
class SerialPort;
class VirtualEcu;
class TFormDiagJ5E2;

class AppServices : public LauncherServices {
 public:
  AppServices(std::unique_ptr<UserSettings> settings, QString iniPath);
  ~AppServices() override;

  std::optional<QString> AskPort(QWidget* parent, const QString& prompt, const QStringList& entries,
                                 const QString& defaultText) override;
  void ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) override;
  void RunDiagnostics(QWidget* launcher, const PortChoice& port, int family, const QString& caption,
                      bool autoConnect, const QString& openFile) override;
  QString AskImportFile(QWidget* parent) override;
  void ShowAbout(QWidget* parent) override;
  void ShowSettings(QWidget* parent) override;
  void ClosePort() override;

  // Where the diagnostic window keeps the recovery file of its recording; empty (the default):
  // no recovery file.
  void SetRecoveryFolder(const QString& folder) { recoveryDir_ = folder; }

  // Writes the frame trace of the link to file from now on (--trace). False, with the reason in
  // error, when the file cannot be created.
  bool StartTrace(const QString& file, QString& error);

  // The diagnostic window while it is open (for the demo's screenshots), else null.
  TFormDiagJ5E2* OpenWindow() const { return window_; }

 private:
  // Creates the port of the chosen kind the first time; the program keeps it for its life.
  EcuLink& LinkFor(const PortChoice& port);

  std::unique_ptr<UserSettings> settings_;
  QString iniPath_;
  QString recoveryDir_;
  RealClock clock_;
  std::unique_ptr<VirtualEcu> ecu_;
  std::unique_ptr<FrameTrace> trace_;  // outlives the link that writes to it
  std::unique_ptr<SerialPort> port_;
  std::unique_ptr<EcuLink> link_;
  TFormDiagJ5E2* window_ = nullptr;
};

}  // namespace kvd
