// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli learn: one bank of the ECU's learn memory as the learn-memory window shows it, on
// standard output, and optionally saved as the window saves it.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "commands.h"
#include "ecu/learn_memory.h"
#include "ecu_connection.h"

namespace kvdcli {

namespace {

struct LearnOptions {
  PortOptions port;
  int bank = 1;
  std::string save;
};

int RunLearn(const LearnOptions& options) {
  EcuConnection connection(options.port);
  if (!connection.Open()) return 1;
  kvd::LearnTable table{};
  const bool read =
      kvd::ReadLearnMemory(connection.Session(), connection.Ui(), options.bank, table);
  connection.Close();
  if (!read) return 1;
  std::fputs(kvd::LearnTableText(table, '.', "\n").c_str(), stdout);
  if (options.save.empty()) return 0;
  try {
    kvd::WriteLearnFile(PathOf(options.save), table, '.');
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

void AddLearnCommand(CLI::App& app, int& rc) {
  CLI::App* cmd =
      app.add_subcommand("learn", "one bank of the learn memory as a 17-line tab-separated table");
  auto o = std::make_shared<LearnOptions>();
  AddPortOptions(*cmd, o->port, /*demoByDefault=*/false);
  cmd->add_option("--bank", o->bank, "the bank, 1 or 2")->required()->check(CLI::IsMember({1, 2}));
  cmd->add_option("--save", o->save,
                  "also save the table as the window does (Windows-1251 text, CR LF)")
      ->type_name("FILE");
  cmd->callback([o, &rc] { rc = RunLearn(*o); });
}

}  // namespace kvdcli
