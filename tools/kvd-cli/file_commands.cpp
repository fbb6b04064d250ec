// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli info and export: what a data file holds, and its text export.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "commands.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/text_export.h"
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

void InfoUsage() {
  std::fputs("usage: kvd-cli info FILE.kdd\n", stderr);
}

void ExportUsage() {
  std::fputs(
      "usage: kvd-cli export FILE.kdd OUT.txt [options]\n"
      "  --separator C       decimal separator (default '.')\n"
      "  --time-format FMT   long time format of the time column (default H:mm:ss;\n"
      "                      HH:mm:ss shows hours with a leading zero)\n",
      stderr);
}

}  // namespace

std::filesystem::path PathOf(const std::string& arg) {
  return std::filesystem::path(std::u8string(arg.begin(), arg.end()));
}

int CmdInfo(const Args& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    InfoUsage();
    return 0;
  }
  if (args.size() != 1) {
    InfoUsage();
    return 2;
  }
  const std::string& name = args[0];
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

int CmdExport(const Args& args) {
  std::string in;
  std::string out;
  kvd::TextExportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      ExportUsage();
      return 0;
    }
    if (a == "--separator" || a == "--time-format") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "kvd-cli: %s needs a value\n", a.c_str());
        return 2;
      }
      const std::string& v = args[++i];
      if (a == "--separator") {
        if (v.size() != 1 || v[0] == '\t' || v[0] == '\r' || v[0] == '\n' ||
            static_cast<unsigned char>(v[0]) >= 0x80) {
          std::fprintf(stderr, "kvd-cli: the separator must be one plain character\n");
          return 2;
        }
        options.DecimalSeparator = v[0];
      } else {
        options.LongTimeFormat = v;
      }
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      std::fprintf(stderr, "kvd-cli: unknown option '%s'\n", a.c_str());
      ExportUsage();
      return 2;
    } else if (in.empty()) {
      in = a;
    } else if (out.empty()) {
      out = a;
    } else {
      ExportUsage();
      return 2;
    }
  }
  if (in.empty() || out.empty()) {
    ExportUsage();
    return 2;
  }
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

}  // namespace kvdcli
