// kvd-cli: the command-line companion of kvd-diag.
// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

void Usage() {
  std::fputs(
      "usage: kvd-cli COMMAND [ARGS]\n"
      "  info FILE.kdd                 what a data file holds\n"
      "  export FILE.kdd OUT.txt       tab-separated text of every record\n"
      "        [--separator C] [--time-format H:mm:ss]\n"
      "  live [--demo | --port N|PATH] live data of an ECU (or of the virtual ECU)\n"
      "Run kvd-cli COMMAND --help for the options of a command.\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  kvdcli::Args args(argv + 2, argv + argc);
  const char* cmd = argv[1];
  if (!std::strcmp(cmd, "info")) return kvdcli::CmdInfo(args);
  if (!std::strcmp(cmd, "export")) return kvdcli::CmdExport(args);
  if (!std::strcmp(cmd, "live")) return kvdcli::CmdLive(args);
  std::fprintf(stderr, "kvd-cli: unknown command '%s'\n", cmd);
  Usage();
  return 2;
}
