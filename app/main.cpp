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
  const QCommandLineOption trace(
      QStringLiteral("trace"),
      QStringLiteral(
          "Write every frame of the K-line, breaks, time-outs and result codes to FILE."),
      QStringLiteral("FILE"));
  parser.addOption(demo);
  parser.addOption(port);
  parser.addOption(trace);
  parser.process(app);

  kvd::LauncherOptions options;
  if (parser.isSet(demo)) {
    options.port = kvd::PortChoice::VirtualEcu();
  } else if (parser.isSet(port)) {
    options.port = kvd::ParsePortAnswer(parser.value(port));
  }

  kvd::AppServices services(kvd::UserSettings::OpenDefault(),
                            kvd::IniPathInDirectory(QCoreApplication::applicationDirPath()));
  if (parser.isSet(trace)) {
    QString error;
    if (!services.StartTrace(parser.value(trace), error)) {
      std::fprintf(stderr, "kvd-diag: cannot write the trace %s: %s\n",
                   qPrintable(parser.value(trace)), qPrintable(error));
      return 1;
    }
  }
  kvd::TMForm launcher(services, options);
  if (!launcher.FormCreate()) return 0;
  launcher.show();
  if (parser.isSet(demo)) {
    QTimer::singleShot(0, &launcher, [&launcher] {
      launcher.PopMenuECUClick(kvd::kDiagnosableFamily);
      launcher.sbStartDiagClick();
    });
  }
  return app.exec();
}
