// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/splash.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QRegion>
#include <QTimer>
#include "app/input_events.h"

namespace kvd {
namespace {

QImage Uniform(uint8_t v) {
  QImage img(kSplashWidth, kSplashHeight, QImage::Format_RGB888);
  img.fill(QColor(v, v, v));
  return img;
}

int Channel(const QImage& img, int x, int y, int c = 0) {
  return img.constScanLine(y)[3 * x + c];
}

TEST(SplashHighlightTest, TablesHoldTheGivenRowsAndStayLeftOfTheLensCentre) {
  EXPECT_EQ(HighlightStart(70), 229);
  EXPECT_EQ(HighlightEnd(70), 299);
  EXPECT_EQ(HighlightStart(200), 103);
  EXPECT_EQ(HighlightEnd(200), 370);
  for (int y = kHighlightFirstRow; y <= kHighlightLastRow; ++y) {
    EXPECT_LT(HighlightStart(y), 300) << y;
    EXPECT_LE(HighlightStart(y), HighlightEnd(y)) << y;
    EXPECT_LT(HighlightEnd(y), kSplashWidth) << y;
  }
  EXPECT_EQ(HighlightStart(69), 0);
  EXPECT_EQ(HighlightEnd(348), 0);
}

TEST(SplashHighlightTest, RowsOutsideTheLensAndTheStartColumnAreUnchanged) {
  QImage img = Uniform(40);
  ApplyHighlight(img);
  for (int y : {0, 35, 69, 348, 399}) {
    for (int x = 0; x < kSplashWidth; x += 7) ASSERT_EQ(Channel(img, x, y), 40) << x << "," << y;
  }
  // t = 0 at x = S[y] on even and odd rows.
  for (int y : {70, 71, 200, 201, 347}) {
    EXPECT_EQ(Channel(img, HighlightStart(y), y), 40) << y;
    EXPECT_EQ(Channel(img, HighlightStart(y) - 1, y), 40) << y;
    EXPECT_EQ(Channel(img, HighlightEnd(y) + 1, y), 40) << y;
  }
}

TEST(SplashHighlightTest, CappedColumnsMoveNineTenthsOnEvenRowsAndLessOnOddRows) {
  // Row 200: S = 103, t x t > 0.9 from x = 290 on. 255 - v = 5 gives 4.5, rounded to even 4.
  EXPECT_EQ(HighlightChannel(250, 300, 200), 254);
  EXPECT_EQ(HighlightChannel(240, 300, 200), 254);  // 13.5 -> 14
  EXPECT_EQ(HighlightChannel(230, 300, 200), 252);  // 22.5 -> 22
  EXPECT_EQ(HighlightChannel(0, 370, 200), 230);    // 229.5 -> 230
  // Odd rows move 0.9 / 1.6 = 0.5625 of the way: 8 x 0.5625 = 4.5 -> 4, 24 x 0.5625 = 13.5 -> 14.
  const int oddY = 201;
  const int x = HighlightEnd(oddY);
  ASSERT_GT(x, 290);
  EXPECT_EQ(HighlightChannel(247, x, oddY), 251);
  EXPECT_EQ(HighlightChannel(231, x, oddY), 245);
  EXPECT_EQ(HighlightChannel(255, x, oddY), 255);
  // Row 70 reaches the cap only in its last columns (t = 68/71 at x = 297).
  EXPECT_EQ(HighlightChannel(0, 297, 70), 230);
  EXPECT_EQ(HighlightChannel(0, 296, 70), 227);  // 255 x (67/71)^2 = 227.07
}

TEST(SplashHighlightTest, BelowTheCapTheMoveFollowsTSquared) {
  // Row 200, x = 103 + 197 / 2 rounded down: t = 98 / 197.
  const double t = 98.0 / 197.0;
  EXPECT_EQ(HighlightChannel(0, 201, 200), static_cast<int>(std::lround(255 * t * t)));
  EXPECT_EQ(HighlightChannel(0, 201, 201),
            static_cast<int>(std::lround(
                255 * ((201.0 - HighlightStart(201)) / (300.0 - HighlightStart(201))) *
                ((201.0 - HighlightStart(201)) / (300.0 - HighlightStart(201))) / 1.6)));
  // The whole picture is handled channel by channel.
  QImage img(kSplashWidth, kSplashHeight, QImage::Format_RGB888);
  img.fill(QColor(0, 100, 250));
  ApplyHighlight(img);
  EXPECT_EQ(Channel(img, 300, 200, 0), 230);
  EXPECT_EQ(Channel(img, 300, 200, 1), 240);  // 100 + 139.5 -> 240 (tie to even)
  EXPECT_EQ(Channel(img, 300, 200, 2), 254);
}

TEST(SplashHighlightTest, SmallOrOtherFormatPicturesAreHandledSafely) {
  QImage small(120, 80, QImage::Format_ARGB32);
  small.fill(Qt::black);
  ApplyHighlight(small);
  EXPECT_EQ(small.format(), QImage::Format_RGB888);
  EXPECT_EQ(small.width(), 120);
  QImage empty;
  ApplyHighlight(empty);
  EXPECT_TRUE(empty.isNull());
}

TEST(SplashWindowTest, OutlineHas71VerticesInsideThePicture) {
  ASSERT_EQ(kSplashOutline.size(), 71u);
  EXPECT_EQ(kSplashOutline[0], QPoint(49, 78));
  EXPECT_EQ(kSplashOutline[1], QPoint(49, 3));
  EXPECT_EQ(kSplashOutline[2], QPoint(499, 3));
  EXPECT_EQ(kSplashOutline[3], QPoint(499, 353));
  int minX = 1000, maxX = 0, minY = 1000, maxY = 0;
  for (const QPoint& p : kSplashOutline) {
    minX = std::min(minX, p.x());
    maxX = std::max(maxX, p.x());
    minY = std::min(minY, p.y());
    maxY = std::max(maxY, p.y());
  }
  EXPECT_EQ(minX, 15);
  EXPECT_EQ(maxX, 499);
  EXPECT_EQ(minY, 3);
  EXPECT_EQ(maxY, 392);

  TFormSplash splash;
  const QRegion mask = splash.mask();
  EXPECT_TRUE(mask.contains(QPoint(250, 200)));
  EXPECT_FALSE(mask.contains(QPoint(5, 5)));      // left of the notch
  EXPECT_FALSE(mask.contains(QPoint(250, 398)));  // below the bottom edge
  EXPECT_EQ(splash.size(), QSize(kSplashWidth, kSplashHeight));
}

TEST(SplashWindowTest, StartUpFormIgnoresClicksAndEsc) {
  TFormSplash splash;
  splash.ShowSplash(TFormSplash::StartUp);
  ASSERT_TRUE(splash.isVisible());
  EXPECT_FALSE(splash.VersionLabel()->isVisible());
  EXPECT_EQ(splash.Picture(), DrawSplashPicture());
  test::SendClick(&splash, QPoint(250, 200));
  test::SendKey(&splash, Qt::Key_Escape);
  EXPECT_TRUE(splash.isVisible());
}

TEST(SplashWindowTest, AboutFormIsHighlightedAndClosesOnEscOrClick) {
  for (int way = 0; way < 2; ++way) {
    TFormSplash splash;
    bool wasVisible = false;
    QImage expected = DrawSplashPicture();
    ApplyHighlight(expected);
    QTimer::singleShot(0, &splash, [&] {
      wasVisible = splash.isVisible() && splash.VersionLabel()->isVisible();
      EXPECT_EQ(splash.Picture(), expected);
      if (way == 0)
        test::SendKey(&splash, Qt::Key_Escape);
      else
        test::SendClick(&splash, QPoint(250, 200));
    });
    // Guard: a window that does not close would hang the test.
    QTimer::singleShot(3000, &splash, [&] { splash.done(99); });
    splash.ShowSplash(TFormSplash::About);
    EXPECT_TRUE(wasVisible);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_NE(splash.result(), 99) << "way " << way;
    EXPECT_EQ(splash.VersionLabel()->geometry().right(), 479);
  }
}

}  // namespace
}  // namespace kvd
