// Commands of kvd-cli: each one adds its subcommand to the program's command line; the
// subcommand's callback runs the command and leaves its exit code in `rc`
// (0 done, 1 failed with the program's message on stderr; usage errors end with 2 earlier).
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <string>

namespace kvdcli {

// A file name from the command line, which is UTF-8 text.
std::filesystem::path PathOf(const std::string& arg);

void AddInfoCommand(CLI::App& app, int& rc);    // info FILE.kdd
void AddExportCommand(CLI::App& app, int& rc);  // export FILE.kdd OUT.txt [options]
void AddLiveCommand(CLI::App& app, int& rc);    // live [--demo | --port N|PATH] ...
void AddDtcCommand(CLI::App& app, int& rc);     // dtc --demo | --port N|PATH [--lang] [--clear]
void AddIdCommand(CLI::App& app, int& rc);      // id --demo|--port [--write N=TEXT ...] [--yes]
void AddFlagsCommand(CLI::App& app, int& rc);   // flags --demo|--port
void AddImmoCommand(CLI::App& app, int& rc);    // immo --demo|--port
void AddResetCommand(CLI::App& app, int& rc);   // reset --demo|--port [--yes]
void AddAdcCommand(CLI::App& app, int& rc);     // adc --demo|--port
void AddLearnCommand(CLI::App& app, int& rc);   // learn --bank 1|2 [--save FILE]

// plot FILE.kdd -o OUT.png [--set N] [--from T] [--to T] [--width W --height H]: a picture of
// a recording (with the Qt shell only)
void AddPlotCommand(CLI::App& app, int& rc);

// measure FILE.kdd [--from I --to J]: the measurement between two records
void AddMeasureCommand(CLI::App& app, int& rc);

}  // namespace kvdcli
