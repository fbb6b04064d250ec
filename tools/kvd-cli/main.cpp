// kvd-cli: the command-line companion of kvd-diag.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "console_utf8.h"

#ifndef KVD_VERSION
#define KVD_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  kvdcli::UseUtf8Console();
  std::vector<std::string> args = kvdcli::Utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(a.data());
  CLI::App app{
      "kvd-cli: the command-line companion of kvd-diag. Run kvd-cli COMMAND --help "
      "for the options of a command.",
      "kvd-cli"};
  app.require_subcommand(1, 1);
  app.set_version_flag("--version", std::string("kvd-cli ") + KVD_VERSION,
                       "Print the program's version and exit");
  int rc = 0;
  kvdcli::AddInfoCommand(app, rc);
  kvdcli::AddExportCommand(app, rc);
  kvdcli::AddLiveCommand(app, rc);
  kvdcli::AddDtcCommand(app, rc);
  kvdcli::AddIdCommand(app, rc);
  kvdcli::AddFlagsCommand(app, rc);
  kvdcli::AddImmoCommand(app, rc);
  kvdcli::AddResetCommand(app, rc);
  kvdcli::AddAdcCommand(app, rc);
  kvdcli::AddLearnCommand(app, rc);
  kvdcli::AddMeasureCommand(app, rc);
  kvdcli::AddPlotCommand(app, rc);
  try {
    app.parse(static_cast<int>(utf8Argv.size()), utf8Argv.data());
  } catch (const CLI::ParseError& e) {
    // Help asked for: printed, exit 0. Anything else is a usage error: exit 2.
    return app.exit(e) == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvd-cli: %s\n", e.what());
    return 1;
  }
  return rc;
}
