// SPDX-License-Identifier: GPL-3.0-or-later
// What the diagnostic window looks like on-line with the ADC bar, a collapsed pane and marks.
// With KVD_LOOK_DIR set the grab is saved there as diag_window.png.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdlib>

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

}  // namespace
}  // namespace kvd::testing
