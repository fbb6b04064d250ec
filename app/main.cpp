// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-diag: the launcher, and from it the diagnostic window.
//
//   kvd-diag                 asks for the port at start
//   kvd-diag --port N|PATH   uses COM port N (Linux: /dev/ttyS(N-1)) or the device PATH
//   kvd-diag --port elm:...  an ELM327 adapter: elm:N, elm:PATH[@BAUD], elm:tcp:HOST:PORT
//   kvd-diag --demo          the built-in virtual ECU; family 1 chosen and diagnostics started
//   kvd-diag --demo elm327   the same behind a virtual ELM327 adapter
//   kvd-diag --help | --version   answered without a display
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#endif

#include "app/app_services.h"
#include "app/command_line.h"
#include "app/families.h"
#include "app/launcher.h"
#include "app/program_icon.h"
#include "settings/settings_store.h"
#include "ui/diag_recovery.h"

int main(int argc, char** argv) {
  QStringList rawArgs;
  for (int i = 0; i < argc; ++i) rawArgs << QString::fromLocal8Bit(argv[i]);
  if (const auto info = kvd::AnswerInfoRequest(rawArgs)) {
#ifdef _WIN32
    // A window program has no console of its own: the answer goes to the console it was started
    // from, unless its output is redirected.
    if (GetStdHandle(STD_OUTPUT_HANDLE) == nullptr && AttachConsole(ATTACH_PARENT_PROCESS))
      std::freopen("CONOUT$", "w", stdout);
#endif
    std::fputs(info->Text.toLocal8Bit().constData(), stdout);
    return info->ExitCode;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kvd-diag"));
  QApplication::setOrganizationName(QStringLiteral("KVD-Software"));
  QApplication::setWindowIcon(kvd::ProgramIcon());

  kvd::ProgramCommandLine commandLine;
  commandLine.Parser().process(app);

  kvd::LauncherOptions options;
  if (commandLine.Demo()) {
    options.port =
        commandLine.DemoElm() ? kvd::PortChoice::VirtualElm327() : kvd::PortChoice::VirtualEcu();
  } else if (commandLine.HasPort()) {
    options.port = kvd::ParsePortAnswer(commandLine.Port());
  }

  options.recoveryDir = kvd::DefaultRecoveryFolder();

  kvd::AppServices services(kvd::UserSettings::OpenDefault(),
                            kvd::IniPathForProgram(QCoreApplication::applicationDirPath()));
  services.SetRecoveryFolder(options.recoveryDir);
  if (commandLine.HasTrace()) {
    QString error;
    if (!services.StartTrace(commandLine.Trace(), error)) {
      std::fprintf(stderr, "kvd-diag: cannot write the trace %s: %s\n",
                   qPrintable(commandLine.Trace()), qPrintable(error));
      return 1;
    }
  }
  kvd::TMForm launcher(services, options);
  if (!launcher.FormCreate()) return 0;
  launcher.show();
  // A recording left behind by a crash is offered first; then the demo starts, if asked for.
  QTimer::singleShot(0, &launcher, [&launcher, startDemo = commandLine.Demo()] {
    launcher.OfferRecovery();
    if (startDemo) {
      launcher.PopMenuECUClick(kvd::kDiagnosableFamily);
      launcher.sbStartDiagClick();
    }
  });
  return app.exec();
}
