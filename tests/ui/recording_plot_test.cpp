// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of a recording: size, layout, and traces where the values put them, for short
// recordings (a point per record) and long ones (extremes per pixel column); and kvd-cli plot.
#include "ui/recording_plot.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/data_file.h"
#include "data/history.h"
#include "link/clock.h"
#include "session/cli_run.h"
#include "settings/settings_store.h"
#include "ui/frm_graph.h"

namespace kvd {
namespace {

// Set 1: engine speed [40], throttle, engine speed [10], idle valve, air flow, coolant,
// injection time.
constexpr int kThrottlePane = 1;
constexpr int kCoolantPane = 5;

QRgb TraceColor(int scheme = 1) {
  return GraphColorSchemes()[static_cast<size_t>(scheme)].Trace & 0xFFFFFF;
}

class RecordingPlotTest : public ::testing::Test {
 protected:
  // n records 250 ms apart; throttle(i) gives record i's throttle byte; coolant 90 degrees.
  template <typename F>
  void Load(int32_t n, F throttle) {
    std::vector<uint8_t> bytes(static_cast<size_t>(n) * kRecordSize, 0);
    for (int32_t i = 0; i < n; ++i) {
      uint8_t* r = bytes.data() + static_cast<size_t>(i) * kRecordSize;
      StoreLE32(r, static_cast<uint32_t>(i * 250));
      r[18] = throttle(i);
      r[16] = 130;  // 90 degrees
      r[19] = 20;   // 800 rpm
    }
    store.Load(bytes.data(), n);
  }
  // The row at which value v lies in a pane's plot.
  static int RowOf(const PlotPaneLayout& l, double v) {
    return l.Plot.top() +
           static_cast<int>(std::lround((l.TopValue - v) / (l.TopValue - l.BottomValue) *
                                        (l.Plot.bottom() - l.Plot.top())));
  }
  // Whether the trace colour is within one pixel of (x, y).
  static bool TraceNear(const QImage& image, int x, int y, QRgb color = TraceColor()) {
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy) {
        const QPoint p(x + dx, y + dy);
        if (image.rect().contains(p) && (image.pixel(p) & 0xFFFFFF) == color) return true;
      }
    return false;
  }

