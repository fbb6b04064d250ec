// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli measure: the measurement of the diagnostic window over two records of a data file.
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "commands.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/measurements.h"
#include "data/text_export.h"
#include "link/clock.h"

namespace kvdcli {

namespace {

struct MeasureOptions {
  std::string file;
  int from = -1;
  int to = -1;
  bool haveRange = false;
  std::string separator = ".";
  std::string timeFormat = std::string(kvd::kDefaultLongTimeFormat);
};

int RunMeasure(const MeasureOptions& o) {
  try {
    kvd::RealClock clock;
    kvd::HistoryStore store(clock);
    const kvd::DataFileInfo info = kvd::ReadDataFile(PathOf(o.file), store);
    int32_t from = o.from;
    int32_t to = o.to;
    if (!o.haveRange) {
      // The marks saved in the file: the first record with each mark bit.
      from = store.SelectionStart();
      to = store.SelectionEnd();
      if (from < 0 || to < 0) {
        std::fprintf(stderr,
                     "kvd-cli: %s has no start and end marks; give the records with --from I "
                     "--to J\n",
                     o.file.c_str());
        return 1;
      }
    } else {
      for (const int32_t r : {from, to}) {
        if (r < 0 || r >= info.Records) {
          std::fprintf(stderr, "kvd-cli: record %d is not in %s (records 0..%d)\n", r,
                       o.file.c_str(), info.Records - 1);
          return 1;
        }
      }
    }
    kvd::Measurement m;
    const kvd::MeasureStatus status =
        kvd::Measure(store.RecordBytes(), store.RecordCount(), from, to, m);
    if (status != kvd::MeasureStatus::kOk) {
      std::fprintf(stderr, "kvd-cli: %s\n", kvd::MeasureStatusText(status).c_str());
      return 1;
    }
    const std::string text =
        kvd::MeasurementText(m, kvd::ElapsedFormatter(o.timeFormat), o.separator[0]);
    std::fputs(text.c_str(), stdout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvd-cli: %s\n", e.what());
    return 1;
  }
}

}  // namespace

void AddMeasureCommand(CLI::App& app, int& rc) {
  CLI::App* cmd = app.add_subcommand(
      "measure", "duration, air mass and extremes between two records of a data file");
  auto o = std::make_shared<MeasureOptions>();
  cmd->add_option("FILE", o->file, "a data file (.kdd)")->required();
  CLI::Option* from =
      cmd->add_option("--from", o->from, "first record (default: the file's start mark)");
  CLI::Option* to = cmd->add_option("--to", o->to, "last record (default: the file's end mark)");
  from->needs(to);
  to->needs(from);
  cmd->add_option("--separator", o->separator, "decimal separator (default '.')")
      ->check([](const std::string& v) -> std::string {
        if (v.size() != 1 || v[0] == '\r' || v[0] == '\n' ||
            static_cast<unsigned char>(v[0]) >= 0x80)
          return "the separator must be one plain character";
        return {};
      });
  cmd->add_option("--time-format", o->timeFormat,
                  "long time format of the times (default H:mm:ss)");
  cmd->callback([o, from, &rc] {
    o->haveRange = from->count() > 0;
    rc = RunMeasure(*o);
  });
}

}  // namespace kvdcli
