// SPDX-License-Identifier: GPL-3.0-or-later
// What the launcher and the about window look like: captions that fit their buttons, a picture
// that is drawn, the highlight visible. With KVD_LOOK_DIR set the grabs are saved there as PNG.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>

#include "app/launcher.h"
#include "app/splash.h"

namespace kvd {
namespace {

void Save(const QImage& img, const char* name) {
  if (const char* dir = std::getenv("KVD_LOOK_DIR"))
    img.save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name));
}

class QuietServices : public LauncherServices {
 public:
  std::optional<QString> AskPort(QWidget*, const QString&, const QStringList&,
                                 const QString&) override {
    return QStringLiteral("3");
  }
  void ShowMessage(QWidget*, const QString&, QMessageBox::Icon) override {}
  void RunDiagnostics(QWidget*, const PortChoice&, int, const QString&, bool,
                      const QString&) override {}
  QString AskImportFile(QWidget*) override { return {}; }
  void ShowAbout(QWidget*) override {}
  void ShowSettings(QWidget*) override {}
  void ClosePort() override {}
};

TEST(LookTest, LauncherCaptionsFitTheirButtons) {
  QTemporaryDir dir;
  QuietServices services;
  LauncherOptions o;
  o.splashMs = 0;
  o.lockDir = dir.path();
  TMForm form(services, o);
  ASSERT_TRUE(form.FormCreate());
  form.PopMenuECUClick(1);
  form.show();
  const QImage shot = form.grab().toImage();
  Save(shot, "launcher.png");
  for (QToolButton* b : form.findChildren<QToolButton*>()) {
    if (b->text().isEmpty()) continue;
    const QFontMetrics fm(b->font());
    for (const QString& line : b->text().split(QLatin1Char('\n'))) {
      const int room = b->toolButtonStyle() == Qt::ToolButtonTextBesideIcon
                           ? b->width() - b->iconSize().width() - 16
                           : b->width() - 8;
      EXPECT_LE(fm.horizontalAdvance(line), room) << b->objectName().toStdString();
    }
  }
  // The title picture is drawn: its top-left and bottom-right differ.
  EXPECT_NE(shot.pixel(5, 5), shot.pixel(shot.width() - 5, 90));
}

TEST(LookTest, AboutPictureIsDrawnAndHighlighted) {
  TFormSplash splash;
  splash.PrepareSplash(TFormSplash::About);
  splash.show();
  const QImage shot = splash.grab().toImage();
  Save(shot, "about.png");
  const QImage plain = DrawSplashPicture();
  // The picture is not a flat fill.
  int distinct = 0;
  for (int x = 0; x < plain.width(); x += 25)
    if (plain.pixel(x, 200) != plain.pixel(0, 200)) ++distinct;
  EXPECT_GT(distinct, 5);
  // Inside the lens the about form is lighter than the plain picture.
  const QColor before(plain.pixel(300, 200));
  const QColor after(splash.Picture().pixel(300, 200));
  EXPECT_GT(after.lightness(), before.lightness());
  EXPECT_EQ(splash.Picture().pixel(300, 360), plain.pixel(300, 360));
  // No text of the picture lies under the lens, where it would be washed almost white.
  for (const QRect& area : SplashTextAreas()) {
    EXPECT_TRUE(QRect(0, 0, kSplashWidth, kSplashHeight).contains(area));
    for (int y = std::max(area.top(), kHighlightFirstRow);
         y <= std::min(area.bottom(), kHighlightLastRow); ++y)
      EXPECT_TRUE(area.right() < HighlightStart(y) || area.left() > HighlightEnd(y))
          << area.x() << "," << area.y() << " row " << y;
  }
}

}  // namespace
}  // namespace kvd