  VirtualClock clock;
  HistoryStore store{clock};
  DataSet set = DefaultSetTable()[0];
};

TEST_F(RecordingPlotTest, ShortRecordingTracesSitAtTheirValues) {
  Load(400, [](int32_t i) { return static_cast<uint8_t>(i < 200 ? 25 : 75); });
  std::vector<PlotPaneLayout> layout;
  RecordingPlotOptions o;
  o.Width = 1000;
  o.Height = 700;
  const QImage image = DrawRecording(store, store.AllRecords(), set, o, &layout);
  ASSERT_EQ(image.size(), QSize(1000, 700));
  ASSERT_EQ(layout.size(), 7u);
  for (const PlotPaneLayout& l : layout) {
    EXPECT_TRUE(l.Expanded);
    EXPECT_GT(l.Plot.width(), 600);
    EXPECT_GT(l.Plot.height(), 40);
    EXPECT_LT(l.Plot.right(), 1000 - TfrmGraph::kSidePanelWidth);
  }
  // Panes stacked top to bottom without overlapping.
  for (size_t i = 1; i < layout.size(); ++i)
    EXPECT_GT(layout[i].Plot.top(), layout[i - 1].Plot.bottom());

  struct Probe {
    int pane;
    double at;  // fraction of the plot width
    double value;
  };
  const std::vector<Probe> probes = {
      {kThrottlePane, 0.2, 25},
      {kThrottlePane, 0.8, 75},
      {kCoolantPane, 0.1, 90},
      {kCoolantPane, 0.9, 90},
      {0, 0.5, 800},
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(::testing::Message() << "pane " << p.pane << " at " << p.at);
    const PlotPaneLayout& l = layout[static_cast<size_t>(p.pane)];
    const int x = l.Plot.left() + static_cast<int>(p.at * l.Plot.width());
    const int y = RowOf(l, p.value);
    EXPECT_TRUE(TraceNear(image, x, y)) << x << "," << y;
    // Nothing of the trace well above or below a flat line.
    EXPECT_FALSE(TraceNear(image, x, y - 6));
    EXPECT_FALSE(TraceNear(image, x, y + 6));
  }
}

TEST_F(RecordingPlotTest, FullRecordingKeepsASingleRecordSpike) {
  // A full store at a throttle of 10 with one record at 100: a picture that kept only every
  // n-th record would lose it.
  constexpr int32_t kSpike = 612345;
  Load(kHistoryCapacity, [](int32_t i) { return static_cast<uint8_t>(i == kSpike ? 100 : 10); });
  std::vector<PlotPaneLayout> layout;
  RecordingPlotOptions o;
  o.Width = 1200;
  o.Height = 900;
  const QImage image = DrawRecording(store, store.AllRecords(), set, o, &layout);
  ASSERT_EQ(image.size(), QSize(1200, 900));
  const PlotPaneLayout& l = layout[kThrottlePane];
  const int columns = l.Plot.width() + 1;
  const int x = l.Plot.left() + static_cast<int>(int64_t{kSpike} * columns / kHistoryCapacity);
  EXPECT_TRUE(TraceNear(image, x, RowOf(l, 100))) << x;
  EXPECT_TRUE(TraceNear(image, l.Plot.left() + l.Plot.width() / 4, RowOf(l, 10)));
  // Only there does the trace reach the top.
  int high = 0;
  for (int px = l.Plot.left(); px < l.Plot.right() - 2; ++px)
    if ((image.pixel(px, RowOf(l, 100)) & 0xFFFFFF) == TraceColor()) ++high;
  EXPECT_GE(high, 1);
  EXPECT_LE(high, 3);
}

TEST_F(RecordingPlotTest, OddSizesCollapsedPanesAndEmptyRanges) {
  Load(50, [](int32_t i) { return static_cast<uint8_t>(i); });
  struct Case {
    int width, height;
    RecordRange range;
    QSize expected;
  };
  set.SlotOptions[2] = 0;     // pane 3 collapsed
  set.SlotParameter[4] = 99;  // no such parameter: the default set's one
  const std::vector<Case> cases = {
      {100, 100, store.AllRecords(), {kPlotMinWidth, kPlotMinHeight}},
      {900, 20000, RecordRange{10, 5}, {900, kPlotMaxSide}},
      {800, 600, RecordRange{60, 5}, {800, 600}},  // beyond the recording: empty panes
      {800, 600, RecordRange{49, 1}, {800, 600}},  // one record
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
    RecordingPlotOptions o;
    o.Width = c.width;
    o.Height = c.height;
    o.ColorScheme = 7;  // no such scheme: the first one
    std::vector<PlotPaneLayout> layout;
    const QImage image = DrawRecording(store, c.range, set, o, &layout);
    EXPECT_EQ(image.size(), c.expected);
    ASSERT_EQ(layout.size(), 7u);
    EXPECT_FALSE(layout[2].Expanded);
    EXPECT_TRUE(layout[3].Expanded);
  }
}

// ---- kvd-cli plot ----------------------------------------------------------------------------

TEST_F(RecordingPlotTest, PlotCommandWritesThePictureAskedFor) {
  Load(300, [](int32_t i) { return static_cast<uint8_t>(i < 150 ? 20 : 80); });
  const auto dir = std::filesystem::temp_directory_path() / "kvd_plot_command_test";
  std::filesystem::create_directories(dir);
  const std::string kdd = (dir / "rec.kdd").string();
  WriteDataFile(kdd, store, store.AllRecords());
  const std::string png = (dir / "rec.png").string();

#ifndef _WIN32
  // The command draws the user's own sets: here a store in a configuration folder of the test's
  // own, where set 2 has been renamed. No runtime folder is set, as in a script run from cron.
  // (On Windows the user's sets are in the registry, which a test leaves alone.)
  const std::filesystem::path config = dir / "config";
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(QString::fromStdString(config.string())));
  qunsetenv("XDG_RUNTIME_DIR");
  {
    SetTable sets = DefaultSetTable();
    sets[1].Name = QStringLiteral("Мой набор");
    auto user = UserSettings::OpenFile(
        QString::fromStdString((config / "KVD-Software" / "KVD-Diag.conf").string()));
    StoreSetTable(*user, sets);
    ASSERT_EQ(user->Sync(), QString());
  }
#endif
  const std::string builtInName = DefaultSetTable()[1].Name.toStdString();

  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;  // in standard error
    QSize size;           // of the picture written, when it succeeds
  };
  const std::vector<Case> cases = {
      {{"plot", kdd, "-o", png, "--width", "900", "--height", "600"}, 0, "300 of 300", {900, 600}},
      {{"plot", kdd, "-o", png, "--set", "2", "--from", "10", "--to", "0:20"},
       0,
       "41 of 300",
       {1280, 960}},
#ifndef _WIN32
      {{"plot", kdd, "-o", png, "--set", "2"}, 0, "set \"Мой набор\"", {1280, 960}},
#endif
      {{"plot", kdd, "-o", png, "--set", "2", "--default-sets"},
       0,
       "set \"" + builtInName + "\"",
       {1280, 960}},
      {{"plot", kdd, "-o", png, "--from", "2:00"}, 1, "no records", {}},
      {{"plot", (dir / "none.kdd").string(), "-o", png}, 1, "kvd-cli:", {}},
      {{"plot", kdd, "-o", (dir / "no folder" / "x.png").string()}, 1, "cannot write", {}},
      {{"plot", kdd, "-o", png, "--from", "soon"}, 2, "a time is", {}},
      {{"plot", kdd, "-o", png, "--set", "11"}, 2, "", {}},
      {{"plot", kdd, "-o", png, "--width", "100000"}, 2, "", {}},
      {{"plot", kdd}, 2, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::filesystem::remove(png);
    const auto run = testing::RunCli(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("XDG_RUNTIME_DIR"), std::string::npos) << run.err;
    if (c.exitCode != 0) {
      EXPECT_FALSE(std::filesystem::exists(png));
      continue;
    }
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png)));
    EXPECT_EQ(image.size(), c.size);
  }

  // The first picture again: both throttle levels are drawn, in the pane's trace colour, at
  // the heights the in-process drawing puts them.
  ASSERT_EQ(testing::RunCli({"plot", kdd, "-o", png, "--width", "900", "--height", "600"}).exitCode,
            0);
  QImage image;
  ASSERT_TRUE(image.load(QString::fromStdString(png)));
  std::vector<PlotPaneLayout> layout;
  RecordingPlotOptions o;
  o.Width = 900;
  o.Height = 600;
  o.Caption = QStringLiteral("caption");  // the command draws one: the panes start lower
  DrawRecording(store, store.AllRecords(), set, o, &layout);
  const PlotPaneLayout& l = layout[kThrottlePane];
  EXPECT_TRUE(TraceNear(image, l.Plot.left() + l.Plot.width() / 4, RowOf(l, 20)));
  EXPECT_TRUE(TraceNear(image, l.Plot.left() + 3 * l.Plot.width() / 4, RowOf(l, 80)));
  qunsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kvd
