// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli flags, immo, reset and adc: the one-request commands of the menu "Сведения" and the
// ADC channels, each on a session opened for it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "ecu/ecu_status.h"
#include "ecu_connection.h"
#include "link/kwp.h"
#include "session/diag_session.h"
#include "session/response_codes.h"

namespace kvdcli {

namespace {

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
}

using Reader = int32_t (*)(kvd::DiagSession&, kvd::EcuUi&, std::vector<uint8_t>&);

// Opens the session, sends the one request and hands its answer to `print`; a failed request
// shows `failed` (the window's message for it).
int RunRead(const PortOptions& options, Reader read, const std::string& failed,
            void (*print)(const std::vector<uint8_t>&)) {
  EcuConnection connection(options);
  if (!connection.Open()) return 1;
  std::vector<uint8_t> answer;
  if (read(connection.Session(), connection.Ui(), answer) != kvd::kKwpPositive) {
    connection.Ui().ShowMessage(failed);
    return 1;
  }
  print(answer);
  return 0;
}

void AddReadCommand(CLI::App& app, int& rc, const char* name, const char* help, Reader read,
                    std::string failed, void (*print)(const std::vector<uint8_t>&)) {
  CLI::App* cmd = app.add_subcommand(name, help);
  auto o = std::make_shared<PortOptions>();
  AddPortOptions(*cmd, *o, /*demoByDefault=*/false);
  cmd->callback([o, &rc, read, failed, print] { rc = RunRead(*o, read, failed, print); });
}

}  // namespace

void AddFlagsCommand(CLI::App& app, int& rc) {
  AddReadCommand(app, rc, "flags", "the configuration flags that are set, one line each",
                 kvd::ReadConfigFlags, kvd::KwpErrorMessage(kvd::kSvcReadDataByLocalIdentifier),
                 [](const std::vector<uint8_t>& a) { PrintLines(kvd::ConfigFlagLines(a)); });
}

void AddImmoCommand(CLI::App& app, int& rc) {
  AddReadCommand(app, rc, "immo", "the immobilizer status: a heading and the bits that are set",
                 kvd::ReadImmoStatus, kvd::LinkLostMessage(kvd::kSvcReadDataByLocalIdentifier),
                 [](const std::vector<uint8_t>& a) {
                   std::string heading = kvd::kImmoHeading;
                   heading.erase(heading.find_last_not_of('\n') + 1);
                   std::printf("%s\n", heading.c_str());
                   PrintLines(kvd::ImmoStatusLines(a));
                 });
}

void AddAdcCommand(CLI::App& app, int& rc) {
  AddReadCommand(app, rc, "adc", "the six ADC channels once, one line each (label TAB volts)",
                 kvd::ReadAdcChannels, kvd::LinkLostMessage(kvd::kSvcReadDataByLocalIdentifier),
                 [](const std::vector<uint8_t>& a) {
                   const kvd::AdcTexts texts = kvd::AdcChannelTexts(a, '.');
                   for (int i = 0; i < kvd::kAdcChannelCount; ++i)
                     std::printf("%s\t%s\n", kvd::kAdcChannelLabels[static_cast<size_t>(i)],
                                 texts[static_cast<size_t>(i)].c_str());
                 });
}

void AddResetCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand(
      "reset", "resets the ECU after the question (y/N on a terminal, or --yes)");
  auto o = std::make_shared<PortOptions>();
  AddPortOptions(*cmd, *o, /*demoByDefault=*/false);
  AddYesOption(*cmd, *o);
  cmd->callback([o, &rc] {
    EcuConnection connection(*o);
    if (!connection.Open()) {
      rc = 1;
      return;
    }
    // The session ends with the reset; this command does not open it again.
    rc = kvd::ResetEcu(connection.Session(), connection.Ui(), /*reconnect=*/false) ==
                 kvd::kKwpPositive
             ? 0
             : 1;
  });
}

}  // namespace kvdcli
