// SPDX-License-Identifier: GPL-3.0-or-later
// A picture of a recording as the diagnostic window shows it: the seven panes of a data set with
// their titles, scales and time labels, over a stretch of any length, drawn offscreen into an
// image. A long stretch is reduced to the lowest and highest value of each pixel column.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <vector>

#include "data/history.h"
#include "ui/diag_sets.h"

namespace kvd {

struct RecordingPlotOptions {
  int Width = 1280;
  int Height = 960;
  int ColorScheme = 1;  // 0..4, as the panes' colour schemes
  QString Caption;      // a line above the panes; none when empty
};

// Smallest and largest picture sides accepted.
inline constexpr int kPlotMinWidth = 320;
inline constexpr int kPlotMinHeight = 240;
inline constexpr int kPlotMaxSide = 8000;

// Where a pane's plot landed in the picture: the plot area (left axis top to bottom axis, first
// to last point) and the values at its top and bottom edge.
struct PlotPaneLayout {
  bool Expanded = false;
  QRect Plot;
  double TopValue = 0.0;
  double BottomValue = 0.0;
};

// Draws the records of range (clamped to the history) in the panes of `set`, into an image of
// exactly Width x Height (each clamped to the limits above). Needs a QApplication (any
// platform, the offscreen one included); nothing is shown on a screen.
// When layout is given, it receives the seven panes' places.
QImage DrawRecording(HistoryStore& store, RecordRange range, const DataSet& set,
                     const RecordingPlotOptions& options,
                     std::vector<PlotPaneLayout>* layout = nullptr);

}  // namespace kvd
