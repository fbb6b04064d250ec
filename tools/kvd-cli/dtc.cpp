// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli dtc: the trouble codes of an ECU as the window's list shows them, optionally cleared
// first. One live-data read gives the current codes, one ReadDTCByStatus the stored ones.
#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "ecu/dtc.h"
#include "ecu_connection.h"
#include "link/kwp.h"

namespace kvdcli {

namespace {

struct DtcOptions {
  PortOptions port;
  std::string lang = "ru";
  bool clear = false;
};

kvd::DtcLanguage LanguageOf(const std::string& lang) {
  if (lang == "en") return kvd::DtcLanguage::English;
  if (lang == "de") return kvd::DtcLanguage::German;
  return kvd::DtcLanguage::Russian;
}

int RunDtc(const DtcOptions& options) {
  EcuConnection connection(options.port);
  if (!connection.Open()) return 1;
  kvd::DtcList list{};
  const int32_t result =
      kvd::ReadTroubleCodesOnce(connection.Session(), connection.Ui(), options.clear, list);
  connection.Close();
  if (result != kvd::kKwpPositive) return 1;  // the message has been shown
  for (const kvd::DtcGridRow& row : kvd::DtcGridRows(list, LanguageOf(options.lang)))
    std::printf("%s\t%s\t%s\t%s\n", row[0].c_str(), row[1].c_str(), row[2].c_str(), row[3].c_str());
  return 0;
}

}  // namespace

void AddDtcCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand(
      "dtc",
      "the trouble codes of an ECU: a header line, then per code its name, current, stored "
      "and description, separated by tabs");
  auto o = std::make_shared<DtcOptions>();
  AddPortOptions(*cmd, o->port, /*demoByDefault=*/false);
  cmd->add_option("--lang", o->lang, "language of the descriptions (default ru)")
      ->type_name("ru|en|de")
      ->check(CLI::IsMember({"ru", "en", "de"}));
  cmd->add_flag("--clear", o->clear,
                "clear the ECU's trouble codes (ClearDiagnosticInformation) before reading");
  cmd->callback([o, &rc] { rc = RunDtc(*o); });
}

}  // namespace kvdcli
