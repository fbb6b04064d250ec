// SPDX-License-Identifier: GPL-3.0-or-later
// What the pane puts on the screen: pictures grabbed offscreen, checked pixel by pixel, and
// saved next to the build for a look.
#include <QDir>
#include <QImage>
#include <cmath>

#include "frm_graph_fixture.h"

namespace kvd::testing {
namespace {

class PaneLookTest : public PaneTest {
 protected:
  void Save(QWidget& w, const char* name) {
    const QString dir = QStringLiteral(KVD_BINARY_DIR "/pane-looks");
    QDir().mkpath(dir);
    w.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
  }
};

TEST_F(PaneLookTest, ThrottleTraceCursorAndMarks) {
  for (int i = 0; i < 60; ++i) AppendByte(12, static_cast<uint8_t>(50 + 40 * std::sin(i / 6.0)));
  auto pane = MakePane(1);
  history_.SetStartMark(40);
  history_.SetEndMark(50);
  pane->Refill();
  pane->SetCursor(25);
  const QImage img = Grab(*pane);
  Save(*pane, "throttle");
  Chart& chart = *pane->chart();
  const QRgb cursor = GraphColorSchemes()[1].Cursor;
  const QRgb marks = GraphColorSchemes()[1].Marks;
  // Cursor bar: two pixels at x - 1 and x of the cursor point (checked off the trace).
  const int cx = chart.PointPixelX(0, 25);
  const int probe_y = std::abs(chart.PointPixelY(0, 25) - chart.LeftAxisTopPixel() - 3) > 4
                          ? chart.LeftAxisTopPixel() + 3
                          : chart.BottomAxisPixel() - 3;
  EXPECT_EQ(img.pixel(cx - 1, probe_y) & 0xFFFFFF, cursor & 0xFFFFFF);
  EXPECT_EQ(img.pixel(cx, probe_y) & 0xFFFFFF, cursor & 0xFFFFFF);
  // Start mark (record 40 = point 20 of 40 points ending at 59): pixels x - 2 and x - 1.
  const int mx = chart.PointPixelX(0, 20);
  EXPECT_EQ(img.pixel(mx - 2, chart.BottomAxisPixel() - 2) & 0xFFFFFF, marks & 0xFFFFFF);
  EXPECT_EQ(img.pixel(mx - 1, chart.BottomAxisPixel() - 2) & 0xFFFFFF, marks & 0xFFFFFF);
  // The trace passes through its points; the end mark (record 50, point 30) is drawn too.
  const QRgb trace = GraphColorSchemes()[1].Trace;
  EXPECT_EQ(img.pixel(chart.PointPixelX(0, 10), chart.PointPixelY(0, 10)) & 0xFFFFFF,
            trace & 0xFFFFFF);
  EXPECT_EQ(img.pixel(chart.PointPixelX(0, 30) - 1, chart.BottomAxisPixel() - 2) & 0xFFFFFF,
            marks & 0xFFFFFF);
}

TEST_F(PaneLookTest, EveryColourSchemePaintsItsBackground) {
  for (int i = 0; i < 8; ++i) AppendByte(12, static_cast<uint8_t>(i * 10));
  auto pane = MakePane(1, 8);
  for (int s = 0; s < kGraphColorSchemeCount; ++s) {
    pane->SetColorScheme(s);
    const QImage img = Grab(*pane->chart());
    Save(*pane, (std::string("scheme") + std::to_string(s)).c_str());
    const Chart& chart = *pane->chart();
    // A pixel inside the plot, away from trace, grid, labels and cursor.
    EXPECT_EQ(img.pixel(chart.Geometry().PlotLeft() + 2, chart.BottomAxisPixel() - 1) & 0xFFFFFF,
              GraphColorSchemes()[static_cast<std::size_t>(s)].Background & 0xFFFFFF)
        << "scheme " << s;
  }
}

}  // namespace
}  // namespace kvd::testing
