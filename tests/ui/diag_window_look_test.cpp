// SPDX-License-Identifier: GPL-3.0-or-later
// What the diagnostic window looks like on-line with the ADC bar, a collapsed pane and marks.
// With KVD_LOOK_DIR set the grab is saved there as diag_window.png.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdlib>

#include "ui/chart.h"
#include "ui/frm_graph.h"

#include "diag_window_fixture.h"

namespace kvd::testing {
namespace {

TEST_F(DiagWindowTest, OnLineWindowDrawsIndicatorBarsAndPanes) {
  TFormDiagJ5E2& w = Open();
  Connect();
  w.Action("miADC")->trigger();
  w.Pane(3)->SetGraphShown(false);
  w.LayOutPanes();
  Ticks(60);
  ASSERT_TRUE(w.History().SetStartMark(30));
  ASSERT_TRUE(w.History().SetEndMark(45));
  w.Pane(0)->OnSelectionChanged(*w.Pane(0));
  QApplication::processEvents();
  const QImage shot = w.grab().toImage();
  if (const char* dir = std::getenv("KVD_LOOK_DIR"))
    shot.save(QString::fromLocal8Bit(dir) + QStringLiteral("/diag_window.png"));

  // The link icon is the green one of the on-line state.
  const QPoint icon = w.StatusBarPanel(0)->mapTo(&w, QPoint(4 + 3, 4 + 8));
  const QColor c(shot.pixel(icon));
  EXPECT_GT(c.green(), 150);
  EXPECT_LT(c.red(), 100);
  // Every pane has its own strip, none overlaps the next or the bars.
  for (int i = 0; i + 1 < kPaneCount; ++i)
    EXPECT_EQ(w.Pane(i)->geometry().bottom() + 1, w.Pane(i + 1)->y()) << i;
  EXPECT_LE(w.Pane(6)->geometry().bottom(), w.PanelADC()->y());
  EXPECT_EQ(w.Pane(3)->height(), 30);
  // The ADC texts are filled and the pane backgrounds are drawn in the scheme's black.
  EXPECT_FALSE(w.AdcText(kAdcMaf).isEmpty());
  const QPoint inChart = w.Pane(0)->mapTo(&w, QPoint(200, 20));
  EXPECT_LT(QColor(shot.pixel(inChart)).lightness(), 80);
}

// A fresh window draws no trace at all, and the first records appear without a line coming in
// from the left.
TEST_F(DiagWindowTest, FreshWindowDrawsNoTraceLeftOfTheFirstRecord) {
  TFormDiagJ5E2& w = Open();
  const auto trace_pixels_left_of = [&](int ticks_shown) {
    int pixels = 0;
    for (int i = 0; i < kPaneCount; ++i) {
      TfrmGraph& pane = *w.Pane(i);
      if (!pane.GraphShown()) continue;
      const QImage img = pane.chart()->grab().toImage();
      const QRgb trace = GraphColorSchemes()[static_cast<size_t>(pane.ColorScheme())].Trace;
      const int first = pane.PointCount() - ticks_shown;
      const int right =
          ticks_shown == 0 ? img.width() - 1 : pane.chart()->PointPixelX(0, first) - 2;
      for (int x = 0; x <= right; ++x)
        for (int y = 0; y < img.height(); ++y)
          pixels += (img.pixel(x, y) & 0xFFFFFF) == (trace & 0xFFFFFF);
    }
    return pixels;
  };
  EXPECT_EQ(trace_pixels_left_of(0), 0);
  Connect();
  Ticks(3);
  QApplication::processEvents();
  EXPECT_EQ(trace_pixels_left_of(3), 0);
  EXPECT_EQ(w.Pane(0)->PointRecord(w.Pane(0)->PointCount() - 3), 0);
}

}  // namespace
}  // namespace kvd::testing
