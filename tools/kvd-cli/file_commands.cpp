// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli info and export: what a data file holds, and its text export.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "commands.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/text_export.h"
#include "data/utf8_path.h"
#include "link/clock.h"

namespace kvdcli {

namespace {

// Hours are not wrapped at a day here: a duration, not a time of day.
std::string DurationText(int64_t ms) {
  const bool negative = ms < 0;
  if (negative) ms = -ms;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%lld:%02lld:%02lld.%02lld", negative ? "-" : "",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 10 % 100));
  return buf;
}

void PrintError(const std::exception& e) {
  std::fprintf(stderr, "kvd-cli: %s\n", e.what());
}

}  // namespace

std::filesystem::path PathOf(const std::string& arg) {
  return kvd::PathFromUtf8(arg);
}

namespace {

int RunInfo(const std::string& name) {
  try {
    const int32_t family = kvd::ReadDataFileFamily(PathOf(name));
    std::printf("file:      %s\n", name.c_str());
    std::printf("family:    %d, %s\n", family,
                std::string(kvd::DataFileFamilyName(family)).c_str());
    if (family != kvd::kDiagnosticFamily) {
      std::puts("records:   not read (kvd-diag reads the records of family 1 only)");
      return 0;
    }
    kvd::RealClock clock;
    kvd::HistoryStore store(clock);
    const kvd::DataFileInfo info = kvd::ReadDataFile(PathOf(name), store);
    std::printf("records:   %d\n", info.Records);
    if (info.Truncated)
      std::printf("           the file holds %lld records; only the first %d fit the store\n",
                  static_cast<long long>(info.FileRecords), kvd::kHistoryCapacity);
    if (info.PartialRecord) std::puts("           a partial record at the end was ignored");
    if (info.Records > 0) {
      const kvd::ElapsedFormatter time;
      const int32_t first = store.RecordAt(0)->ElapsedMs();
      const int32_t last = store.RecordAt(info.Records - 1)->ElapsedMs();
      std::printf("first:     %s\n", time.Format(first).c_str());
      std::printf("last:      %s\n", time.Format(last).c_str());
      std::printf("duration:  %s\n", DurationText(int64_t{last} - int64_t{first}).c_str());
    }
    int32_t marked = 0;
    for (int32_t i = 0; i < info.Records; ++i)
      if (store.RecordAt(i)->MarkWord() & (kvd::kMarkStartBit | kvd::kMarkEndBit)) ++marked;
    std::printf("marked:    %d\n", marked);
    if (store.SelectionStart() >= 0)
      std::printf("           start mark on record %d\n", store.SelectionStart());
    if (store.SelectionEnd() >= 0)
      std::printf("           end mark on record %d\n", store.SelectionEnd());
    return 0;
  } catch (const std::exception& e) {
    PrintError(e);
    return 1;
  }
}

int RunExport(const std::string& in, const std::string& out,
              const kvd::TextExportOptions& options) {
  try {
    kvd::RealClock clock;
    kvd::HistoryStore store(clock);
    const kvd::DataFileInfo info = kvd::ReadDataFile(PathOf(in), store);
    kvd::WriteTextExport(PathOf(out), store, store.AllRecords(), options);
    std::fprintf(stderr, "kvd-cli: %d records written to %s\n", info.Records, out.c_str());
    return 0;
  } catch (const std::exception& e) {
    PrintError(e);
    return 1;
  }
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand("info", "what a data file holds");
  auto file = std::make_shared<std::string>();
  cmd->add_option("FILE", *file, "a data file (.kdd)")->required();
  cmd->callback([file, &rc] { rc = RunInfo(*file); });
}

void AddExportCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand("export", "tab-separated text of every record of a data file");
  struct Options {
    std::string in, out, separator = ".", encoding = "windows-1251";
    kvd::TextExportOptions text;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("FILE", o->in, "a data file (.kdd)")->required();
  cmd->add_option("OUT", o->out,
                  "the text file to write (CR LF lines; Windows-1251 unless --encoding)")
      ->required();
  cmd->add_option("--separator", o->separator, "decimal separator (default '.')")
      ->check([](const std::string& v) -> std::string {
        if (v.size() != 1 || v[0] == '\t' || v[0] == '\r' || v[0] == '\n' ||
            static_cast<unsigned char>(v[0]) >= 0x80)
          return "the separator must be one plain character";
        return {};
      });
  cmd->add_option("--time-format", o->text.LongTimeFormat,
                  "long time format of the time column (default H:mm:ss; HH:mm:ss shows "
                  "hours with a leading zero)");
  cmd->add_option("--encoding", o->encoding,
                  "character set of the text: windows-1251 (the default, as kvd-diag writes "
                  "it) or utf-8 (no byte-order mark)")
      ->type_name("NAME")
      ->check(CLI::IsMember({"windows-1251", "cp1251", "utf-8", "utf8"}, CLI::ignore_case));
  cmd->callback([o, &rc] {
    o->text.DecimalSeparator = o->separator[0];
    const bool utf8 = o->encoding.size() >= 3 && (o->encoding[0] | 0x20) == 'u' &&
                      (o->encoding[1] | 0x20) == 't' && (o->encoding[2] | 0x20) == 'f';
    o->text.Encoding = utf8 ? kvd::TextEncoding::kUtf8 : kvd::TextEncoding::kCp1251;
    rc = RunExport(o->in, o->out, o->text);
  });
}

}  // namespace kvdcli
