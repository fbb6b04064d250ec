// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/app_services.h"

#include <QEventLoop>
#include <filesystem>
#include <new>

#include "app/close_request.h"
#include "app/splash.h"
#include "link/elm_link.h"
#include "link/frame_trace.h"
#include "link/kwp.h"
#include "link/system_port.h"
#include "sim/virtual_ecu.h"
#include "sim/virtual_elm.h"
#include "sim/virtual_line.h"
#include "ui/diag_window.h"
#include "ui/frm_cfg.h"

namespace kvd {

AppServices::AppServices(std::unique_ptr<UserSettings> settings, QString iniPath)
    : settings_(std::move(settings)), iniPath_(std::move(iniPath)) {}

AppServices::~AppServices() {
  ClosePort();
}

std::optional<QString> AppServices::AskPort(QWidget* parent, const QString& prompt,
                                            const QStringList& entries,
                                            const QString& defaultText) {
  return QtLauncherDialogs::AskPort(parent, prompt, entries, defaultText);
}

void AppServices::ShowMessage(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
  QtLauncherDialogs::ShowMessage(parent, text, icon);
}

EcuLink& AppServices::LinkFor(const PortChoice& port) {
  if (!link_) {
    const bool virtualEcu =
        port.kind == PortChoice::Kind::Virtual || port.kind == PortChoice::Kind::VirtualElm;
    if (virtualEcu) {
      ecu_ = std::make_unique<VirtualEcu>();
      // A demonstration: the engine gets going as soon as the window is on-line.
      ecu_->Engine().SetSchedule(EngineSchedule::kDemo);
    }
    std::string comment;
    switch (port.kind) {
      case PortChoice::Kind::Virtual:
        port_ = std::make_unique<VirtualLine>(*ecu_, clock_);
        link_ = std::make_unique<KwpLink>(*port_, clock_);
        comment = "port: the virtual ECU";
        break;
      case PortChoice::Kind::VirtualElm:
        port_ = std::make_unique<VirtualElmPort>(*ecu_, clock_);
        link_ = std::make_unique<ElmLink>(*port_, clock_);
        comment = "port: the virtual ECU behind a virtual ELM327";
        break;
      case PortChoice::Kind::Elm:
        port_ = MakeElmPort(port.elm);
        link_ = std::make_unique<ElmLink>(*port_, clock_, port.elm.baudRate);
        comment = "port: " + ElmCaption(port.elm);
        break;
      case PortChoice::Kind::Device:
      case PortChoice::Kind::Number:
        port_ = MakeSystemSerialPort();
        link_ = std::make_unique<KwpLink>(*port_, clock_);
        comment = port.kind == PortChoice::Kind::Device ? "port: " + port.device.toStdString()
                                                        : "port: COM" + std::to_string(port.number);
        break;
    }
    if (trace_) {
      trace_->Comment(comment);
      link_->SetTrace(trace_.get());
    }
  }
  return *link_;
}

bool AppServices::StartTrace(const QString& file, QString& error) {
  std::string reason;
  trace_ = FrameTrace::OpenFile(std::filesystem::path(file.toStdU16String()), clock_, "kvd-diag",
                                reason);
  if (!trace_) error = QString::fromStdString(reason);
  if (trace_ && link_) link_->SetTrace(trace_.get());
  return trace_ != nullptr;
}

QString AppServices::AskImportFile(QWidget* parent) {
  return ChooseFileToOpen(parent, ImportDataFileFilter(), QString());
}

void AppServices::RunDiagnostics(QWidget* launcher, const PortChoice& port, int,
                                 const QString& caption, bool autoConnect,
                                 const QString& openFile) {
  DiagWindowConfig config;
  config.link = &LinkFor(port);
  config.settings = settings_.get();
  config.poll = ReadPollSettings(iniPath_);
  config.comPort = port.number;
  if (port.kind == PortChoice::Kind::Device) config.comDevice = port.device.toStdString();
  if (port.kind == PortChoice::Kind::Elm && port.elm.kind != ElmTarget::Kind::ComNumber)
    config.comDevice = port.elm.device;
  config.autoConnect = autoConnect && openFile.isEmpty();
  config.openFileName = openFile;
  config.launcher = launcher;
  config.recoveryDir = recoveryDir_;
  // The panes start with the number of points chosen in the settings dialog, in this run or an
  // earlier one.
  config.visiblePointCount = StartPointCount(*settings_);

  std::unique_ptr<TFormDiagJ5E2> window;
  try {
    window = std::make_unique<TFormDiagJ5E2>(config);
  } catch (const std::bad_alloc&) {
    ShowMessage(launcher, QStringLiteral("Недостаточно памяти для записи данных (32 МБ)."),
                QMessageBox::Critical);
    return;
  }
  window->setWindowTitle(caption);
  window->setWindowModality(Qt::ApplicationModal);
  QEventLoop loop;
  QObject::connect(window.get(), &TFormDiagJ5E2::Closed, &loop, &QEventLoop::quit);
  window_ = window.get();
  const CloseRequestWatch closeWatch(launcher);
  window->show();
  loop.exec();
  window_ = nullptr;
  // The system asked the whole program to close (the launcher too, while it was blocked).
  if (launcher && closeWatch.Requested()) launcher->close();
}

void AppServices::ShowAbout(QWidget*) {
  TFormSplash splash;
  splash.ShowSplash(TFormSplash::About);
}

void AppServices::ShowSettings(QWidget* parent) {
  TFormCfg dialog(*settings_, parent);
  dialog.exec();
}

void AppServices::ClosePort() {
  if (port_) port_->ClosePort();
}

}  // namespace kvd
