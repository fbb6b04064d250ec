// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-cli plot: a PNG picture of a recording as the diagnostic window shows it, drawn offscreen
// with the window's own panes. Needs the Qt shell: a kvd-cli built without Qt (the Windows
// command-line build) has the command but says that it cannot draw.
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "data/column_extremes.h"
#include "data/data_file.h"
#include "data/history.h"
#include "data/text_export.h"
#include "link/clock.h"

#ifdef KVD_CLI_PLOT
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include "settings/settings_store.h"
#include "ui/diag_sets.h"
#include "ui/frm_graph.h"
#include "ui/recording_plot.h"
#endif

namespace kvdcli {

namespace {

struct PlotOptions {
  std::string in;
  std::string out;
  int set = 1;
  std::string from;
  std::string to;
  int width = 1280;
  int height = 960;
  int colors = 1;
  bool defaultSets = false;
};

#ifdef KVD_CLI_PLOT

QtMessageHandler previousHandler = nullptr;

// Qt's messages go on as they would, except its remark that XDG_RUNTIME_DIR is not set: normal
// for a command run from a script or a remote shell, and of no concern to offscreen drawing.
void QuietRuntimeDirRemark(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.contains(QLatin1String("XDG_RUNTIME_DIR"))) return;
  if (previousHandler) previousHandler(type, context, text);
}

// The shell's drawing needs an application object; kvd-cli needs no display for it.
std::unique_ptr<QApplication> MakeOffscreenApplication() {
  if (QCoreApplication::instance()) return nullptr;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  previousHandler = qInstallMessageHandler(QuietRuntimeDirRemark);
  static int argc = 1;
  static char name[] = "kvd-cli";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

int RunPlot(const PlotOptions& o) {
  const std::optional<int64_t> from = o.from.empty() ? std::nullopt : kvd::ParseTimeText(o.from);
  const std::optional<int64_t> to = o.to.empty() ? std::nullopt : kvd::ParseTimeText(o.to);
  try {
    kvd::RealClock clock;
    kvd::HistoryStore store(clock);
    const kvd::DataFileInfo info = kvd::ReadDataFile(PathOf(o.in), store);
    const kvd::RecordRange range = kvd::RecordsBetween(store, from, to);
    if (range.Count == 0) {
      std::fprintf(stderr, "kvd-cli plot: no records to draw in %s%s\n", o.in.c_str(),
                   from || to ? " between the times given" : "");
      return 1;
    }
    const auto app = MakeOffscreenApplication();
    // The sets as the window keeps them for this user (a new user has the built-in ones).
    const kvd::SetTable sets = o.defaultSets ? kvd::DefaultSetTable()
                                             : kvd::LoadSetTable(*kvd::UserSettings::OpenDefault());
    const kvd::DataSet set = sets[static_cast<size_t>(o.set - 1)];
    const kvd::ElapsedFormatter time(kvd::LongTimePattern());  // as the panes' time labels
    kvd::RecordingPlotOptions options;
    options.Width = o.width;
    options.Height = o.height;
    options.ColorScheme = o.colors;
    options.Caption =
        QStringLiteral("%1 — %2 — %3 … %4 (%5 records)")
            .arg(QFileInfo(QString::fromUtf8(o.in.c_str())).fileName())
            .arg(set.Name)
            .arg(QString::fromStdString(time.Format(store.RecordAt(range.First)->ElapsedMs())))
            .arg(QString::fromStdString(time.Format(store.RecordAt(range.Last())->ElapsedMs())))
            .arg(range.Count);
    const QImage image = kvd::DrawRecording(store, range, set, options);
    QImageWriter writer(QString::fromUtf8(o.out.c_str()), "png");
    if (!writer.write(image)) {
      std::fprintf(stderr, "kvd-cli plot: cannot write %s: %s\n", o.out.c_str(),
                   writer.errorString().toUtf8().constData());
      return 1;
    }
    std::fprintf(stderr, "kvd-cli plot: %d of %d records drawn into %s (%dx%d, set \"%s\")\n",
                 range.Count, info.Records, o.out.c_str(), image.width(), image.height(),
                 set.Name.toUtf8().constData());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvd-cli: %s\n", e.what());
    return 1;
  }
}

#else

int RunPlot(const PlotOptions&) {
  std::fprintf(stderr,
               "kvd-cli plot: this kvd-cli was built without Qt and cannot draw; use a build "
               "with the Qt shell\n");
  return 1;
}

#endif

}  // namespace

void AddPlotCommand(CLI::App& app, int& rc) {
#ifdef KVD_CLI_PLOT
  const char* what =
      "a PNG picture of a recording: the seven panes of a data set (drawn with the Qt shell, "
      "no display needed; kvd-cli built without Qt has no plot)";
#else
  const char* what = "a PNG picture of a recording (not in this build: it was built without Qt)";
#endif
  CLI::App* cmd = app.add_subcommand("plot", what);
  auto o = std::make_shared<PlotOptions>();
  const auto time = [](const std::string& v) -> std::string {
    return kvd::ParseTimeText(v) ? std::string()
                                 : "a time is H:MM:SS[.hh], M:SS[.hh] or seconds, not " + v;
  };
  cmd->add_option("FILE", o->in, "a data file (.kdd)")->required();
  cmd->add_option("-o,--output", o->out, "the picture to write")->required()->type_name("OUT.png");
  cmd->add_option("--set", o->set,
                  "the data set whose panes are drawn, 1..10, as the diagnostic window keeps it "
                  "for this user")
      ->check(CLI::Range(1, 10));
  cmd->add_flag("--default-sets", o->defaultSets, "draw the built-in sets, not the user's");
  cmd->add_option("--from", o->from, "first time drawn (of the recording's own clock)")
      ->type_name("T")
      ->check(time);
  cmd->add_option("--to", o->to, "last time drawn")->type_name("T")->check(time);
  cmd->add_option("--width", o->width, "picture width in pixels (default 1280)")
      ->check(CLI::Range(320, 8000));
  cmd->add_option("--height", o->height, "picture height in pixels (default 960)")
      ->check(CLI::Range(240, 8000));
  cmd->add_option("--colors", o->colors, "colour scheme of the panes, 0..4 (default 1)")
      ->check(CLI::Range(0, 4));
  cmd->callback([o, &rc] { rc = RunPlot(*o); });
}

}  // namespace kvdcli
