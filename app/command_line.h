// The command line of kvd-diag: its options, and the answers to --help and --version, which
// are given before any window system is touched so that both work without a display.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

namespace kvd {

// The program's name and version as --version prints them.
QString ProgramVersionText();

// The parser with every option of the program.
class ProgramCommandLine {
 public:
  ProgramCommandLine();

  QCommandLineParser& Parser() { return parser_; }
  bool Demo() const { return parser_.isSet(demo_); }
  // --demo elm327: the virtual ECU behind a virtual ELM327 adapter.
  bool DemoElm() const;
  bool HasPort() const { return parser_.isSet(port_); }
  QString Port() const { return parser_.value(port_); }
  // --trace FILE: the frame trace of the K-line.
  bool HasTrace() const { return parser_.isSet(trace_); }
  QString Trace() const { return parser_.value(trace_); }

 private:
  QCommandLineParser parser_;
  QCommandLineOption demo_;
  QCommandLineOption port_;
  QCommandLineOption trace_;
};

// What to print, and the exit code, when the arguments (program name first) ask for help or the
// version; nothing when the program should start. Options of the window system mixed in (for
// example -platform) do not hide a request for help.
struct InfoAnswer {
  int ExitCode = 0;
  QString Text;
};
std::optional<InfoAnswer> AnswerInfoRequest(const QStringList& args);

}  // namespace kvd
