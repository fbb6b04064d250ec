// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-diag: the launcher, and from it the diagnostic window.
//
//   kvd-diag                 asks for the port at start
//   kvd-diag --port N|PATH   uses COM port N (Linux: /dev/ttyS(N-1)) or the device PATH
//   kvd-diag --demo          the built-in virtual ECU; family 1 chosen and diagnostics started
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "app/app_services.h"
#include "app/families.h"
#include "app/launcher.h"
#include "settings/settings_store.h"
#include "ui/diag_recovery.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kvd-diag"));
  QApplication::setOrganizationName(QStringLiteral("KVD-Software"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("K-line diagnostics of J5E2 engine ECUs"));
  parser.addHelpOption();
  const QCommandLineOption demo(
      QStringLiteral("demo"), QStringLiteral("Run on the built-in virtual ECU and start at once."));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("COM port number or device path; skips the prompt."),
                                QStringLiteral("N|PATH"));
  parser.addOption(demo);
  parser.addOption(port);
  parser.process(app);

  kvd::LauncherOptions options;
  if (parser.isSet(demo)) {
    options.port = kvd::PortChoice::VirtualEcu();
  } else if (parser.isSet(port)) {
    options.port = kvd::ParsePortAnswer(parser.value(port));
  }

  options.recoveryDir = kvd::DefaultRecoveryFolder();

  kvd::AppServices services(kvd::UserSettings::OpenDefault(),
                            kvd::IniPathInDirectory(QCoreApplication::applicationDirPath()));
  services.SetRecoveryFolder(options.recoveryDir);
  kvd::TMForm launcher(services, options);
  if (!launcher.FormCreate()) return 0;
  launcher.show();
  // A recording left behind by a crash is offered first; then the demo starts, if asked for.
  QTimer::singleShot(0, &launcher, [&launcher, startDemo = parser.isSet(demo)] {
    launcher.OfferRecovery();
    if (startDemo) {
      launcher.PopMenuECUClick(kvd::kDiagnosableFamily);
      launcher.sbStartDiagClick();
    }
  });
  return app.exec();
}
