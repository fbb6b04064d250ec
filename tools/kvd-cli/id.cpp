// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli id: the eleven identification records of the ECU, and writing the five writable ones
// as the identification dialog's "Сохранить" does.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "data/cp1251.h"
#include "ecu/identification.h"
#include "ecu_connection.h"
#include "link/kwp.h"

namespace kvdcli {

namespace {

constexpr int kUsageError = 2;

struct IdOptions {
  PortOptions port;
  std::vector<std::string> writes;  // N=TEXT
};

// A record's value as one line of text: control bytes would break the line, they show as '?'.
std::string LineText(const std::string& cp1251) {
  std::string printable = cp1251;
  for (char& c : printable)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return kvd::Cp1251ToUtf8(printable);
}

// N=TEXT: the record's index (0-based) and its text in Windows-1251, or a message.
std::string ParseWrite(const std::string& arg, size_t& index, std::string& text) {
  const size_t eq = arg.find('=');
  const std::string n = arg.substr(0, eq);
  size_t number = 0;
  if (eq == std::string::npos || n.empty() || n.size() > 2 ||
      n.find_first_not_of("0123456789") != std::string::npos || (number = std::stoul(n)) < 1 ||
      number > kvd::kIdentRecordCount) {
    return "--write " + arg + ": expected N=TEXT with N a record number 1..11";
  }
  index = number - 1;
  const kvd::IdentRecordInfo& r = kvd::IdentRecordTable()[index];
  if (!r.Writable) {
    return "--write " + arg + ": record " + n + " (" + r.Label +
           ") cannot be written; writable: 1, 2, 3, 4, 9";
  }
  const std::optional<std::string> cp1251 = kvd::Utf8ToCp1251Exact(arg.substr(eq + 1));
  if (!cp1251) return "--write " + arg + ": the text holds characters Windows-1251 does not have";
  text = *cp1251;
  return {};
}

int RunId(const IdOptions& options) {
  std::map<size_t, std::string> writes;
  for (const std::string& arg : options.writes) {
    size_t index = 0;
    std::string text;
    const std::string error = ParseWrite(arg, index, text);
    if (!error.empty()) {
      std::fprintf(stderr, "kvd-cli id: %s\n", error.c_str());
      return kUsageError;
    }
    writes[index] = text;
  }

  EcuConnection connection(options.port);
  if (!connection.Open()) return 1;
  kvd::IdentValues asRead;
  if (kvd::ReadIdentification(connection.Session(), connection.Ui(), asRead) != kvd::kKwpPositive)
    return 1;
  for (size_t i = 0; i < kvd::kIdentRecordCount; ++i)
    std::printf("%s\t%s\n", kvd::IdentRecordTable()[i].Label, LineText(asRead[i]).c_str());
  std::fflush(stdout);
  if (writes.empty()) return 0;

  // The record's length as read is the most it takes (an empty record: what a request holds).
  kvd::IdentValues texts = asRead;
  for (const auto& [index, text] : writes) {
    const size_t room = asRead[index].empty() ? kvd::kIdentMaxWriteText : asRead[index].size();
    if (text.size() > room) {
      std::fprintf(stderr,
                   "kvd-cli id: --write %zu: %zu characters, record %zu holds %zu; nothing sent\n",
                   index + 1, text.size(), index + 1, room);
      return kUsageError;
    }
    texts[index] = text;
  }
  if (!connection.Ui().Confirm("Записать идентификаторы в ЭБУ?")) return 1;
  return kvd::WriteIdentification(connection.Session(), connection.Ui(),
                                  kvd::PadIdentValues(texts, asRead)) == kvd::kKwpPositive
             ? 0
             : 1;
}

}  // namespace

void AddIdCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand(
      "id",
      "the ECU's identification records, one line each (label TAB value); with --write, "
      "writes the five writable records as the dialog's \"Сохранить\" does");
  auto o = std::make_shared<IdOptions>();
  AddPortOptions(*cmd, o->port, /*demoByDefault=*/false);
  cmd->add_option("--write", o->writes,
                  "new text of record N (1, 2, 3, 4 or 9), padded with blanks to the record's "
                  "length; the others are written back as read")
      ->type_name("N=TEXT");
  AddYesOption(*cmd, o->port);
  cmd->callback([o, &rc] { rc = RunId(*o); });
}

}  // namespace kvdcli
