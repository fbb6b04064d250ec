// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <QCoreApplication>

#ifndef KVD_VERSION
#define KVD_VERSION "unknown"
#endif

namespace kvd {

namespace {
const QString kProgramName = QStringLiteral("kvd-diag");
}  // namespace

QString ProgramVersionText() {
  return kProgramName + QLatin1Char(' ') + QStringLiteral(KVD_VERSION);
}

ProgramCommandLine::ProgramCommandLine()
    : demo_(QStringLiteral("demo"),
            QStringLiteral("Run on the built-in virtual ECU and start at once; \"--demo "
                           "elm327\" puts a virtual ELM327 adapter in front of it.")),
      port_(QStringLiteral("port"),
            QStringLiteral("COM port number or device path; an ELM327 adapter as elm:N, "
                           "elm:PATH[@BAUD] (38400 by default) or elm:tcp:HOST:PORT; skips "
                           "the prompt."),
            QStringLiteral("N|PATH|elm:...")),
      trace_(QStringLiteral("trace"),
             QStringLiteral("Write every frame of the K-line, breaks, time-outs and result codes "
                            "to FILE, one line each, as they happen."),
             QStringLiteral("FILE")) {
  parser_.setApplicationDescription(QStringLiteral(
      "K-line diagnostics of J5E2 engine ECUs: live data as seven graph panes, recordings,\n"
      "trouble codes, identification and actuator tests over a KKL or ELM327 adapter.\n"
      "Without options the launcher asks for the COM port at start."));
  parser_.addHelpOption();
  parser_.addVersionOption();
  parser_.addOption(demo_);
  parser_.addOption(port_);
  parser_.addOption(trace_);
  parser_.addPositionalArgument(QStringLiteral("adapter"),
                                QStringLiteral("With --demo: elm327 for a virtual ELM327."),
                                QStringLiteral("[elm327]"));
}

bool ProgramCommandLine::DemoElm() const {
  return Demo() &&
         parser_.positionalArguments().contains(QStringLiteral("elm327"), Qt::CaseInsensitive);
}

std::optional<InfoAnswer> AnswerInfoRequest(const QStringList& args) {
  ProgramCommandLine line;
  QCommandLineParser& parser = line.Parser();
  // Unknown options (those of the window system among them) are the application's business
  // later; here only help and version count.
  parser.parse(args);
  if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
    QString text = parser.helpText();
    // The usage line names the program as its manual page does, whatever path started it (and
    // before an application object exists the parser knows no name at all).
    const QString usage = QStringLiteral("Usage: ");
    const qsizetype end = text.indexOf(QStringLiteral(" [options]"));
    if (text.startsWith(usage) && end > 0 && end < text.indexOf(QLatin1Char('\n'))) {
      text.replace(usage.size(), end - usage.size(), kProgramName);
    }
    return InfoAnswer{0, text};
  }
  if (parser.isSet(QStringLiteral("version"))) {
    return InfoAnswer{0, ProgramVersionText() + QLatin1Char('\n')};
  }
  return std::nullopt;
}

}  // namespace kvd
